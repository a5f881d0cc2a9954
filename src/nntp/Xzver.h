#pragma once
// XZVER, as some providers offer it beside XOVER: the same overview lines, raw-deflated
// and then yEnc-encoded in a multi-line reply. Turned back into the reply XOVER would have
// given, so the scan reads both alike.
#include <QByteArray>
#include <QString>

namespace vt {

// False, with why, when the reply cannot be what XZVER sends (no yEnc, a CRC or size that
// does not match, a stream that does not inflate).
bool xzverToOverview(const QByteArray &reply, QByteArray *overview, QString *why = nullptr);

} // namespace vt
