// The header list on screen (offscreen platform) with 500,000 items: a full refresh and a
// per-burst update with the view attached, and scrolling page by page with every paint
// timed, so a stall shows as the longest step.
#include "BenchStore.h"
#include "core/AppCore.h"
#include "core/Prompter.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderListModel.h"
#include "ui/Skin.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace vt;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int items = argc > 1 ? atoi(argv[1]) : 500'000;
    BenchRig rig(items);
    HeaderStore &store = rig.store;
    NewsgroupTable &groups = rig.groups;
    HeaderListModel model(store, &groups);
    ImageList images;
    load_default_skin(images, rig.dir.path() + "/vantrelskin/", rig.prompter);
    IconProxy proxy(images);
    proxy.setSourceModel(&model);
    QTableView view;
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 4);
    view.verticalHeader()->hide();
    view.setModel(&proxy);
    view.resize(1000, 600);
    view.show();
    QApplication::processEvents();

    for (int run = 1; run <= 3; ++run) {
        QElapsedTimer t;
        t.start();
        model.ViewRefresh(false);
        view.viewport()->repaint();
        printf("full refresh with the view, painted %d: %d rows in %.3f s\n", run, proxy.rowCount(), t.nsecsElapsed() / 1e9);
    }
    for (int i : store.takeTouched()) store.item(i).displayRefresh = false;
    for (int touched : {100, 10000}) {
        for (int i = 1; i <= touched; ++i) store.touch(i * (store.itemCount() / touched));
        QElapsedTimer t;
        t.start();
        model.ViewUpdate(true);
        view.viewport()->repaint();
        printf("update touching %5d items, painted: %.2f ms\n", touched, t.nsecsElapsed() / 1e6);
    }
    QScrollBar *bar = view.verticalScrollBar();
    const int steps = 400;
    std::vector<double> ms;
    for (int s = 0; s < steps; ++s) {
        QElapsedTimer t;
        t.start();
        bar->setValue(int(qint64(bar->maximum()) * s / steps));
        view.viewport()->repaint();
        QApplication::processEvents();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    printf("scroll %d jumps over the list: mean %.2f ms, 99th %.2f ms, longest %.2f ms per painted screen\n", steps,
           sum / steps, ms[size_t(steps * 99 / 100)], ms.back());
    return 0;
}
