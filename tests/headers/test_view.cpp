// The header list model: row texts, the chooser and the toggles, the per-burst update,
// delete and restore, search and sorting.
#include "Posts.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include <gtest/gtest.h>

using namespace vt;

namespace {

struct ViewRig : vt::test::StoreRig {
    HeaderListModel view{store, &groups};
    quint8 a = 0, b = 0;
    int number = 100;
    QStringList counters;

    ViewRig()
    {
        groups.addGroup("alt.binaries.a");
        groups.addGroup("alt.binaries.b");
        a = quint8(groups.rowKey(1));
        b = quint8(groups.rowKey(2));
        QObject::connect(&view, &HeaderListModel::counterChanged, [this](const QString &t) { counters << t; });
    }
    // `parts` of `total` parts (0 = no counter) in the given group.
    int post(const QByteArray &name, int parts, int total, quint8 key, int bytes = 20000,
             const QByteArray &date = "Mon, 07 Dec 2026 12:00:00 +0000")
    {
        const QByteArray marker = total ? " [xx/" + QByteArray::number(total).rightJustified(7, '0') + "]" : QByteArray();
        for (int k = 1; k <= parts; ++k) {
            const QByteArray subject = total ? name + " (" + QByteArray::number(k) + "/" + QByteArray::number(total) + ")" : name;
            const int n = number++;
            store.maketree(name + marker, subject, n, total ? QByteArray::number(total) : QByteArray(),
                           QByteArray::number(bytes), key, "poster@x", date, "<" + QByteArray::number(n + 1) + "@x>");
        }
        return store.itemCount();
    }
    QStringList names() const
    {
        QStringList n;
        for (int r = 0; r < view.rowCount(); ++r) n << view.cellText(r, HeaderListModel::Subject);
        return n;
    }
};

} // namespace

TEST(HeaderView, RowTextsAndFilters)
{
    ViewRig r;
    const int full = r.post("full.rar", 15, 15, r.a, 1000000);
    const int part = r.post("part.rar", 12, 15, r.a);
    const int loose = r.post("three.bin", 3, 0, r.b);
    const int note = r.post("hello", 1, 0, r.b, 500, "12:00:00");   // a time alone: day zero
    r.view.ViewRefresh(false);
    ASSERT_EQ(r.view.rowCount(), 4);
    const int row = r.view.rowOfItem(full);
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::Subject), "full.rar");
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::Parts), "015/015");
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::MB), "015.000");
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::Date), "2026-12-07");
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::Newsgroup), "alt.binaries.a");
    EXPECT_EQ(r.view.cellText(row, HeaderListModel::Life), "need scan");
    EXPECT_EQ(r.view.cellText(r.view.rowOfItem(part), HeaderListModel::Parts), "012/015");
    EXPECT_EQ(r.view.cellText(r.view.rowOfItem(loose), HeaderListModel::Parts), "3/???");
    EXPECT_EQ(r.view.cellText(r.view.rowOfItem(note), HeaderListModel::Parts), "");
    EXPECT_EQ(r.view.cellText(r.view.rowOfItem(note), HeaderListModel::Date), "?");
    EXPECT_EQ(r.view.data(r.view.index(r.view.rowOfItem(note), 0), HeaderListModel::IconKeyRole).toString(), "text");
    EXPECT_EQ(r.counters.last(), "View Filter: 4 items showing");

    // The chooser: one group, display off.
    r.view.viewGroupKey = r.b;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.names(), QStringList({"three.bin", "hello"}));
    r.view.viewGroupKey = HeaderListModel::DisplayOff;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.view.rowCount(), 0);
    r.view.viewGroupKey = HeaderListModel::AllGroups;

    // The toggles, one status at a time, and all off.
    r.view.showIncomplete = false;
    r.view.ViewRefresh(false);
    EXPECT_FALSE(r.names().contains("part.rar"));
    r.view.showComplete = r.view.showText = r.view.showUnknown = r.view.showInBatch = false;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.view.rowCount(), 0);
    EXPECT_EQ(r.counters.last(), "View Filter: 0 items showing");
    r.view.showComplete = r.view.showText = r.view.showUnknown = r.view.showInBatch = r.view.showIncomplete = true;

    // Only new items, and the reset of the new marks.
    for (int i = 1; i <= r.store.itemCount(); ++i) r.store.item(i).isNew = i == part;
    r.view.newOnly = true;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.names(), QStringList({"part.rar"}));
    r.view.ResetNewFlags();
    EXPECT_EQ(r.view.rowCount(), 0);
    EXPECT_FALSE(r.store.item(part).isNew);
}

