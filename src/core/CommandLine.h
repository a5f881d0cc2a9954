#pragma once
#include <QString>

namespace vt {

// The launch options: matched whole after trimming blanks and upper-casing.
enum class LaunchAction { None, Scan, Download, Invalid };
LaunchAction parseCommandLine(const QString &raw);
// The message for an option that is not valid, quoting the command line as received.
QString invalidCommandLineMessage(const QString &raw);

} // namespace vt
