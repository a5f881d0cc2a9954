#pragma once
// Texts of an item as the lists show them (the header list and the batch list).
#include <QByteArray>
#include <QString>

namespace vt {

struct HeaderItem;

// The item's name without the part-total marker the scan appended.
QByteArray itemDisplayName(const HeaderItem &it);
// Bytes as MB, "000.000" (zero-padded so that text order is size order).
QString mbText(qint64 bytes);
// A life percentage as "07%", or "need scan" for -1.
QString lifeText(int life);

} // namespace vt
