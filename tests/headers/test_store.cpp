// The item store and its index: filing rules, duplicates, slots, and the index checked
// against a plain implementation of the 431-bucket table.
#include "download/BatchQueue.h"
#include "headers/HeaderStore.h"
#include "headers/SubjectParser.h"
#include "headers/ItemText.h"
#include "core/Text.h"
#include <gtest/gtest.h>
#include <random>

using namespace vt;

namespace {
void file(HeaderStore &s, const QByteArray &subject, qint32 n, quint8 group = 1, const QByteArray &poster = "Jane",
          const QByteArray &bytes = "1000")
{
    const ParsedSubject p = parseSubject(subject);
    ++s.partsReadTotal;
    s.maketree(p.name, trimBlanks(subject), n, p.total, bytes, group, poster, "12 Mar 2002", "<" + QByteArray::number(n) + "@x>");
}
} // namespace

TEST(HashIndex, BucketsOfTheOriginalTable)
{
    EXPECT_EQ(getHashInd("My.Pictures.rar [xx/0000015]", "Jane"), 326);
    EXPECT_EQ(getHashInd("", ""), 0);
    EXPECT_EQ(SumHstr("  abc  "), 'a');
    EXPECT_EQ(SumHstr("a b"), 'b');
}

TEST(HeaderStore, FilingDuplicatesAndPosters)
{
    HeaderStore s;
    file(s, "My.Pictures.rar (01/15)", 100);
    file(s, "My.Pictures.rar (01/15)", 100);   // same article again
    EXPECT_EQ(s.itemCount(), 1);
    EXPECT_EQ(s.item(1).parts.size(), 1u);
    EXPECT_EQ(s.partsReadTotal, 2);
    file(s, "My.Pictures.rar (02/15)", 101);
    ASSERT_EQ(s.item(1).parts.size(), 2u);
    EXPECT_EQ(s.item(1).subject, "My.Pictures.rar [xx/0000015]");
    EXPECT_EQ(s.item(1).declaredTotal, 15);
    EXPECT_EQ(s.item(1).parts[1].subjectTail(), " (02/15)");
    // The same counted article seen in another group under another number: not stored.
    file(s, "My.Pictures.rar (02/15)", 555, 2);
    EXPECT_EQ(s.item(1).parts.size(), 2u);
    // Another poster: its own item.
    file(s, "My.Pictures.rar (03/15)", 102, 1, "Bob");
    EXPECT_EQ(s.itemCount(), 2);
    EXPECT_EQ(s.item(2).poster, "Bob");
    // Uncounted subject from the same poster in a second group: a second part.
    file(s, "A long uncounted subject line", 200, 1);
    file(s, "A long uncounted subject line", 300, 2);
    EXPECT_EQ(s.item(3).parts.size(), 2u);
    file(s, "A long uncounted subject line", 301, 2);
    EXPECT_EQ(s.item(3).parts.size(), 2u) << "same full subject in the same group";
}

TEST(HeaderStore, PostersSharingABucketStayApart)
{
    // Two posters whose (name, poster) pairs land in the same bucket: each keeps one item.
    HeaderStore s;
    const QByteArray a = "Jane", b = "Jxne";   // same first character: same bucket
    ASSERT_EQ(getHashInd("Post [xx/0000015]", a), getHashInd("Post [xx/0000015]", b));
    for (int k = 1; k <= 15; ++k) {
        file(s, "Post (" + QByteArray::number(k) + "/15)", 1000 + k, 1, a);
        file(s, "Post (" + QByteArray::number(k) + "/15)", 2000 + k, 1, b);
    }
    EXPECT_EQ(s.itemCount(), 2);
    EXPECT_EQ(s.item(1).parts.size(), 15u);
    EXPECT_EQ(s.item(2).parts.size(), 15u);
}

// The index of items by name doubles a little at a time: every post is found, and every
// part joins its post, while entries sit in the old table, the new one or both.
TEST(HeaderStore, EveryPostIsFoundWhileTheIndexGrows)
{
    HeaderStore s;
    for (int i = 1; i <= 20000; ++i) {
        file(s, "post " + QByteArray::number(i) + " (1/2)", 2 * i);
        ASSERT_EQ(s.itemCount(), i);
        // An earlier post's second part, wherever its entry is now.
        const int back = std::max(1, i / 3);
        if (s.item(back).parts.size() < 2) file(s, "post " + QByteArray::number(back) + " (2/2)", 2 * back + 1);
        ASSERT_EQ(s.itemCount(), i) << "a part made a post of its own at " << i;
    }
    for (int i = 1; i <= 20000; ++i) ASSERT_EQ(s.FindHash(s.item(i).subject, s.item(i).poster), i) << i;
    EXPECT_EQ(s.FindHash("post 20001 [xx/0000002]", "Jane"), -1);
}

