#pragma once
#include <QString>

namespace vt {

// The application folder holds every data file. It is the executable's folder; when
// that is not writable the user's data folder takes its place so nothing is lost.
class AppPaths {
public:
    explicit AppPaths(QString folder);
    static AppPaths forExecutable(const QString &exeDir);

    QString folder() const { return m_folder; }          // ends with "/"
    QString file(const QString &name) const { return m_folder + name; }
    QString ini() const { return file(QStringLiteral("VANTREL.INI")); }
    QString opsLog() const { return file(QStringLiteral("OPSLOG.TXT")); }
    QString favs() const { return file(QStringLiteral("favs.txt")); }
    QString headers() const { return file(QStringLiteral("npending.dat")); }
    QString watch() const { return file(QStringLiteral("WATCH.TXT")); }
    QString hostGroups() const { return file(QStringLiteral("HOSTGRPS.TXT")); }
    QString soundFolder() const { return file(QStringLiteral("sfx/")); }
    QString skinFolder() const { return file(QStringLiteral("vantrelskin/")); }
    QString helpFile() const { return file(QStringLiteral("VANTREL.html")); }
    // Last component of the folder, for the minimized window title.
    QString folderName() const;

private:
    QString m_folder;
};

} // namespace vt
