#pragma once
#include <QVariant>
// The settings record and its file, VANTREL.INI: section "Options", the five view
// toggles, "Sizing" and the three column sections.
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>
#include <optional>
#include <vector>

namespace vt {

// The port after TLS is switched: the standard plain port 119 becomes 563 and back; any
// other port is the user's own choice and stays.
inline QString portAfterTlsSwitch(const QString &port, bool tls)
{
    const QString p = port.trimmed();
    if (tls && (p == QLatin1String("119") || p.isEmpty())) return QStringLiteral("563");
    if (!tls && p == QLatin1String("563")) return QStringLiteral("119");
    return port;
}

class AppPaths;
class IniFile;
class OpsLog;
class Prompter;

struct ColumnDef {
    QString caption;
    int defaultWidth;
};

// The caption of a list column for a model's headerData.
QVariant columnCaption(const QVector<ColumnDef> &defs, int section, Qt::Orientation o, int role);

// A news server. The first one's fields are the settings' own keys (see
// Settings::firstServer); the others live in section "Servers", numbered from 2.
struct ServerEntry {
    QString host;
    QString port = QStringLiteral("119");
    bool tls = false;
    QString user, password;
    int connections = 1;   // at once, 1..50
    int level = 0;         // 0: main; 1, 2, ...: backups, asked in that order
    bool enabled = true;
    static bool connectionsInRange(qint64 v) { return v >= 1 && v <= 50; }
    bool operator==(const ServerEntry &) const = default;
};

// A category of downloads (an automation tool's "tv", "movies"): its own download folder.
// An empty folder means a folder of that name inside the download folder.
struct Category {
    QString name, folder;
    bool operator==(const Category &) const = default;
};

struct Settings {
    // Folders, always ending with "/".
    QString Download_Path;
    QString Cache_Path;
    // Sliders.
    int Rescan_Time = 90;     // sldRescan 5..240
    int sldTimeout = 60;      // 15..240
    int sldXOVER = 100;       // 20..3000
    bool chkAgressiveHeaderCrunch = false;
    // Login.
    QString News_Host;
    QString News_Port = QStringLiteral("119");
    QString User_Name;
    bool chkSavePassword = false;
    QString password;         // as typed; stored scrambled in "User_PWX"
    bool chkAuth = false;
    bool chkModeReader = false;
    bool chkSSL = false;      // every connection over TLS
    bool chkCompress = true;  // the scan asks for compression (COMPRESS DEFLATE) where offered
    bool chkNotify = true;    // a desktop notification when a download or a scan ends or fails
    bool chkTray = false;     // a tray icon with the speed and what is left
    // Certificates the user accepted although they could not be verified: host -> SHA-256.
    QMap<QString, QString> acceptedCertificates;
    // The download's speed limit in KB/s, 0 = none.
    int Download_Limit = 0;
    static bool limitInRange(qint64 v) { return v >= 0 && v <= 10'000'000; }
    // The first server's connections at once (its other keys are the ones above).
    int News_Connections = 1;
    int Scan_Connections = 1;   // the scan's connections to the main server, 1..50
    // The servers after the first, in section "Servers".
    std::vector<ServerEntry> servers;
    bool chkSlave = false;
    // Options.
    bool chkMakeSubDirs = true;
    bool chkSFX = false;
    bool chkDisableStats = false;
    bool chkSaveDecodes = false;
    // yEnc parts decoded as they arrive, straight into their file; off, every part goes to
    // the part cache first and the item is decoded from there once all are in.
    bool chkDirectDecode = true;
    bool chkOldRenameStyle = false;
    bool chkAutoDelBatch = true;
    bool chkAllowRestart = true;
    bool chkRestart500 = false;
    bool chkAutodownload = true;
    bool chkSaveAfterScan = false;
    bool chkAlwaysSaveHeaders = false;
    bool chkResetNewOnScan = false;
    bool chkAutoExpire = true;
    bool chkEnableWatch = false;
    bool chkLogFile = false;
    bool chkEnableLogging = false;
    // par2 sets among decoded files: verified, repaired (fetching the recovery volumes
    // needed), and their par2 files deleted after a successful repair.
    bool chkPar2Verify = true;
    bool chkPar2Repair = true;
    bool chkPar2Delete = false;
    bool chkPar2KeepBackups = false;   // par2's backups and the damaged copies after a repair
    bool chkUnpack = true;              // archives unpacked once their set is whole
    bool chkUnpackKeepArchives = false; // the archives (and par2 files) after a good unpack
    QStringList Unpack_Passwords;       // tried on every locked archive, after its NZB's own
    // Remote control: the API automation tools speak and the web page, on this address
    // (127.0.0.1 unless the user opens it wider); port 0 takes any free one.
    bool chkRemote = false;
    QString Remote_Address = QStringLiteral("127.0.0.1");
    int Remote_Port = 8095;
    QString Remote_ApiKey;              // made on first use
    QString Remote_User, Remote_Password;   // the web page's other way in; the password kept scrambled
    QString Nzb_Watch_Folder;           // NZB files put here are imported and removed; empty: none
    std::vector<Category> categories;
    // The folder a category's downloads go to (ends with "/"); the download folder for
    // none or an unknown one.
    QString categoryFolder(const QString &name) const;
    // View toggles (toolbar buttons 1 to 5).
    bool togtsComplete = true;
    bool togtsText = true;
    bool togtsUnknown = true;
    bool togtsIncomplete = true;
    bool togtsInBatch = true;

