#include "AppPaths.h"
#include "Text.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace vt {

AppPaths::AppPaths(QString folder, QString shipped)
    : m_folder(withSlash(QDir::cleanPath(folder))), m_shipped(shipped.isEmpty() ? QString() : withSlash(QDir::cleanPath(shipped)))
{
}

QString AppPaths::shippedOr(const QString &name) const
{
    const QString own = file(name);
    if (m_shipped.isEmpty() || QFileInfo::exists(own)) return own;
    return m_shipped + name;
}

QString AppPaths::installedDataFolder(const QString &exeDir)
{
    const QString d = QDir::cleanPath(exeDir + QStringLiteral("/../share/vantrel"));
    return QFileInfo(d + QStringLiteral("/VANTREL.html")).isFile() ? d : QString();
}

QString AppPaths::userDataFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Vantrel");
}

static bool writable(const QString &dir)
{
    QTemporaryFile probe(withSlash(dir) + QStringLiteral(".vtprobe-XXXXXX"));
    return probe.open();
}

AppPaths AppPaths::forExecutable(const QString &exeDir)
{
    const QString shipped = installedDataFolder(exeDir);
    if (shipped.isEmpty() && writable(exeDir)) return AppPaths(exeDir);
    const QString user = userDataFolder();
    QDir().mkpath(user);
    return AppPaths(user, shipped);
}

namespace {
struct UserTemp {
    bool claimed = false, had = false;
    QByteArray value;
};
UserTemp &userTemp()
{
    static UserTemp t;
    return t;
}
} // namespace

void AppPaths::claimTempFolder() const
{
    QDir own(tempFolder());
    if (own.exists()) own.removeRecursively();
    QDir().mkpath(tempFolder());
    UserTemp &t = userTemp();
    if (!t.claimed) {
        t.claimed = true;
        t.had = qEnvironmentVariableIsSet("TMPDIR");
        t.value = qgetenv("TMPDIR");
    }
    qputenv("TMPDIR", QFile::encodeName(QDir::cleanPath(tempFolder())));
}

QProcessEnvironment AppPaths::childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const UserTemp &t = userTemp();
    if (!t.claimed) return env;
    if (t.had) env.insert(QStringLiteral("TMPDIR"), QFile::decodeName(t.value));
    else env.remove(QStringLiteral("TMPDIR"));
    return env;
}

QString AppPaths::folderName() const
{
    QString f = m_folder;
    if (f.size() > 1 && f.endsWith(u'/')) f.chop(1);
    const qsizetype p = f.lastIndexOf(u'/');
    return p >= 0 ? f.mid(p + 1) : f;
}

} // namespace vt
