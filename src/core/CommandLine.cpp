#include "CommandLine.h"
#include "Text.h"

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

} // namespace vt
