// A connection's article fetch fed whatever a server may answer: it never crashes, and
// every part it is given ends exactly once (stored, not here, failed) or comes back when
// the connection goes; it never sends more than a bounded number of commands for a part.
#include "FuzzSupport.h"
#include "download/ArticleFetch.h"
#include "nntp/ReplyFramer.h"
#include <map>

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const int jobs = 1 + data[0] % 4;
    const int known = data[1];
    const QByteArray in(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    ArticleFetch::Groups groups;
    if (known & 1) groups.carried.insert("g1");
    if (known & 2) groups.notCarried.insert("g2");
    ArticleFetch f;
    f.start(&groups);
    std::vector<ArticleFetch::Action> acts;
    const QByteArrayList lists[] = {{"g1"}, {"g2", "g1"}, {}, {"g3", "g2"}};
    for (int k = 1; k <= jobs; ++k) {
        FetchJob j;
        j.item = ItemRef{k, 1};
        j.part = k;
        j.messageId = "<" + QByteArray::number(k) + "@x>";
        j.number = (known & 4) ? k : 0;
        j.groups = lists[k % 4];
        f.add(std::move(j), acts);
    }
    ReplyFramer fr;
    fr.feed(in);
    Reply r;
    bool lost = false, loginOver = false;
    int replies = 0;
    while (!lost && fr.next(r)) {
        if (!f.expecting()) break;
        f.take(r, acts);
        if (++replies % 5 == 0 && !loginOver) {
            f.resume(acts);
            loginOver = true;
        }
        for (const auto &a : acts) lost = lost || a.kind == ArticleFetch::Action::Lost;
    }
    std::map<int, int> ended;
    int sends = 0;
    for (const auto &a : acts) {
        if (a.kind == ArticleFetch::Action::Send) ++sends;
        if (a.kind == ArticleFetch::Action::Store || a.kind == ArticleFetch::Action::NotHere || a.kind == ArticleFetch::Action::Failed)
            ++ended[a.job.part];
    }
    for (auto [part, n] : ended) FUZZ_CHECK(n == 1 && part >= 1 && part <= jobs);
    const std::vector<FetchJob> back = f.takeBack();
    FUZZ_CHECK(int(back.size() + ended.size()) == jobs);
    for (const FetchJob &j : back) FUZZ_CHECK(!ended.count(j.part));
    // GROUP, by id, by number for each listed group, a login's repeat: never more.
    FUZZ_CHECK(sends <= jobs * 16);
    return 0;
}
