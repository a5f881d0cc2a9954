// The batch list and the texts around a download: sizes, life, the four moves, article
// cleaning before the cache, and the speed and time texts.
#include "EngineRig.h"
#include "Posts.h"
#include "core/AppCore.h"
#include "download/Decoder.h"
#include "download/ArticleText.h"
#include "download/BatchQueue.h"
#include "download/DownloadDriver.h"
#include "nzb/NzbImport.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include <gtest/gtest.h>

using namespace vt;

namespace {

struct BatchRig : vt::test::StoreRig {
    quint8 key = 0;

    BatchRig()
    {
        groups.addGroup("alt.binaries.test");
        groups.addGroup("alt.binaries.other");
        key = quint8(groups.rowKey(1));
    }
    // An item of `parts` parts, each `bytes` long, first article `number`.
    int item(const QByteArray &name, int parts, int bytes, int number = 100, int groupRow = 1)
    {
        const QByteArray marker = " [xx/" + QByteArray::number(parts).rightJustified(7, '0') + "]";
        for (int k = 1; k <= parts; ++k)
            store.maketree(name + marker, name + " (" + QByteArray::number(k) + "/" + QByteArray::number(parts) + ")",
                           number + k - 1, QByteArray::number(parts), QByteArray::number(bytes), quint8(groups.rowKey(groupRow)),
                           name + "@poster", "Mon, 07 Dec 2026 12:00:00 +0000", "<" + name + QByteArray::number(k) + ">");
        return store.itemCount();
    }
    QString names() const
    {
        QString s;
        for (int i = 0; i < batch.batchRows(); ++i) s += batch.cellText(i, BatchQueue::Subject);
        return s;
    }
};

} // namespace

TEST(Batch, SizesLifeAndRows)
{
    BatchRig r;
    const int a = r.item("big", 1, 1234567, 100);
    const int b = r.item("big2", 1, 1234567, 150);
    EXPECT_EQ(r.batch.sizeText(), "Batch empty.");
    r.batch.AddToBatch(a);
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::MB), "001.235");
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Subject), "big");
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Parts), "001");
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Date), "2026-12-07");
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Newsgroup), "alt.binaries.test");
    EXPECT_EQ(r.batch.batchTotalKB(), 1235);
    EXPECT_EQ(r.batch.sizeText(), "Total batch size: 1.2MB");
    // The same item again changes nothing.
    r.batch.AddToBatch(a);
    EXPECT_EQ(r.batch.batchRows(), 1);
    EXPECT_EQ(r.batch.batchTotalKB(), 1235);
    r.batch.AddToBatch(b);
    EXPECT_EQ(r.batch.sizeText(), "Total batch size: 2.5MB");
    EXPECT_TRUE(r.store.item(b).inBatch);
    EXPECT_TRUE(r.store.headersDirty);

    // "Life": not scanned yet, an empty range, and how far into the range the first part is.
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Life), "need scan");
    EXPECT_EQ(r.batch.ItemLife(a), -1);
    r.groups.rangeUpdate(r.key, 50, 50);
    EXPECT_EQ(r.batch.ItemLife(a), -1) << "a range of 0 articles";
    r.groups.rangeUpdate(r.key, 93, 193);
    r.batch.BatchLifeUpdate();
    EXPECT_EQ(r.batch.cellText(0, BatchQueue::Life), "07%");
    EXPECT_EQ(r.batch.cellText(1, BatchQueue::Life), "57%");
    r.groups.rangeUpdate(r.key, 0, 149);
    EXPECT_EQ(r.batch.ItemLife(a), -1);
    r.groups.rangeUpdate(r.key, 1, 120);
    EXPECT_EQ(r.batch.ItemLife(b), 99) << "capped";

    // Small sizes read in KB; an item of nothing leaves the label at "Batch empty.".
    BatchRig s;
    const int tiny = s.item("tiny", 2, 400);
    const int none = s.item("none", 1, 0);
    s.batch.AddToBatch(none);
    EXPECT_EQ(s.batch.sizeText(), "Batch empty.");
    s.batch.AddToBatch(tiny);
    EXPECT_EQ(s.batch.sizeText(), "Total batch size: 1.0KB");
    // Removing what is not queued only clears the flag.
    const int loose = s.item("loose", 1, 100);
    s.store.item(loose).inBatch = true;
    s.batch.RemoveFromBatch(loose, true, true);
    EXPECT_FALSE(s.store.item(loose).inBatch);
    EXPECT_FALSE(s.store.item(loose).deleted);
    EXPECT_EQ(s.batch.batchRows(), 2);
    // Removing for good: deleted and its slot free for reuse.
    const int freeBefore = s.store.freeSlotCount;
    s.batch.RemoveFromBatch(tiny, true, true);
    EXPECT_TRUE(s.store.item(tiny).deleted);
    EXPECT_TRUE(s.store.item(tiny).reusable);
    EXPECT_EQ(s.store.freeSlotCount, freeBefore + 1);
    EXPECT_FALSE(s.batch.removeSelected({})) << "nothing selected";
    EXPECT_TRUE(s.batch.removeSelected({0}));
    EXPECT_EQ(s.batch.sizeText(), "Batch empty.");
    EXPECT_EQ(s.batch.batchTotalKB(), 0);
}