TEST(HeaderStore, SlotsCapacityAndDeletedItems)
{
    HeaderStore s;
    for (int i = 1; i <= 1001; ++i) file(s, "single " + QByteArray::number(i) + " post", i);
    EXPECT_EQ(s.itemCount(), 1001);
    EXPECT_EQ(s.itemCapacity(), 2000);
    EXPECT_EQ(s.item(1000).subject, "single 1000 post");
    // A deleted (not reusable) item still takes its new parts, hidden.
    s.item(5).deleted = true;
    file(s, "single 5 post", 9005);
    EXPECT_EQ(s.item(5).parts.size(), 2u);
    EXPECT_TRUE(s.item(5).deleted);
    // Reusable slots at 3 and 7; 3 is still in the batch, so the batch would fetch another
    // post under it: never handed out. A deleted item never enters the batch either.
    s.item(3).deleted = s.item(3).reusable = s.item(3).inBatch = true;
    s.item(7).deleted = s.item(7).reusable = true;
    s.freeSlotCount = 1;
    EXPECT_EQ(s.FindFreeItemSlot(), 7);
    BatchQueue batch(s);
    batch.AddToBatch(7);
    EXPECT_TRUE(batch.rows().empty());
    EXPECT_FALSE(s.item(7).inBatch);
    file(s, "brand new", 5000);
    EXPECT_EQ(s.item(7).subject, "brand new");
    EXPECT_EQ(s.item(7).parts.size(), 1u);
    EXPECT_FALSE(s.item(7).deleted);
    EXPECT_EQ(s.itemCount(), 1001);
    file(s, "brand newer", 5001);
    EXPECT_EQ(s.itemCount(), 1002);
    // The old name of slot 7 no longer finds it.
    EXPECT_EQ(s.FindHash("single 7 post", "Jane"), -1);
    EXPECT_EQ(s.FindHash("brand new", "Jane"), 7);
}

TEST(HeaderStore, WatchHookOnCompletion)
{
    HeaderStore s;
    QList<int> queued;
    s.watchEnabled = true;
    s.watchMatches = [](int) { return true; };
    s.addToBatch = [&](int i) { queued << i; };
    file(s, "file.jpg (1/1)", 1);
    EXPECT_EQ(queued, QList<int>({1}));
    file(s, "two (1/2)", 2);
    EXPECT_EQ(queued.size(), 1);
    file(s, "two (2/2)", 3);
    EXPECT_EQ(queued, QList<int>({1, 2}));
    file(s, "no counter at all", 4);
    EXPECT_EQ(queued.size(), 2);
}

TEST(HeaderStore, ItemState)
{
    HeaderStore s;
    auto make = [&](int total, int parts, const QByteArray &tailExtra = {}, qint32 bytes = 1000) {
        HeaderItem it;
        it.subject = "name.bin" + (total ? totalMarker(total) : QByteArray());
        it.declaredTotal = qint16(total);
        for (int k = 0; k < parts; ++k) {
            PartRecord p;
            p.byteCount = bytes;
            s.setTexts(p, " (" + QByteArray::number(k + 1) + "/" + QByteArray::number(total) + ")" + (k == 0 ? tailExtra : QByteArray()), {});
            it.parts.push_back(p);
        }
        return itemStateKey(s.itemState(s.appendLoadedItem(it)));
    };
    EXPECT_EQ(make(15, 15, " (00/15)"), "incomplete");
    EXPECT_EQ(make(15, 15, " (0/150)"), "incomplete");
    EXPECT_EQ(make(15, 15), "complete");
    EXPECT_EQ(make(15, 16), "complete");
    EXPECT_EQ(make(15, 17), "unknown");
    EXPECT_EQ(make(15, 14), "incomplete");
    EXPECT_EQ(make(0, 1, {}, 9999), "text");
    EXPECT_EQ(make(0, 1, {}, 10000), "complete");
    EXPECT_EQ(make(0, 2, {}, 10), "unknown");
    EXPECT_EQ(make(1, 1, " (0/1)"), "complete");
    HeaderItem nfo;
    nfo.subject = "readme.nfo";
    nfo.parts.resize(1);
    EXPECT_EQ(s.itemState(s.appendLoadedItem(nfo)), ItemState::Complete);
    HeaderItem bare;   // parts without texts: nothing to search, still whole
    bare.subject = "x [xx/0000002]";
    bare.declaredTotal = 2;
    bare.parts.resize(2);
    EXPECT_EQ(s.itemState(s.appendLoadedItem(bare)), ItemState::Complete);
    HeaderItem queued;
    queued.subject = "x [xx/0000009]";
    queued.declaredTotal = 9;
    queued.parts.resize(2);
    queued.inBatch = true;
    EXPECT_EQ(itemStateKey(s.itemState(s.appendLoadedItem(queued))), "iteminbatch");

    // A slot given to another post of as many parts is looked at again.
    HeaderStore r;
    auto post = [&](const QByteArray &name, const QByteArray &firstCounter) {
        for (int k = 1; k <= 3; ++k)
            r.maketree(name + " [xx/0000003]", name + (k == 1 ? firstCounter : " (" + QByteArray::number(k) + "/3)"), qint32(r.totalParts() + 1),
                       "3", "100", 1, "Jane", "", "<" + name + QByteArray::number(k) + "@x>");
    };
    post("zero", " (00/03)");
    ASSERT_EQ(r.itemState(1), ItemState::Incomplete);
    r.item(1).deleted = r.item(1).reusable = true;
    r.freeSlotCount = 1;
    post("whole", " (1/3)");
    ASSERT_EQ(r.item(1).subject, "whole [xx/0000003]");
    EXPECT_EQ(r.itemState(1), ItemState::Complete);
}

