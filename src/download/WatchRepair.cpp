#include "WatchRepair.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbImport.h"
#include <map>
#include <set>

namespace vt {

bool isRecoveryVolume(const HeaderItem &it) { return par2KindOf(fileNameOfItem(it)) == Par2Kind::Volume; }

namespace {

// The files of one post share the poster and the subject but for the file's name and
// its number and size in the post: "[07/44] - "x.part07.rar" yEnc (1/90)" and
// "[44/44] - "x.vol3+4.par2" yEnc (1/3)".
QByteArray postKey(const HeaderItem &it)
{
    // Without the count of the item's own parts (" [xx/0000044]").
    QByteArray s = it.subject.contains(" [xx/") ? it.prefix() : it.subject;
    const qsizetype open = s.indexOf('"'), close = open < 0 ? -1 : s.indexOf('"', open + 1);
    if (close > open) s.remove(open, close - open + 1);
    QByteArray key = it.poster + '\n';
    for (qsizetype i = 0; i < s.size();) {
        qsizetype j = i;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
        if (j > i && j < s.size() && s[j] == '/') {
            i = j;   // a file's number in the post
            continue;
        }
        if (j == i) ++j;
        key += s.mid(i, j - i);
        i = j;
    }
    return key;
}

bool whole(const HeaderItem &it) { return it.declaredTotal > 0 && qint64(it.parts.size()) >= it.declaredTotal; }

qint64 bytesOf(const HeaderItem &it)
{
    qint64 n = 0;
    for (const PartRecord &p : it.parts) n += p.byteCount;
    return n;
}

} // namespace

std::vector<int> itemsWorthRepair(const HeaderStore &store, const std::function<bool(int)> &watched)
{
    struct Post {
        std::vector<int> wanted;
        qint64 missing = 0, recovery = 0;
        bool index = false, par2Whole = true;
    };
    std::map<QByteArray, Post> posts;
    for (int i = 1; i <= store.itemCount(); ++i) {
        const HeaderItem &it = store.item(i);
        if (it.deleted || it.inBatch || it.parts.empty() || it.declaredTotal <= 0 || whole(it) || !watched(i)) continue;
        Post &p = posts[postKey(it)];
        p.wanted.push_back(i);
        int largest = 0;
        for (const PartRecord &r : it.parts) largest = std::max(largest, int(r.byteCount));
        p.missing += qint64(it.declaredTotal - qint64(it.parts.size())) * largest;
    }
    if (posts.empty()) return {};
    for (int i = 1; i <= store.itemCount(); ++i) {
        const HeaderItem &it = store.item(i);
        if (it.deleted) continue;
        const Par2Kind kind = par2KindOf(fileNameOfItem(it));
        if (kind == Par2Kind::None) continue;
        auto p = posts.find(postKey(it));
        if (p == posts.end()) continue;
        if (!whole(it)) p->second.par2Whole = false;
        else if (kind == Par2Kind::Index) p->second.index = true;
        else p->second.recovery += bytesOf(it);
    }
    std::vector<int> out;
    for (const auto &[key, p] : posts)
        if (p.index && p.par2Whole && p.missing <= p.recovery) out.insert(out.end(), p.wanted.begin(), p.wanted.end());
    return out;
}

} // namespace vt