TEST(HeaderView, CrossPostsGoUnderTheirFirstGroup)
{
    ViewRig r;
    r.store.maketree("x.bin [xx/0000002]", "x.bin (1/2)", 1, "2", "10", r.b, "p", "", "<1@x>");
    r.store.maketree("x.bin [xx/0000002]", "x.bin (2/2)", 2, "2", "10", r.a, "p", "", "<2@x>");
    r.view.viewGroupKey = r.a;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.view.rowCount(), 0);
    r.view.viewGroupKey = r.b;
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.view.rowCount(), 1);
}

TEST(HeaderView, UpdateTouchesOnlyFlaggedItems)
{
    ViewRig r;
    const int one = r.post("one", 2, 2, r.a);
    const int two = r.post("two", 2, 2, r.a);
    r.view.ViewRefresh(false);
    for (int i : r.store.takeTouched()) r.store.item(i).displayRefresh = false;
    ASSERT_EQ(r.names(), QStringList({"one", "two"}));

    // A burst: a new item and a deleted one.
    const int three = r.post("three", 2, 2, r.a);
    r.store.item(one).deleted = true;
    r.store.touch(one);
    r.view.viewGroupKey = r.b;     // the chooser says one group, the update is told "All Newsgroups"
    r.view.ViewUpdate(true);
    EXPECT_EQ(r.names(), QStringList({"two", "three"}));
    EXPECT_FALSE(r.store.item(three).displayRefresh);
    EXPECT_EQ(r.view.rowOfItem(three), 1);
    EXPECT_EQ(r.view.rowOfItem(one), -1);
    // With the group filter on, a flagged item of another group leaves the list.
    r.store.touch(two);
    r.view.ViewUpdate(false);
    EXPECT_EQ(r.names(), QStringList({"three"})) << "three was not flagged";
    EXPECT_EQ(r.counters.last(), "View Filter: 1 items showing");

    // Sorted lists take new rows at their place.
    r.view.viewGroupKey = HeaderListModel::AllGroups;
    r.view.sortByColumn(HeaderListModel::Subject);
    r.view.ViewRefresh(false);
    EXPECT_EQ(r.names(), QStringList({"three", "two"}));
    r.post("four", 2, 2, r.a);
    r.post("Alpha", 2, 2, r.a);
    r.view.ViewUpdate(true);
    EXPECT_EQ(r.names(), QStringList({"Alpha", "four", "three", "two"}));
    r.view.sortByColumn(HeaderListModel::Subject);
    EXPECT_EQ(r.names(), QStringList({"two", "three", "four", "Alpha"}));
    r.view.sortByColumn(HeaderListModel::MB);
    EXPECT_EQ(r.view.cellText(0, HeaderListModel::MB), "000.040");
}