TEST(Batch, TheFourMoves)
{
    struct Case {
        const char *move;
        std::vector<int> selected;   // 0-based rows
        QString order;
        std::vector<int> rowsAfter;
    } cases[] = {
        {"top", {1, 3}, "BDACE", {0, 1}},
        {"top", {0, 4}, "AEBCD", {0, 1}},
        {"bottom", {1, 3}, "ACEBD", {3, 4}},
        {"bottom", {4}, "ABCDE", {4}},
        {"up", {1, 3}, "BADCE", {0, 2}},
        {"up", {1, 2}, "BCADE", {0, 1}},
        {"up", {0, 3}, "ABCDE", {0, 3}},
        {"down", {1, 3}, "ACBED", {2, 4}},
        {"down", {4, 1}, "ABCDE", {1, 4}},
        {"down", {2, 3}, "ABECD", {3, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.move) + " -> " + c.order.toStdString());
        BatchRig r;
        for (const char *n : {"A", "B", "C", "D", "E"}) r.batch.AddToBatch(r.item(n, 1, 1000));
        const QString m = c.move;
        r.store.headersDirty = false;
        const std::vector<int> after = m == "top"      ? r.batch.MoveSelectedToTop(c.selected)
                                       : m == "bottom" ? r.batch.MoveSelectedToBottom(c.selected)
                                       : m == "up"     ? r.batch.MoveSelectedUp(c.selected)
                                                       : r.batch.MoveSelectedDown(c.selected);
        EXPECT_EQ(r.names(), c.order);
        EXPECT_EQ(after, c.rowsAfter);
        EXPECT_TRUE(r.store.headersDirty);
        EXPECT_EQ(r.batch.batchItems().size(), 5u);
    }
    // Sorting once, the same column again reverses.
    BatchRig r;
    for (const char *n : {"c", "A", "b"}) r.batch.AddToBatch(r.item(n, 1, 1000));
    r.batch.sortOnce(BatchQueue::Subject);
    EXPECT_EQ(r.names(), "Abc");
    r.batch.sortOnce(BatchQueue::Subject);
    EXPECT_EQ(r.names(), "cbA");
    // Rows are found again by their item after a move.
    EXPECT_EQ(r.batch.batchPositionOf(1), 1);
    EXPECT_EQ(r.batch.batchPositionOf(2), 3);
}