    // Set when the file has no "Download_Path" or no "News_Host".
    bool setupNeeded = false;

    // "Sizing": window state 0 normal, 1 minimized, 2 maximized; geometry in twips.
    int WindowState = 0;
    std::optional<int> Top, Left, Width, Height;

    // Column widths of the header, batch and processed lists.
    QVector<int> headerColumns, batchColumns, processedColumns;
    // Whether the settings file held widths for the header, batch and processed lists; a
    // list without them is fitted to its first rows.
    bool columnsSaved[3] = {false, false, false};

    static const QVector<ColumnDef> &headerColumnDefs();
    static const QVector<ColumnDef> &batchColumnDefs();
    static const QVector<ColumnDef> &processedColumnDefs();

    // Slider ranges; out-of-range values are refused.
    static bool rescanInRange(qint64 v) { return v >= 5 && v <= 240; }
    static bool timeoutInRange(qint64 v) { return v >= 15 && v <= 240; }
    static bool xoverInRange(qint64 v) { return v >= 20 && v <= 3000; }

    // Slider captions as shown next to each slider.
    QString rescanCaption() const;
    QString timeoutCaption() const;
    QString xoverCaption() const;
    // The first server as an entry of the list: always a main server.
    ServerEntry firstServer() const;
};

// Title and explanation of the two folder pickers.
struct FolderPick {
    const char *title, *explanation;
};
FolderPick downloadFolderPick();
FolderPick cacheFolderPick();

// Password concealment used in the file (not protection).
QString ScramblePassword(const QString &text, OpsLog *log = nullptr);
QString UnscramblePassword(const QString &text, OpsLog *log = nullptr);

// Creates the folder when it does not exist; 0 on success (or already there), 1 on failure.
int MakeFolder(const QString &path);

class SettingsFile {
public:
    SettingsFile(const AppPaths &paths, OpsLog &log, Prompter &prompter);

    // Reads the file; a missing file reads as all keys absent.
    void LoadSettings(Settings &s);
    void LoadWindowSizes(Settings &s);
    void LoadColumnSizes(Settings &s);
    // Each writes its sections into the file (read afresh, so other tools' keys stay).
    bool SaveSettings(const Settings &s);
    bool SaveWindowSizes(const Settings &s);
    bool SaveColumnSizes(const Settings &s);
    // One value of section "Options", for the exit dialog.
    std::optional<QString> readOption(const QString &key);
    bool writeOptions(const QList<QPair<QString, QString>> &values);

    // The folder picker; the field changes when a folder is chosen, not before.
    void PickDownloadFolder(Settings &s);
    void PickCacheFolder(Settings &s);

private:
    bool writeBack(IniFile &ini);
    void pick(QString &field, FolderPick what);
    QObject m_picks;   // owns the pickers' answers
    const AppPaths &m_paths;
    OpsLog &m_log;
    Prompter &m_prompter;
};

} // namespace vt
