// Renders the three pages of the main window and the options dialog into PNGs for the
// README, after a real scan and during a real download over four connections against the
// local test server.
//   vantrel-screenshot [--screen] <output folder> <server port>
// Offscreen by default; --screen shows the window on the X display (DISPLAY, with its window
// manager), takes the pictures from the screen itself, and checks there that the batch
// shows an item's progress bar and its time left.
#include "app/Application.h"
#include "ui/MainWindow.h"
#include "ui/Named.h"
#include "ui/OptionsDialog.h"
#include "ui/HostGroupsWindow.h"
#include "ui/SetupWindow.h"
#include "groups/HostGroupList.h"
#include "core/ListRoles.h"
#include <QApplication>
#include "download/DownloadDriver.h"
#include "download/BatchQueue.h"
#include <QGuiApplication>
#include <QScreen>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <set>

namespace {
bool waitFor(const std::function<bool()> &pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return pred();
}

void write(const QString &path, const QByteArray &text)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
}

// Queues up to n items not queued before, complete ones first, then the largest others.
void queue(vt::Application &app, int n, std::set<int> &taken)
{
    QAbstractItemModel *m = child<QTableView>(*app.mainWindow(), "ListView2")->model();
    std::vector<std::pair<qint64, int>> others;
    for (int r = 0; r < m->rowCount() && n > 0; ++r) {
        const int item = app.headerView().itemAt(r);
        if (taken.count(item)) continue;
        if (m->index(r, 0).data(vt::IconKeyRole).toString() == QStringLiteral("complete")) {
            app.batch().AddToBatch(item);
            taken.insert(item);
            --n;
        } else {
            others.emplace_back(app.store().ItemByteTotal(item), item);
        }
    }
    std::sort(others.rbegin(), others.rend());
    for (size_t i = 0; i < others.size() && n > 0; ++i, --n) {
        app.batch().AddToBatch(others[i].second);
        taken.insert(others[i].second);
    }
}
} // namespace