TEST(Batch, ArticleCleaning)
{
    struct Strip {
        QByteArray raw, stored;
    } strips[] = {
        {"220 5 <a@b>\r\nSubject: x\r\nFrom: y\r\n\r\nline 1\r\nline 2\r\n.\r\n", "Subject: x\r\nFrom: y\r\n\r\nline 1\r\nline 2\r\n"},
        {"220 0 <a@b>\r\nS: x\r\n\r\n..x\r\n.\r\n", "S: x\r\n\r\n.x\r\n"},
        {"220 0 <a@b>\r\nS: x\r\n\r\n..\r\n...\r\n..y\r\n.\r\n", "S: x\r\n\r\n.\r\n..\r\n.y\r\n"},
        {"222 0 <a@b>\r\nbody\r\n.\r\n", "body\r\n"},
        {"220 0 <a@b>\r\n.\r\n", ""},
        {"220 0 <a@b>\r\nS: x\r\n\r\nend\r\n.\r\n220 0 <next@b>\r\n", "S: x\r\n\r\nend\r\n"},
        {"220 0 <a@b>\r\nS: x\r\n\r\na..b\r\n.\r\n", "S: x\r\n\r\na..b\r\n"},
    };
    for (const Strip &s : strips) EXPECT_EQ(StripArticle(s.raw), s.stored) << s.raw.toStdString();

    EXPECT_FALSE(IsCorruptArticle("Message-ID: <a@b>\r\n\r\nbody\r\n", "<a@b>"));
    EXPECT_TRUE(IsCorruptArticle("Message-ID: <a@b>\r\n\r\nbody\r\n220 0 <a@b>\r\nMessage-ID: <a@b>\r\n", "<a@b>"));
    EXPECT_TRUE(IsCorruptArticle("Message-ID: <other@b>\r\n\r\nbody\r\n", "<a@b>"));
    EXPECT_FALSE(IsCorruptArticle("Message-ID: <other@b>\r\n\r\nbody <a@b>\r\n", "<a@b>")) << "found in the body as before";

    struct Tame {
        QByteArray in, out;
    } tames[] = {
        {"Subject: a (b) (c) (1/2)\r\nX: (y) (z)\r\n", "Subject: a [b] [c] (1/2)\r\nX: (y) (z)\r\n"},
        {"Subject: one ) two ) (2/3)\r\n", "Subject: one ) two ) (2/3)\r\n"},
        {"Subject: plain (1/1)\r\n", "Subject: plain (1/1)\r\n"},
        {"No subject (a) (b)\r\n", "No subject (a) (b)\r\n"},
    };
    for (const Tame &t : tames) EXPECT_EQ(TameSubjectParens(t.in), t.out) << t.in.toStdString();
}

TEST(Batch, CacheFilesPerGroup)
{
    BatchRig r;
    r.core.settings.Cache_Path = r.dir.path() + "/cache/";
    PartCache cache(r.core.settings, r.groups, r.store);
    const int a = r.item("same", 1, 10, 777, 1);
    const int b = r.item("same2", 1, 10, 777, 2);
    const QString fa = cache.PartCacheFile(a, 1), fb = cache.PartCacheFile(b, 1);
    EXPECT_EQ(fa, r.dir.path() + "/cache/alt.binaries.test/777.UUE");
    EXPECT_EQ(fb, r.dir.path() + "/cache/alt.binaries.other/777.UUE");
    EXPECT_TRUE(QFileInfo(r.dir.path() + "/cache/alt.binaries.other").isDir());
    EXPECT_FALSE(cache.isCached(a, 1));
    QFile f(fa);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(cache.isCached(a, 1));
    EXPECT_FALSE(cache.isCached(b, 1));
}

