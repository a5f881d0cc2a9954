#include "Application.h"
#include "Headless.h"
#include "core/CommandLine.h"
#include "core/SingleInstance.h"
#include <QFileInfo>
#include "ui/MainWindow.h"
#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <memory>
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

    // Without a window no display is needed: Qt's core application only.
    const bool headless = vt::wantsHeadless(argvList(argc, argv));
    // A start with no display (a script, a terminal over SSH) can still hand its NZB files
    // to a program running without a window.
    const bool noDisplay = !headless && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                           && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    std::unique_ptr<QCoreApplication> qapp;
    if (headless || noDisplay) qapp = std::make_unique<QCoreApplication>(argc, argv);
    else qapp = std::make_unique<QApplication>(argc, argv);
    nameTheProgram();
    if (!headless && !noDisplay) {
        QApplication::setDesktopFileName(QStringLiteral("vantrel"));
        QApplication::setQuitOnLastWindowClosed(false);
    }

    // The command line as received, less what Qt took for itself.
    const vt::LaunchArguments launch = vt::parseLaunchArguments(QCoreApplication::arguments());
    if (!launch.ok) {
        fprintf(stderr, "vantrel: %s\nTry 'vantrel --help' for the options.\n", qPrintable(launch.error));
        return 2;
    }
    const vt::AppPaths paths = vt::AppPaths::forExecutable(QCoreApplication::applicationDirPath());

    // One program per application folder, with a window or without: a later start hands
    // its command line over.
    vt::SingleInstance single(paths.folder());
    // NZB files go over as absolute paths: the running program has its own folder.
    QStringList handed;
    for (const QString &a : QCoreApplication::arguments().mid(1))
        handed << (vt::isNzbFileName(a) ? QFileInfo(a).absoluteFilePath() : a);
    switch (single.handOff(handed)) {
    case vt::SingleInstance::HandOff::Taken: return 0;
    case vt::SingleInstance::HandOff::NoAnswer:
        fprintf(stderr, "vantrel: already running for %s, but it does not answer.\n", qPrintable(paths.folder()));
        return 1;
    case vt::SingleInstance::HandOff::NobodyRunning: break;
    }
    if (noDisplay) {
        fprintf(stderr, "vantrel: no display to open the window on; start it with --headless to run without one.\n");
        return 1;
    }
    if (!single.listen())
        fprintf(stderr, "vantrel: cannot listen on %s; later starts will not find this one.\n",
                qPrintable(single.serverName()));

    paths.claimTempFolder();
    std::unique_ptr<vt::Application> app;
    std::unique_ptr<vt::Headless> bare;
    if (headless) {
        bare = std::make_unique<vt::Headless>(paths, launch.raw, launch.nzbFiles);
    } else {
        app = std::make_unique<vt::Application>(paths, launch.raw);
        app->launchNzbFiles = launch.nzbFiles;
    }
    QObject::connect(&single, &vt::SingleInstance::argumentsReceived, qapp.get(), [&](const QStringList &args) {
        const vt::LaunchArguments later = vt::parseLaunchArguments(QStringList{QStringLiteral("vantrel")} + args);
        const QString raw = later.ok ? later.raw : args.join(u' ');
        if (bare) bare->commandLineFromAnotherStart(raw, later.nzbFiles);
        else app->commandLineFromAnotherStart(raw, later.nzbFiles);
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
        if (bare) bare->stop();
        else if (app->mainWindow()) app->terminate();
        else QCoreApplication::exit(0);
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

    if (bare) bare->start();
    else app->start();
    QTimer::singleShot(0, qapp.get(), [&] {
        looping = true;
        if (stopAsked) stopNow();
    });
    return QCoreApplication::exec();
}