int main(int argc, char **argv)
{
    const bool screen = argc > 1 && QByteArray(argv[1]) == "--screen";
    if (screen) {
        // Out of the arguments, the program's name kept first.
        for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
        --argc;
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication qapp(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vantrel-screenshot [--screen] <output folder> <server port>\n");
        return 2;
    }
    // Absolute: start-up makes the application folder the current one.
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath() + QStringLiteral("/");
    QTemporaryDir dir;
    write(dir.path() + "/VANTREL.INI", "[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray(argv[2])
                                          + "\r\nchkEnableLogging=1\r\nchkAutodownload=0\r\nNews_Connections=4\r\nDownload_Path="
                                          + (dir.path() + "/download/").toUtf8() + "\r\n");
    write(dir.path() + "/favs.txt", "alt.binaries.demo,0,False,1\r\nalt.binaries.demo.pictures,0,False,2\r\n");
    vt::QuietPrompter prompter;
    vt::Application app(vt::AppPaths(dir.path()), {}, &prompter);
    app.endProcess = [] {};
    app.start();
    vt::MainWindow &w = *app.mainWindow();
    w.resize(1600, 1000);
    if (screen) {
        w.move(0, 0);
        w.showMaximized();
    }
    // On the screen the picture is what the display shows, window manager and all.
    auto shot = [&](QWidget &window) {
        if (!screen) return window.grab();
        window.raise();
        window.activateWindow();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QRect frame = window.frameGeometry();   // with the window manager's frame
        return QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    };
    app.session().connectForScan();
    if (!waitFor([&] { return child<QPushButton>(w, "cmdScan")->isEnabled() && app.store().itemCount() > 0 && app.session().TCP1.state() == 0; }, 60000)) {
        std::fprintf(stderr, "scan did not finish\n");
        return 1;
    }
    // A first run fills the Processed page; the pictures are taken during the second, over
    // four connections, once the top item shows its progress and time left.
    std::set<int> taken;
    queue(app, 4, taken);
    app.download().startCheck();
    waitFor([&] { return app.batch().rowCount() == 0 && !app.download().running(); }, 60000);
    queue(app, 6, taken);
    w.selectPage(2);
    app.download().startCheck();
    vt::BatchQueue &b = app.batch();
    const bool flowing = waitFor([&] {
        const int pct = b.rowCount() ? b.index(0, vt::BatchQueue::Progress).data(vt::ProgressRole).toInt() : 0;
        return pct >= 20 && pct <= 80 && !b.cellText(0, vt::BatchQueue::TimeLeft).isEmpty();
    }, 60000);
    bool ok = flowing;
    if (!flowing) std::fprintf(stderr, "the download showed no item progress with a time left\n");
    const char *pages[3] = {"page-headers.png", "page-batch.png", "page-processed.png"};
    QImage batchShot;
    for (int i : {1, 0, 2}) {
        w.selectPage(i + 1);
        QCoreApplication::processEvents();
        const QPixmap pic = shot(w);
        if (i == 1) batchShot = pic.toImage();
        ok = pic.save(out + QLatin1String(pages[i])) && ok;
    }
    if (screen && flowing) {
        // The bar as the screen shows it: filled on its left, not on its right; the time
        // left written in its cell.
        QTableView *list = child<QTableView>(w, "ListView3");
        w.selectPage(2);
        const QRect cell = list->visualRect(list->model()->index(0, vt::BatchQueue::Progress));
        const QPoint origin = w.frameGeometry().topLeft();   // where the picture starts on the screen
        const QPoint at = list->viewport()->mapToGlobal(cell.topLeft()) - origin;
        const qreal dpr = batchShot.devicePixelRatio();
        auto px = [&](int x, int y) { return batchShot.pixelColor(int((at.x() + x) * dpr), int((at.y() + y) * dpr)); };
        const QColor filled = px(3, cell.height() / 2), empty = px(cell.width() - 4, cell.height() / 2);
        const QRect left = list->visualRect(list->model()->index(0, vt::BatchQueue::TimeLeft));
        const QPoint lat = list->viewport()->mapToGlobal(left.topLeft()) - origin;
        int inked = 0;
        const QColor ground = batchShot.pixelColor(int((lat.x() + left.width() - 2) * dpr), int((lat.y() + 1) * dpr));
        for (int x = 0; x < left.width(); ++x)
            for (int y = 0; y < left.height(); ++y) inked += batchShot.pixelColor(int((lat.x() + x) * dpr), int((lat.y() + y) * dpr)) != ground;
        std::printf("progress bar at %d,%d: filled %s, empty %s; time left \"%s\" drawn with %d pixels\n", at.x(), at.y(),
                    qPrintable(filled.name()), qPrintable(empty.name()), qPrintable(b.cellText(0, vt::BatchQueue::TimeLeft)), inked);
        if (filled == empty || inked < 10) ok = false;
    }
    app.download().stop();
    waitFor([&] { return !app.download().running(); }, 20000);
    w.selectPage(1);
    child<QPushButton>(w, "cmdOptions")->click();
    QCoreApplication::processEvents();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *o = qobject_cast<vt::OptionsDialog *>(top)) {
            o->ListView1->resizeColumnsToContents();
            for (int p = 0; p < 3; ++p) {
                o->pages->setCurrentIndex(p);
                QCoreApplication::processEvents();
                ok = shot(*o).save(out + QStringLiteral("options-%1.png").arg(o->pages->tabText(p).toLower())) && ok;
            }
        }
    // The assistant's first page and the host group list after a search.
    app.assistantWindow()->start();
    QCoreApplication::processEvents();
    ok = shot(*app.assistantWindow()).save(out + QStringLiteral("assistant.png")) && ok;
    app.assistantWindow()->hide();
    vt::HostGroupsWindow &g = *app.hostGroupsWindow();
    g.show();
    app.hostGroups().download();
    waitFor([&] { return app.hostGroups().searchable() && !app.hostGroups().downloading(); }, 60000);
    g.optSearchType[0]->setChecked(true);
    g.txtQR->setText(QStringLiteral("alt.binaries."));
    g.cmdQR->click();
    QCoreApplication::processEvents();
    ok = shot(g).save(out + QStringLiteral("host-groups.png")) && ok;
    return ok ? 0 : 1;
}
