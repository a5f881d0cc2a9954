#include "AppPaths.h"
#include "Text.h"
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace vt {

AppPaths::AppPaths(QString folder) : m_folder(withSlash(QDir::cleanPath(folder))) {}

static bool writable(const QString &dir)
{
    QTemporaryFile probe(withSlash(dir) + QStringLiteral(".vtprobe-XXXXXX"));
    return probe.open();
}

AppPaths AppPaths::forExecutable(const QString &exeDir)
{
    if (writable(exeDir)) return AppPaths(exeDir);
    const QString fallback = QDir::homePath() + QStringLiteral("/.local/share/Vantrel");
    QDir().mkpath(fallback);
    return AppPaths(fallback);
}

QString AppPaths::folderName() const
{
    QString f = m_folder;
    if (f.size() > 1 && f.endsWith(u'/')) f.chop(1);
    const qsizetype p = f.lastIndexOf(u'/');
    return p >= 0 ? f.mid(p + 1) : f;
}

} // namespace vt
