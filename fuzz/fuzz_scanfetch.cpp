// A scan connection's replies from outside, cut anywhere, through its machine and the plan:
// each task asked for is answered once (lines or nothing) or comes back, never both, never
// twice; the plan's mark never passes a task that was not answered.
#include "FuzzSupport.h"
#include "nntp/ReplyFramer.h"
#include "scan/OverviewFetch.h"
#include "scan/ScanPlan.h"
#include <map>

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const bool xzver = data[0] & 1;
    const size_t step = 1 + (data[0] >> 1) % 61;
    const QByteArray in(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    ScanPlan plan;
    plan.start(0, 50, 10);
    OverviewFetch f;
    f.start("alt.g", xzver);
    std::vector<OverviewFetch::Action> acts;
    ScanTask t;
    while (f.inFlight() < 3 && plan.next(&t)) f.add(t, acts);
    std::map<qint32, int> answered;
    bool lost = false;
    ReplyFramer framer;
    Reply r;
    for (qsizetype p = 0; p < in.size() && !lost; p += qsizetype(step)) {
        framer.feed(in.constData() + p, std::min<qsizetype>(qsizetype(step), in.size() - p));
        while (!lost && framer.next(r)) {
            if (!f.expecting()) break;
            acts.clear();
            f.take(r, acts);
            std::vector<OverviewFetch::Action> more;   // what the answers make it send
            for (const OverviewFetch::Action &a : acts) {
                if (a.kind == OverviewFetch::Action::Burst || a.kind == OverviewFetch::Action::Empty) {
                    FUZZ_CHECK(++answered[a.task.from] == 1);
                    plan.filed(a.task);
                    if (plan.next(&t)) f.add(t, more);
                }
                if (a.kind == OverviewFetch::Action::LoginWanted) f.resume(more);
                lost |= a.kind == OverviewFetch::Action::Lost || a.kind == OverviewFetch::Action::Damaged;
            }
        }
    }
    for (const ScanTask &b : f.takeBack()) {
        FUZZ_CHECK(answered.count(b.from) == 0);
        plan.giveBack(b);
    }
    FUZZ_CHECK(plan.mark() <= 50);
    for (qint32 from = 1; from <= plan.mark(); from += 10) FUZZ_CHECK(answered.count(from) == 1);
    return 0;
}