TEST(HeaderView, DeleteRestoreAndSearch)
{
    ViewRig r;
    for (const char *n : {"Movie.Part", "movie.extra", "Music", "Other"}) r.post(n, 1, 1, r.a);
    r.view.viewGroupKey = r.a;
    r.view.ViewRefresh(false);
    r.store.headersDirty = false;
    EXPECT_FALSE(r.view.deleteRows({}));
    EXPECT_TRUE(r.view.deleteRows({2, 0}));
    EXPECT_EQ(r.names(), QStringList({"movie.extra", "Other"}));
    EXPECT_TRUE(r.store.item(1).deleted);
    EXPECT_TRUE(r.store.headersDirty);
    EXPECT_EQ(r.counters.last(), "View Filter: 2 items showing");

    // Delete all reaches hidden items too; restore brings back all but reusable ones.
    r.post("elsewhere", 1, 1, r.b);
    r.view.deleteAll();
    for (int i = 1; i <= r.store.itemCount(); ++i) EXPECT_TRUE(r.store.item(i).deleted) << i;
    r.store.item(4).reusable = true;
    r.view.viewGroupKey = HeaderListModel::AllGroups;
    r.view.ViewRefresh(true);
    EXPECT_EQ(r.names(), QStringList({"Movie.Part", "movie.extra", "Music", "elsewhere"}));

    // Search: any case without match case, exact with it, deleted ones only on request.
    r.view.viewGroupKey = r.b;
    EXPECT_EQ(r.view.search("movie", false, false), 2);
    EXPECT_EQ(r.view.viewGroupKey, HeaderListModel::AllGroups);
    EXPECT_EQ(r.view.search("movie", true, false), 1);
    EXPECT_EQ(r.names(), QStringList({"movie.extra"}));
    EXPECT_EQ(r.view.search("other", false, false), 0);
    EXPECT_EQ(r.view.search("other", false, true), 1);
}

// A list too long for one pass: the filter pass and a sort go in steps (the sort on a
// thread), the rows stay as they were until then, and what was filed, changed or deleted
// meanwhile is in the list when it is through. The sorted order is the order a
// case-insensitive comparison of the texts gives.
TEST(HeaderView, LongListsRefreshAndSortInSteps)
{
    ViewRig r;
    const char *names[] = {"Zeta", "alpha", "\xc9t\xe9", "\xb5sic", "Beta", "\xe9tat", "\xe0 la", "MU"};
    for (int i = 0; i < 60000; ++i)
        r.post(QByteArray(names[i % 8]) + " " + QByteArray::number(i * 7919 % 60000) + (i % 5 ? " a" : " keep"), 1, 1, i % 2 ? r.a : r.b);
    int refreshed = 0;
    QObject::connect(&r.view, &HeaderListModel::refreshed, [&] { ++refreshed; });
    r.view.ViewRefresh(false);
    ASSERT_EQ(r.view.rowCount(), 60000);

    r.view.setTextFilter("KEEP");
    r.view.ViewRefreshInSteps();
    EXPECT_EQ(r.view.rowCount(), 60000) << "the old rows until the pass is through";
    const int late = r.post("late one keep", 1, 1, r.a);
    r.store.item(6).deleted = true;   // a "keep" item the pass may have seen already
    r.store.touch(6);
    r.view.ViewUpdate(true);
    ASSERT_TRUE(test::waitFor([&] { return refreshed == 1; }));
    EXPECT_EQ(r.view.rowCount(), 12000);
    EXPECT_GE(r.view.rowOfItem(late), 0);
    EXPECT_EQ(r.view.rowOfItem(6), -1);

    for (int column : {int(HeaderListModel::Subject), int(HeaderListModel::Subject), int(HeaderListModel::Date)}) {
        r.view.sortByColumn(column);
        ASSERT_TRUE(test::waitFor([&] { return !r.view.refreshing(); }));
    }
    r.view.sortByColumn(HeaderListModel::Subject);   // ascending again, and at once a full pass
    r.view.setTextFilter("");
    r.view.ViewRefreshInSteps();
    ASSERT_TRUE(test::waitFor([&] { return !r.view.refreshing(); }));
    ASSERT_EQ(r.view.rowCount(), 60000);
    for (int row = 1; row < r.view.rowCount(); ++row)
        ASSERT_LE(QString::compare(r.view.cellText(row - 1, 0), r.view.cellText(row, 0), Qt::CaseInsensitive), 0) << row;
}
