#pragma once
#include <QProcessEnvironment>
#include <QString>

namespace vt {

// The application folder holds every data file. It is the executable's folder; when
// that is not writable, or the program is installed (its files in ../share/vantrel), the
// user's data folder (~/.local/share/Vantrel) takes its place so nothing is lost. The
// files the program ships (help, skin pictures) come from the installed folder unless the
// application folder has its own.
class AppPaths {
public:
    explicit AppPaths(QString folder, QString shipped = {});
    static AppPaths forExecutable(const QString &exeDir);
    // The installed files' folder for a program in exeDir, or "" when it runs where built.
    static QString installedDataFolder(const QString &exeDir);
    static QString userDataFolder();

    QString folder() const { return m_folder; }          // ends with "/"
    QString file(const QString &name) const { return m_folder + name; }
    QString ini() const { return file(QStringLiteral("VANTREL.INI")); }
    QString opsLog() const { return file(QStringLiteral("OPSLOG.TXT")); }
    QString favs() const { return file(QStringLiteral("favs.txt")); }
    QString headers() const { return file(QStringLiteral("npending.dat")); }
    QString nzbOrigins() const { return file(QStringLiteral("nzb.dat")); }
    QString jobs() const { return file(QStringLiteral("jobs.dat")); }
    QString batchJournal() const { return file(QStringLiteral("batch.jnl")); }
    QString processed() const { return file(QStringLiteral("processed.txt")); }
    QString par2Work() const { return file(QStringLiteral("par2sets.txt")); }
    QString watch() const { return file(QStringLiteral("WATCH.TXT")); }
    QString hostGroups() const { return file(QStringLiteral("HOSTGRPS.TXT")); }
    QString soundFolder() const { return file(QStringLiteral("sfx/")); }
    QString skinFolder() const { return shippedOr(QStringLiteral("vantrelskin/")); }
    QString helpFile() const { return shippedOr(QStringLiteral("VANTREL.html")); }
    QString tempFolder() const { return file(QStringLiteral("temp/")); }
    // The decoding library makes its work files under $TMPDIR: the running program points
    // it at its own folder, emptied at each start (a killed decode leaves them there), and
    // gives the programs it starts the user's own.
    void claimTempFolder() const;
    static QProcessEnvironment childEnvironment();
    // Last component of the folder, for the minimized window title.
    QString folderName() const;

private:
    QString shippedOr(const QString &name) const;
    QString m_folder;
    QString m_shipped;   // ends with "/", or empty
};

} // namespace vt
