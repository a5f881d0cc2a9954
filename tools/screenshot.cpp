// Renders the main window offscreen into a PNG for the README.
#include "app/Application.h"
#include "ui/MainWindow.h"
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("main.png");
    QTemporaryDir dir;
    QFile ini(dir.path() + "/VANTREL.INI");
    ini.open(QIODevice::WriteOnly);
    ini.write("[Options]\r\nNews_Host=127.0.0.1\r\nchkEnableLogging=1\r\n");
    ini.close();
    vt::QuietPrompter prompter;
    vt::Application app(vt::AppPaths(dir.path()), {}, &prompter);
    app.endProcess = [] {};
    app.start();
    app.core().LogOp(QStringLiteral("Connecting..."), true);
    QApplication::processEvents();
    return app.mainWindow()->grab().save(out) ? 0 : 1;
}