TEST(Batch, DurationsFinishTimesAndSpeed)
{
    struct D {
        qint64 s;
        const char *text;
    } durations[] = {
        {0, "less than a minute"}, {29, "less than a minute"}, {31, "about a minute"}, {90, "2 minutes"},
        {150, "2 minutes"},        {330, "6 minutes"},         {3600, "about an hour"}, {3900, "1 hour, 5 minutes"},
        {7500, "2 hours, 5 minutes"}, {19800, "5 hours, 30 minutes"}, {27000, "about 7 hours"}, {7200, "about 2 hours"},
    };
    for (const D &d : durations) EXPECT_EQ(DurationText(d.s), d.text) << d.s;

    const QDateTime now(QDate(2026, 12, 7), QTime(9, 5));
    EXPECT_EQ(FinishTimeText(3600, now), "10:05 AM");
    EXPECT_EQ(FinishTimeText(86400, now), "9:05 AM");
    EXPECT_EQ(FinishTimeText(86401, now), "Tuesday, December 8, 2026 9:05 AM");
    EXPECT_EQ(FinishTimeText(6 * 3600, now), "3:05 PM");

    // The speed text and the ETA labels.
    BatchRig r;
    DownloadDriver &dl = r.engine.download;
    r.batch.AddToBatch(r.item("one", 1, 3000000));
    r.batch.AddToBatch(r.item("two", 1, 3000000));
    r.core.ui.setBarMax(UiState::File, 3000000);
    r.core.ui.setBar(UiState::File, 1000000);
    EXPECT_EQ(dl.TransferSpeed(1000, 100000), "100.0");
    EXPECT_TRUE(dl.batchEta.startsWith("Entire batch ETA: ")) << dl.batchEta.toStdString();
    EXPECT_TRUE(dl.batchEta.endsWith(" (about a minute)")) << dl.batchEta.toStdString();
    EXPECT_EQ(dl.fileEta.left(18), "Current file ETA: ");
    EXPECT_TRUE(dl.fileEta.endsWith("(less than a minute)")) << dl.fileEta.toStdString();
    // Under a part of a second still gives a rate, and a crawl hides the labels.
    EXPECT_EQ(dl.TransferSpeed(250, 1000000), "4000.0");
    EXPECT_EQ(dl.TransferSpeed(1000, 100), "0.1");
    EXPECT_TRUE(dl.batchEta.isEmpty());
    EXPECT_TRUE(dl.fileEta.isEmpty());
    EXPECT_EQ(dl.TransferSpeed(0, 5000), "0.0");
}