// The original rule, with the poster compared: 431 buckets scanned in insertion order.
struct PlainIndex {
    std::vector<std::vector<int>> buckets = std::vector<std::vector<int>>(431);
    void add(const QByteArray &n, const QByteArray &p, int i) { buckets[size_t(getHashInd(n, p))].push_back(i); }
    int find(const HeaderStore &s, const QByteArray &n, const QByteArray &p) const
    {
        for (int e : buckets[size_t(getHashInd(n, p))])
            if (s.item(e).subject == n && s.item(e).poster == p) return e;
        return -1;
    }
};

TEST(HeaderStore, IndexAgreesWithThePlainBucketTable)
{
    std::mt19937 rng(11);
    HeaderStore s;
    PlainIndex plain;
    const char *posters[] = {"Jane", "Jxne", "Bob", "bob", "Al", "A l"};
    int lastCount = 0;
    for (int step = 0; step < 20000; ++step) {
        const QByteArray name = QByteArray("P") + char('a' + rng() % 5) + " " + char('A' + rng() % 3) + QByteArray::number(rng() % 40)
                                + totalMarker(10);
        const QByteArray poster = posters[rng() % 6];
        EXPECT_EQ(s.FindHash(name, poster), plain.find(s, name, poster));
        s.maketree(name, name, qint32(step + 1), "10", "5", 1, poster, "", "<m>");
        if (s.itemCount() != lastCount) {
            plain.add(name, poster, s.itemCount());
            lastCount = s.itemCount();
        }
        if (rng() % 500 == 0 && s.itemCount() > 3) {
            // Free a slot now and then, so reuse is part of the comparison.
            const int v = 1 + int(rng() % uint32_t(s.itemCount()));
            s.item(v).deleted = s.item(v).reusable = true;
            ++s.freeSlotCount;
            const int before = s.itemCount();
            s.maketree("reuse " + QByteArray::number(step), "r", qint32(900000 + step), "", "1", 1, "Jane", "", "<r>");
            if (s.itemCount() == before) plain.add("reuse " + QByteArray::number(step), "Jane", s.FindHash("reuse " + QByteArray::number(step), "Jane"));
            else plain.add("reuse " + QByteArray::number(step), "Jane", s.itemCount());
            lastCount = s.itemCount();
        }
    }
    EXPECT_GT(s.itemCount(), 500);

    // Enough posts that some share the index's 32-bit key: each is still found as itself.
    HeaderStore big;
    for (int i = 1; i <= 300000; ++i) {
        const QByteArray name = "post " + QByteArray::number(i) + totalMarker(1);
        big.maketree(name, name, i, "1", "5", 1, "Jane", "", "<m>");
    }
    ASSERT_EQ(big.itemCount(), 300000);
    for (int i = 1; i <= 300000; ++i) ASSERT_EQ(big.FindHash("post " + QByteArray::number(i) + totalMarker(1), "Jane"), i) << i;
    EXPECT_EQ(big.FindHash("post 300001" + totalMarker(1), "Jane"), -1);
}

