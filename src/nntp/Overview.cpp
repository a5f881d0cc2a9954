#include "Overview.h"
#include "ReplyKind.h"
#include "Xzver.h"

namespace vt {

OverviewAnswer overviewAnswer(const Reply &r, bool xzver, QByteArray *lines, QString *why)
{
    const ReplyKind k = replyKind(r.code);
    if (!r.multiline) return k == ReplyKind::NoCurrentArticle || k == ReplyKind::NoSuchNumber ? OverviewAnswer::Nothing : OverviewAnswer::Other;
    if (xzver) return xzverToOverview(r.data, lines, why) ? OverviewAnswer::Lines : OverviewAnswer::Damaged;
    *lines = r.data;
    return OverviewAnswer::Lines;
}

} // namespace vt