// A saved batch comes back in one insertion, in its order: the header list follows it once,
// not once an item (a batch of 100,000 items took minutes so).
TEST(Batch, ALoadedBatchComesBackInOneStep)
{
    test::EngineRig e(true);
    for (int i = 0; i < 3000; ++i)
        e.store.maketree("post " + QByteArray::number(i) + " [xx/0000001]", "post (1/1)", i + 1, "1", "100", 1, "Ann", "",
                         "<" + QByteArray::number(i) + "@x>");
    for (int i = 3000; i >= 1; i -= 2) e.batch.AddToBatch(i);
    const QString path = e.dir.path() + "/npending.dat";
    ASSERT_TRUE(e.engine.headerFile.SaveHeaders(path, &e.batch));
    test::EngineRig r(true);
    int inserts = 0, changes = 0;
    QObject::connect(&r.batch, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    QObject::connect(&r.batch, &BatchQueue::itemsChanged, [&] { ++changes; });
    ASSERT_TRUE(r.engine.headerFile.LoadHeaders(path, &r.batch));
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(r.batch.batchItems(), e.batch.batchItems());
    EXPECT_EQ(r.batch.batchTotalKB(), e.batch.batchTotalKB());
}

// Killed after the last header save: the journal brings the batch to where it was. An
// item decoded since stays out (and is not fetched again), one queued since is back, a
// line cut by the kill is passed over, and the replay writes nothing twice.
TEST(Batch, TheJournalKeepsWhatHappenedSinceTheLastSave)
{
    test::EngineRig e(true);
    for (int i = 0; i < 10; ++i)
        e.store.maketree("post " + QByteArray::number(i) + " [xx/0000001]", "post (1/1)", i + 1, "1", "100", 1, "Ann", "",
                         "<" + QByteArray::number(i) + "@x>");
    for (int i = 1; i <= 5; ++i) e.batch.AddToBatch(i);
    ASSERT_TRUE(e.engine.headerFile.SaveHeaders(e.core.paths.headers(), &e.batch));
    e.engine.journal.clear();
    e.batch.RemoveFromBatch(2, true, false);   // decoded
    e.batch.AddToBatch(7);
    e.batch.RemoveFromBatch(3, false, false);  // taken out by the user
    // Two decodes noted on their thread: one's row reached the Processed page, the other's
    // did not (the kill came between).
    e.engine.journal.note('-', "post 3 [xx/0000001]", "Ann", {"post 3", "Decode successful", "/dl/three.bin", true});
    e.engine.journal.note('r', "post 3 [xx/0000001]", "Ann");
    e.engine.journal.note('-', "post 4 [xx/0000001]", "Ann", {"post 4", "Error: yEnc CRC mismatch", "", false});
    {
        QFile j(e.core.paths.batchJournal());
        ASSERT_TRUE(j.open(QIODevice::Append));
        j.write("+\tpost 8 [xx/00");   // the kill cut this line
    }
    test::EngineRig r(true);
    for (const QString &f : {QStringLiteral("npending.dat"), QStringLiteral("batch.jnl")})
        ASSERT_TRUE(QFile::copy(e.dir.path() + '/' + f, r.dir.path() + '/' + f));
    ASSERT_TRUE(r.engine.headerFile.LoadHeaders(r.core.paths.headers(), &r.batch));
    EXPECT_EQ(r.batch.batchItems(), (std::vector<int>{1, 2, 3, 4, 5}));
    const QByteArray journal = test::readFile(r.core.paths.batchJournal());
    std::vector<JournalRow> lost;
    EXPECT_EQ(r.engine.journal.replay(r.store, r.batch, [&](const JournalRow &row) { lost.push_back(row); }), 5);
    EXPECT_EQ(r.batch.batchItems(), (std::vector<int>{1, 7}));
    EXPECT_TRUE(r.store.item(2).deleted);
    EXPECT_FALSE(r.store.item(3).deleted);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].name, "post 4");
    EXPECT_EQ(lost[0].status, "Error: yEnc CRC mismatch");
    EXPECT_FALSE(lost[0].ok);
    EXPECT_EQ(test::readFile(r.core.paths.batchJournal()), journal) << "nothing written twice";

    // A save takes the batch; a decode ends on its thread before that save is on disk: its
    // line outlives the save's clearing of the journal.
    r.batch.RemoveFromBatch(1, false, false);
    ASSERT_TRUE(r.engine.headerFile.beginSave(r.core.paths.headers(), &r.batch));
    r.engine.headerFile.saveStep(0);
    r.engine.journal.note('-', "post 7 [xx/0000001]", "Ann", {"post 7", "Decode successful", "/dl/seven.bin", true});
    r.engine.journal.clear();
    EXPECT_EQ(test::readFile(r.core.paths.batchJournal()), "-\tpost 7 [xx/0000001]\tAnn\tpost 7\t1\tDecode successful\t/dl/seven.bin\r\n");
    r.engine.journal.clear();
    EXPECT_FALSE(QFile::exists(r.core.paths.batchJournal()));
}

// The Processed page outlives the program: each row reaches its file as it is added; a
// delete, a rename or a clear rewrites it; a line cut by a kill is passed over.
TEST(Batch, ProcessedRowsAreKeptOnDisk)
{
    QTemporaryDir d;
    const QString path = d.path() + "/processed.txt";
    {
        ProcessedList l;
        l.keepIn(path);
        l.add({"one", "Decode successful", "/dl/one.bin", true});
        l.add({"two\ttabbed", "Error: yEnc CRC mismatch in part 2", "/dl/two.bin", false});
        l.add({"three", "Item no longer available on server", "", false});
        l.removeSelected({2});
        l.renameFile("/dl/one.bin", "/dl/One.bin");
    }
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("1\tcut by a ki");
    }
    ProcessedList back;
    back.keepIn(path);
    ASSERT_EQ(back.rowCount(), 2);
    EXPECT_EQ(back.entry(0).fileName, "/dl/One.bin");
    EXPECT_TRUE(back.entry(0).ok);
    EXPECT_EQ(back.entry(1).subject, "two tabbed");
    EXPECT_EQ(back.entry(1).status, "Error: yEnc CRC mismatch in part 2");
    EXPECT_FALSE(back.entry(1).ok);
    back.clearAll();
    ProcessedList empty;
    empty.keepIn(path);
    EXPECT_EQ(empty.rowCount(), 0);
}
