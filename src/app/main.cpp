#include "Application.h"
#include "ui/MainWindow.h"
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int sigFds[2];
void onSignal(int) { (void)!::write(sigFds[0], "x", 1); }
} // namespace

int main(int argc, char **argv)
{
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The command line as received, less what Qt took for itself.
    const QString cmdLine = QApplication::arguments().mid(1).join(u' ');
    vt::Application app(vt::AppPaths::forExecutable(QApplication::applicationDirPath()), cmdLine);

    // A polite stop from the desktop or a service manager goes through the shutdown sequence,
    // without the exit dialog's question that nobody would answer.
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, sigFds);
    QSocketNotifier sn(sigFds[1], QSocketNotifier::Read);
    QObject::connect(&sn, &QSocketNotifier::activated, [&] {
        char c;
        (void)!::read(sigFds[1], &c, 1);
        if (app.mainWindow()) app.terminate();
        else QApplication::exit(0);
    });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    app.start();
    return QApplication::exec();
}
