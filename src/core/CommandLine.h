#pragma once
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace vt {

// The launch options: matched whole after trimming blanks and upper-casing.
enum class LaunchAction { None, Scan, Download, Invalid };
LaunchAction parseCommandLine(const QString &raw);
// The message for an option that is not valid, quoting the command line as received.
QString invalidCommandLineMessage(const QString &raw);

// The command line as Linux users write it: --help, --version, --scan and --download
// beside the launch options' own forms. Qt's own options must be gone already.
struct LaunchArguments {
    bool ok = true;
    QString error;   // an unknown switch, said as the parser says it
    QString raw;     // what the launch options above are read from
    QStringList nzbFiles;   // NZB files named on the command line, as absolute paths
    bool headless = false;  // --headless: no window, driven by the remote control
};
void describeLaunchOptions(QCommandLineParser &parser);
LaunchArguments parseLaunchArguments(const QStringList &arguments);   // [0] is the program
// True when the command line only asks for --help or --version (answered without a window).
bool wantsConsoleOnly(const QStringList &arguments);
// True when the command line asks for the program without a window (decided before Qt
// is asked for a display).
bool wantsHeadless(const QStringList &arguments);

// An NZB file by its name: "x.nzb", or "x.nzb.gz" as index sites hand them out.
bool isNzbFileName(const QString &name);

} // namespace vt
