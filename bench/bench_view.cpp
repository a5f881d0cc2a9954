// The header list with 500,000 items: a full refresh, the update after bursts that touch
// few or many items, and a column sort.
#include "core/AppCore.h"
#include "core/Prompter.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "BenchStore.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

using namespace vt;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? atoi(argv[1]) : 500'000;
    BenchRig rig(items);
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
    for (int i = 1; i <= store.itemCount(); ++i) store.item(i).displayRefresh = false;
    for (int touched : {100, 1000, 10000, 100000}) {
        for (int i = 1; i <= touched; ++i) store.item(i * (store.itemCount() / touched)).displayRefresh = true;
        QElapsedTimer t;
        t.start();
        view.ViewUpdate(true);
        const double s = t.nsecsElapsed() / 1e9;
        printf("update touching %6d items: %.2f ms (%.2f us per item)\n", touched, s * 1e3, s * 1e6 / touched);
    }
    QElapsedTimer t;
    t.start();
    view.sortByColumn(HeaderListModel::Subject);
    printf("sort by subject: %.3f s\n", t.nsecsElapsed() / 1e9);
    t.restart();
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < HeaderListModel::ColumnCount; ++c) view.cellText(r * 997, c);
    printf("texts of one screen (60 rows): %.2f ms\n", t.nsecsElapsed() / 1e6);
    return 0;
}
