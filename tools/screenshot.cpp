// Renders the three pages of the main window and the options dialog offscreen into PNGs
// for the README, after a real scan and download against the local test server.
//   vantrel-screenshot <output folder> <server port>
#include "app/Application.h"
#include "ui/MainWindow.h"
#include "ui/Named.h"
#include "ui/OptionsDialog.h"
#include "ui/HostGroupsWindow.h"
#include "ui/SetupWindow.h"
#include "groups/HostGroupList.h"
#include "core/ListRoles.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

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

// Queues up to n complete items that are not in the batch yet.
void queue(vt::Application &app, int n)
{
    QAbstractItemModel *m = child<QTableView>(*app.mainWindow(), "ListView2")->model();
    for (int r = 0; r < m->rowCount() && n > 0; ++r)
        if (m->index(r, 0).data(vt::IconKeyRole).toString() == QStringLiteral("complete")) {
            app.batch().AddToBatch(app.headerView().itemAt(r));
            --n;
        }
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vantrel-screenshot <output folder> <server port>\n");
        return 2;
    }
    // Absolute: start-up makes the application folder the current one.
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath() + QStringLiteral("/");
    QTemporaryDir dir;
    write(dir.path() + "/VANTREL.INI", "[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray(argv[2])
                                          + "\r\nchkEnableLogging=1\r\nchkAutodownload=0\r\nDownload_Path="
                                          + (dir.path() + "/download/").toUtf8() + "\r\n");
    write(dir.path() + "/favs.txt", "alt.binaries.demo,0,False,1\r\nalt.binaries.demo.pictures,0,False,2\r\n");
    vt::QuietPrompter prompter;
    vt::Application app(vt::AppPaths(dir.path()), {}, &prompter);
    app.endProcess = [] {};
    app.start();
    vt::MainWindow &w = *app.mainWindow();
    w.resize(1000, 640);
    app.session().connectForScan();
    if (!waitFor([&] { return child<QPushButton>(w, "cmdScan")->isEnabled() && app.store().itemCount() > 0 && app.session().TCP1.state() == 0; }, 60000)) {
        std::fprintf(stderr, "scan did not finish\n");
        return 1;
    }
    queue(app, 4);
    app.download().startCheck();
    waitFor([&] { return app.batch().rowCount() == 0; }, 60000);
    queue(app, 6);
    QCoreApplication::processEvents();
    bool ok = true;
    const char *pages[3] = {"page-headers.png", "page-batch.png", "page-processed.png"};
    for (int i = 0; i < 3; ++i) {
        w.selectPage(i + 1);
        QCoreApplication::processEvents();
        ok = w.grab().save(out + QLatin1String(pages[i])) && ok;
    }
    w.selectPage(1);
    child<QPushButton>(w, "cmdOptions")->click();
    QCoreApplication::processEvents();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *o = qobject_cast<vt::OptionsDialog *>(top)) {
            o->ListView1->resizeColumnsToContents();
            for (int p = 0; p < 3; ++p) {
                o->pages->setCurrentIndex(p);
                QCoreApplication::processEvents();
                ok = o->grab().save(out + QStringLiteral("options-%1.png").arg(o->pages->tabText(p).toLower())) && ok;
            }
        }
    // The assistant's first page and the host group list after a search.
    app.assistantWindow()->start();
    QCoreApplication::processEvents();
    ok = app.assistantWindow()->grab().save(out + QStringLiteral("assistant.png")) && ok;
    app.assistantWindow()->hide();
    vt::HostGroupsWindow &g = *app.hostGroupsWindow();
    g.show();
    app.hostGroups().download();
    waitFor([&] { return app.hostGroups().searchable() && !app.hostGroups().downloading(); }, 60000);
    g.optSearchType[0]->setChecked(true);
    g.txtQR->setText(QStringLiteral("alt.binaries."));
    g.cmdQR->click();
    QCoreApplication::processEvents();
    ok = g.grab().save(out + QStringLiteral("host-groups.png")) && ok;
    return ok ? 0 : 1;
}