TEST(HeaderStore, LongItemsUseThePartIndexWithTheSameResults)
{
    HeaderStore s;
    for (int k = 1; k <= 1000; ++k) file(s, "Big post - \"x.bin\" yEnc (" + QByteArray::number(k) + "/1000)", 10000 + k);
    for (int k = 1; k <= 1000; ++k) file(s, "Big post - \"x.bin\" yEnc (" + QByteArray::number(k) + "/1000)", 10000 + k);
    for (int k = 1; k <= 1000; ++k) file(s, "Big post - \"x.bin\" yEnc (" + QByteArray::number(k) + "/1000)", 50000 + k, 2);
    ASSERT_EQ(s.itemCount(), 1);
    EXPECT_EQ(s.item(1).parts.size(), 1000u);
    EXPECT_EQ(s.item(1).parts.capacity(), 1000u);   // a whole post fills its block exactly
    EXPECT_EQ(s.itemState(1), ItemState::Complete);

    // A post that declares far more parts than it brings costs what it brings, and its
    // duplicates are still found while its index grows.
    file(s, "Liar - \"y.bin\" yEnc (1/30000)", 90000);
    ASSERT_EQ(s.itemCount(), 2);
    EXPECT_LE(s.item(2).parts.capacity(), 64u);
    for (int round = 0; round < 2; ++round)
        for (int k = 2; k <= 300; ++k) file(s, "Liar - \"y.bin\" yEnc (" + QByteArray::number(k) + "/30000)", 90000 + k);
    EXPECT_EQ(s.item(2).parts.size(), 300u);
    EXPECT_LE(s.item(2).parts.capacity(), 600u);
}

TEST(HeaderStore, PartTextsOutliveTheirInputAndShareFrames)
{
    // The texts of a filed part are the store's own, not the burst's they came from.
    HeaderStore s;
    {
        QByteArray burst = "Some post (1/2)|<abc@x>";
        const QByteArray subject = QByteArray::fromRawData(burst.constData(), 15);
        const QByteArray msgid = QByteArray::fromRawData(burst.constData() + 16, 7);
        s.maketree("Some post [xx/0000002]", subject, 1, "2", "1", 1, QByteArray::fromRawData("Jane", 4), "", msgid);
        burst.fill('#');
    }
    for (int i = 0; i < 3000; ++i)   // more than one arena chunk
        s.maketree("p" + QByteArray::number(i), QByteArray(500, 'y'), i + 10, "", "1", 1, "Jane", "", QByteArray(400, 'z'));
    EXPECT_EQ(s.item(1).parts[0].messageId(), "<abc@x>");
    EXPECT_EQ(s.item(1).parts[0].subjectTail(), " (1/2)");
    EXPECT_EQ(s.item(1).poster, "Jane");
    EXPECT_EQ(s.item(3001).parts[0].messageId(), QByteArray(400, 'z'));
    s.clear();
    EXPECT_EQ(s.itemCount(), 0);
    s.maketree("again", "again", 1, "", "1", 1, "Jane", "", "<a@x>");
    EXPECT_EQ(s.item(1).parts[0].messageId(), "<a@x>");

    // One post's ids as posters make them: a shared start and end, then a poster that
    // changes its scheme, ids inside a frame's length, an empty one and a very long one.
    s.clear();
    std::vector<QByteArray> ids;
    for (int k = 1; k <= 40; ++k) ids.push_back("<part" + QByteArray::number(k) + "of60.Qx7bTzAbCdEf@powerpost2000AA.local>");
    ids.insert(ids.end(), {"<1a2b3c4d5e$1@news.example.net>", "<ffee$1@news.example.net>", "<$1@news.example.net>", "<x>", "",
                           '<' + QByteArray(600, 'q') + "$1@news.example.net>", "<9$1@news.example.net>", "<8$1@news.example.net>"});
    for (size_t k = 0; k < ids.size(); ++k)
        s.maketree("Framed post [xx/0000060]", "Framed post (" + QByteArray::number(k + 1) + "/60)", qint32(k + 1), "60", "1", quint8(k % 3 + 1),
                   "Jane", "", ids[k]);
    ASSERT_EQ(s.item(1).parts.size(), ids.size());
    for (size_t k = 0; k < ids.size(); ++k) {
        const PartRecord &p = s.item(1).parts[k];
        EXPECT_EQ(p.messageId(), ids[k]) << k;
        EXPECT_EQ(p.groupKey(), k % 3 + 1) << k;
        EXPECT_EQ(p.subjectTail(), " (" + QByteArray::number(k + 1) + "/60)") << k;
    }
}
