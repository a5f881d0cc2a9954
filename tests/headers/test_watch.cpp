// The watch list: matching rules, the file, and the hook into completed items.
#include "TestSupport.h"
#include "headers/HeaderStore.h"
#include "headers/WatchList.h"
#include <QFile>
#include <gtest/gtest.h>

using namespace vt;

TEST(WatchList, MatchingRules)
{
    HeaderStore s;
    WatchList w;
    w.watchEnabled = true;
    HeaderItem it;
    it.subject = "HOLIDAY PICS.rar [xx/0000003]";
    it.poster = "Jane";
    const int i = s.appendLoadedItem(it);
    w.AddWatch("holiday", 0, false);
    EXPECT_TRUE(w.WatchMatches(s, i));
    w.removeRows({0});
    w.AddWatch("holiday", 0, true);
    EXPECT_FALSE(w.WatchMatches(s, i)) << "match case";
    w.AddWatch("Jane ", 1, true);
    EXPECT_TRUE(w.WatchMatches(s, i)) << "a blank is appended before the test";
    w.watchEnabled = false;
    EXPECT_FALSE(w.WatchMatches(s, i));
}

TEST(WatchList, FileRoundTripAndRemoval)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/WATCH.TXT";
    WatchList w;
    w.AddWatch("x264", 0, false);
    w.AddWatch("Bob", 1, true);
    ASSERT_TRUE(w.SaveWatchList(path));
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), QByteArray(" 2\r\nx264\r\n 0\r\nFalse\r\nBob\r\n 1\r\nTrue\r\n"));
    f.close();
    WatchList r;
    r.LoadWatchList(path);
    ASSERT_EQ(r.entries().size(), 2u);
    EXPECT_EQ(r.entries()[1].text, "Bob");
    EXPECT_EQ(r.entries()[1].field, 1);
    EXPECT_TRUE(r.entries()[1].matchCase);
    EXPECT_EQ(r.data(r.index(0, 2), Qt::DisplayRole).toString(), "Insensitive");
    r.removeRows({0, 1});
    ASSERT_TRUE(r.SaveWatchList(path));
    EXPECT_FALSE(QFile::exists(path)) << "an empty list leaves no file";
    // A count larger than the file holds reads what is there.
    QFile g(path);
    g.open(QIODevice::WriteOnly);
    g.write(" 9\r\nonly\r\n 0\r\nTrue\r\n");
    g.close();
    r.LoadWatchList(path);
    EXPECT_EQ(r.entries().size(), 1u);
}

TEST(WatchList, CompletedItemsGoToTheBatch)
{
    HeaderStore s;
    WatchList w;
    w.watchEnabled = true;
    w.AddWatch("wanted", 0, false);
    QList<int> batch;
    s.watchEnabled = true;
    s.watchMatches = [&](int i) { return w.WatchMatches(s, i); };
    s.addToBatch = [&](int i) {
        s.item(i).inBatch = true;
        batch << i;
    };
    s.maketree("Wanted.rar [xx/0000002]", "Wanted.rar (1/2)", 1, "2", "10", 1, "Jane", "", "<1@x>");
    s.maketree("Other.rar [xx/0000001]", "Other.rar", 2, "1", "10", 1, "Jane", "", "<2@x>");
    EXPECT_TRUE(batch.isEmpty());
    s.maketree("Wanted.rar [xx/0000002]", "Wanted.rar (2/2)", 3, "2", "10", 1, "Jane", "", "<3@x>");
    EXPECT_EQ(batch, QList<int>({1}));
    EXPECT_EQ(s.itemState(1), ItemState::InBatch);
}
