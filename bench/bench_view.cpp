// The header list with 500,000 items (bench_view [items] [parts each]): a full refresh, the update after bursts that touch
// few or many items, and the filter and a column sort in steps as the window runs them.
#include "core/AppCore.h"
#include "core/Prompter.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "BenchStore.h"
#include "LoopGap.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace vt;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? atoi(argv[1]) : 500'000;
    BenchRig rig(items, argc > 2 ? atoi(argv[2]) : 0);
    HeaderStore &store = rig.store;
    NewsgroupTable &groups = rig.groups;
    printf("store: %d items, %lld parts\n", store.itemCount(), (long long)store.totalParts());
    HeaderListModel view(store, &groups);
    for (int run = 1; run <= 3; ++run) {
        QElapsedTimer t;
        t.start();
        view.ViewRefresh(false);
        printf("full refresh %d: %d rows in %.3f s\n", run, view.rowCount(), t.nsecsElapsed() / 1e9);
    }
    for (int i : store.takeTouched()) store.item(i).displayRefresh = false;
    for (int touched : {100, 1000, 10000, 100000}) {
        for (int i = 1; i <= touched; ++i) store.touch(i * (store.itemCount() / touched));
        QElapsedTimer t;
        t.start();
        view.ViewUpdate(true);
        const double s = t.nsecsElapsed() / 1e9;
        printf("update touching %6d items: %.2f ms (%.2f us per item)\n", touched, s * 1e3, s * 1e6 / touched);
    }
    // As the window runs them: the filter pass in steps, then a sort whose keys come in
    // steps and whose sorting runs on a thread. The event loop's longest step is timed.
    auto inSteps = [&](const char *what, const std::function<void()> &start) {
        LoopGap gap;
        QElapsedTimer t;
        t.start();
        start();
        while (view.refreshing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        printf("%s: %d rows in %.3f s, longest event-loop step %lld ms\n", what, view.rowCount(), t.nsecsElapsed() / 1e9,
               (long long)gap.longestMs());
    };
    inSteps("filter \"7\" in steps", [&] {
        view.setTextFilter("7");
        view.ViewRefreshInSteps();
    });
    inSteps("sort by subject in steps", [&] { view.sortByColumn(HeaderListModel::Subject); });
    inSteps("no filter, sorted, in steps", [&] {
        view.setTextFilter("");
        view.ViewRefreshInSteps();
    });
    QElapsedTimer t;
    t.start();
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < HeaderListModel::ColumnCount; ++c) view.cellText(r * 997 % std::max(1, view.rowCount()), c);
    printf("texts of one screen (60 rows): %.2f ms\n", t.nsecsElapsed() / 1e6);
    return 0;
}
