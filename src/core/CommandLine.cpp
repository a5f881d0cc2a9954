#include "CommandLine.h"
#include "Text.h"
#include <QCommandLineParser>
#include <QFileInfo>

namespace vt {

LaunchAction parseCommandLine(const QString &raw)
{
    if (raw.isEmpty()) return LaunchAction::None;
    const QString t = trimBlanks(raw).toUpper();
    if (t == QLatin1String("/SCAN")) return LaunchAction::Scan;
    if (t == QLatin1String("/DOWNLOAD")) return LaunchAction::Download;
    return LaunchAction::Invalid;
}

QString invalidCommandLineMessage(const QString &raw)
{
    return QStringLiteral("Command line option not valid: ") + raw + QStringLiteral("\r\rValid options are /SCAN or /DOWNLOAD");
}

void describeLaunchOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Vantrel: scans Usenet newsgroups for binary posts, downloads and decodes them.\n"
        "The launch options /SCAN and /DOWNLOAD are also understood in that form."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("scan"), QStringLiteral("Scan the newsgroups at start (the same as /SCAN).")});
    parser.addOption({QStringLiteral("download"), QStringLiteral("Download the batch at start (the same as /DOWNLOAD).")});
    parser.addOption({QStringLiteral("headless"),
                      QStringLiteral("Run without a window: driven by the remote control (API and web page) and the watched folder; "
                                     "SIGTERM saves and ends it.")});
    parser.addPositionalArgument(QStringLiteral("option"), QStringLiteral("/SCAN or /DOWNLOAD: the launch options in their own form."),
                                 QStringLiteral("[/SCAN | /DOWNLOAD]"));
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("NZB files to import into the batch."),
                                 QStringLiteral("[file.nzb ...]"));
}

LaunchArguments parseLaunchArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    describeLaunchOptions(parser);
    LaunchArguments out;
    if (!parser.parse(arguments.isEmpty() ? QStringList{QStringLiteral("vantrel")} : arguments)) {
        out.ok = false;
        out.error = parser.errorText();
        return out;
    }
    QStringList words;
    out.headless = parser.isSet(QStringLiteral("headless"));
    if (parser.isSet(QStringLiteral("scan"))) words << QStringLiteral("/SCAN");
    if (parser.isSet(QStringLiteral("download"))) words << QStringLiteral("/DOWNLOAD");
    for (const QString &a : parser.positionalArguments()) {
        if (isNzbFileName(a)) out.nzbFiles << QFileInfo(a).absoluteFilePath();
        else words << a;
    }
    out.raw = words.join(u' ');
    return out;
}

bool wantsConsoleOnly(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) break;
        if (a == QLatin1String("-h") || a == QLatin1String("--help") || a == QLatin1String("--help-all")
            || a == QLatin1String("-v") || a == QLatin1String("--version"))
            return true;
    }
    return false;
}

bool wantsHeadless(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--")) break;
        if (arguments[i] == QLatin1String("--headless")) return true;
    }
    return false;
}

bool isNzbFileName(const QString &name)
{
    return name.endsWith(QLatin1String(".nzb"), Qt::CaseInsensitive) || name.endsWith(QLatin1String(".nzb.gz"), Qt::CaseInsensitive);
}

} // namespace vt
