#include "Application.h"
#include "core/CommandLine.h"
#include "core/SingleInstance.h"
#include <QFileInfo>
#include "ui/MainWindow.h"
#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int sigFds[2];
void onSignal(int) { (void)!::write(sigFds[0], "x", 1); }

void nameTheProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
}

QStringList argvList(int argc, char **argv)
{
    QStringList l;
    for (int i = 0; i < argc; ++i) l << QString::fromLocal8Bit(argv[i]);
    return l;
}
} // namespace

int main(int argc, char **argv)
{
    // --help and --version answer on the terminal, without a display.
    if (vt::wantsConsoleOnly(argvList(argc, argv))) {
        QCoreApplication c(argc, argv);
        nameTheProgram();
        QCommandLineParser parser;
        vt::describeLaunchOptions(parser);
        parser.process(c);   // prints and exits
        return 0;
    }

    QApplication qapp(argc, argv);
    nameTheProgram();
    QApplication::setDesktopFileName(QStringLiteral("vantrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The command line as received, less what Qt took for itself.
    const vt::LaunchArguments launch = vt::parseLaunchArguments(QApplication::arguments());
    if (!launch.ok) {
        fprintf(stderr, "vantrel: %s\nTry 'vantrel --help' for the options.\n", qPrintable(launch.error));
        return 2;
    }
    const vt::AppPaths paths = vt::AppPaths::forExecutable(QApplication::applicationDirPath());

    // One program per application folder: a later start hands its command line over.
    vt::SingleInstance single(paths.folder());
    // NZB files go over as absolute paths: the running program has its own folder.
    QStringList handed;
    for (const QString &a : QApplication::arguments().mid(1))
        handed << (vt::isNzbFileName(a) ? QFileInfo(a).absoluteFilePath() : a);
    switch (single.handOff(handed)) {
    case vt::SingleInstance::HandOff::Taken: return 0;
    case vt::SingleInstance::HandOff::NoAnswer:
        fprintf(stderr, "vantrel: already running for %s, but it does not answer.\n", qPrintable(paths.folder()));
        return 1;
    case vt::SingleInstance::HandOff::NobodyRunning: break;
    }
    if (!single.listen())
        fprintf(stderr, "vantrel: cannot listen on %s; later starts will not find this one.\n",
                qPrintable(single.serverName()));

    paths.claimTempFolder();
    vt::Application app(paths, launch.raw);
    app.launchNzbFiles = launch.nzbFiles;
    QObject::connect(&single, &vt::SingleInstance::argumentsReceived, &app, [&app](const QStringList &args) {
        const vt::LaunchArguments later = vt::parseLaunchArguments(QStringList{QStringLiteral("vantrel")} + args);
        app.commandLineFromAnotherStart(later.ok ? later.raw : args.join(u' '), later.nzbFiles);
    });

    // A polite stop from the desktop or a service manager goes through the shutdown sequence,
    // without the exit dialog's question that nobody would answer.
    // One that comes during start-up waits for the event loop: ending before it runs
    // would be lost.
    bool looping = false, stopAsked = false;
    auto stopNow = [&] {
        if (!looping) {
            stopAsked = true;
            return;
        }
        if (app.mainWindow()) app.terminate();
        else QApplication::exit(0);
    };
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, sigFds);
    QSocketNotifier sn(sigFds[1], QSocketNotifier::Read);
    QObject::connect(&sn, &QSocketNotifier::activated, [&] {
        char c;
        (void)!::read(sigFds[1], &c, 1);
        stopNow();
    });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    app.start();
    QTimer::singleShot(0, &app, [&] {
        looping = true;
        if (stopAsked) stopNow();
    });
    return QApplication::exec();
}
