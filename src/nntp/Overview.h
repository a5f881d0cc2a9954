#pragma once
// What an answer to XOVER or XZVER means, for the scan connection and the scan pool alike:
// the overview lines (an XZVER reply unpacked to what XOVER gives), nothing in the range,
// or anything else for the conversation's own table. A multi-line answer to an overview
// request is taken as its lines, whatever its code.
#include "ReplyFramer.h"
#include <QString>

namespace vt {

enum class OverviewAnswer {
    Lines,     // lines: the overview, as XOVER sends it
    Nothing,   // 420 or 423: no article in the range asked for
    Damaged,   // why: an XZVER reply that does not unpack
    Other,     // not an overview answer
};

// xzver: the request was XZVER, so its lines come packed.
OverviewAnswer overviewAnswer(const Reply &r, bool xzver, QByteArray *lines, QString *why = nullptr);

} // namespace vt
