#include "Settings.h"
#include "AppPaths.h"
#include "IniFile.h"
#include "OpsLog.h"
#include "Prompter.h"
#include "Text.h"
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace vt {

static const QString kOptions = QStringLiteral("Options");
static const QString kSizing = QStringLiteral("Sizing");
static const QString kServers = QStringLiteral("Servers");
static const QString kCategories = QStringLiteral("Categories");
constexpr int kMaxServers = 100;

QVariant columnCaption(const QVector<ColumnDef> &defs, int section, Qt::Orientation o, int role)
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < defs.size()) return defs[section].caption;
    return {};
}

const QVector<ColumnDef> &Settings::headerColumnDefs()
{
    static const QVector<ColumnDef> d{{"Subject", 360}, {"Parts", 35}, {"MB", 35}, {"From", 70},
                                      {"Date", 70}, {"Newsgroup", 90}, {"Life", 20}};
    return d;
}
const QVector<ColumnDef> &Settings::batchColumnDefs()
{
    static const QVector<ColumnDef> d{{"Subject", 360}, {"Parts", 35}, {"MB", 35}, {"Date", 55},  {"From", 70},
                                      {"Newsgroup", 90}, {"Life", 20}, {"Progress", 110}, {"Time left", 70}};
    return d;
}
const QVector<ColumnDef> &Settings::processedColumnDefs()
{
    static const QVector<ColumnDef> d{{"Subject", 360}, {"Status", 45}, {"Filename", 135}};
    return d;
}

QString Settings::rescanCaption() const
{
    return QStringLiteral("Emergency restart wait:") + num(Rescan_Time) + QStringLiteral(" seconds");
}
QString Settings::timeoutCaption() const
{
    return QStringLiteral("Restart connection if inactive more than ") + QString::number(sldTimeout) + QStringLiteral(" seconds");
}
QString Settings::xoverCaption() const
{
    return QStringLiteral("XOVER burst receive ") + QString::number(sldXOVER) + QStringLiteral(" headers at a time");
}

ServerEntry Settings::firstServer() const
{
    ServerEntry e;
    e.host = News_Host;
    e.port = News_Port;
    e.tls = chkSSL;
    e.user = User_Name;
    e.password = password;
    e.connections = News_Connections;
    return e;
}

QString ScramblePassword(const QString &text, OpsLog *log)
{
    QString out;
    auto *rng = QRandomGenerator::global();
    for (QChar c : text) {
        const int code = c.unicode() + 4;
        if (code > 255) {
            if (log) log->LogOp(QStringLiteral("UserPWX Decryption Error:") + QStringLiteral("character out of range"), true);
            continue;
        }
        // A filler that reads as white space (the blank, or 133, next line) would be trimmed
        // away when the value is read back, shifting every position; draw again.
        int filler;
        do filler = int(120 * rng->generateDouble() + 30); while (QChar(filler).isSpace());
        out += QChar(filler);
        out += QChar(code);
    }
    return out;
}

QString UnscramblePassword(const QString &text, OpsLog *log)
{
    QString out;
    for (qsizetype i = 1; i < text.size(); i += 2) {
        const int code = text[i].unicode() - 4;
        if (code < 0 || code > 255) {
            if (log) log->LogOp(QStringLiteral("UserPWX Decryption Error:") + QStringLiteral("character out of range"), true);
            continue;
        }
        out += QChar(code);
    }
    return out;
}

QString Settings::categoryFolder(const QString &name) const
{
    for (const Category &c : categories)
        if (!name.isEmpty() && c.name.compare(name, Qt::CaseInsensitive) == 0) {
            if (!c.folder.isEmpty()) return c.folder;
            // A name that is a plain folder name; anything else stays in the download folder.
            if (c.name.contains(u'/') || c.name.startsWith(u'.')) return Download_Path;
            return Download_Path + c.name + u'/';
        }
    return Download_Path;
}

int MakeFolder(const QString &path)
{
    if (QFileInfo(path).isDir()) return 0;
    return QDir().mkpath(path) ? 0 : 1;
}

SettingsFile::SettingsFile(const AppPaths &paths, OpsLog &log, Prompter &prompter)
    : m_paths(paths), m_log(log), m_prompter(prompter) {}

namespace {
struct FlagKey {
    const char *key;
    bool Settings::*field;
};
// Step 6 of the load, in its order; also the save order of these flags.
const FlagKey kFlags[] = {
    {"chkAuth", &Settings::chkAuth}, {"chkMakeSubDirs", &Settings::chkMakeSubDirs},
    {"chkSFX", &Settings::chkSFX}, {"chkDisableStats", &Settings::chkDisableStats},
    {"chkSaveDecodes", &Settings::chkSaveDecodes}, {"chkDirectDecode", &Settings::chkDirectDecode}, {"chkOldRenameStyle", &Settings::chkOldRenameStyle},
    {"chkAutoDelBatch", &Settings::chkAutoDelBatch}, {"chkSlave", &Settings::chkSlave},
    {"chkModeReader", &Settings::chkModeReader}, {"chkAllowRestart", &Settings::chkAllowRestart},
    {"chkRestart500", &Settings::chkRestart500}, {"chkAutodownload", &Settings::chkAutodownload},
    {"chkSaveAfterScan", &Settings::chkSaveAfterScan}, {"chkAlwaysSaveHeaders", &Settings::chkAlwaysSaveHeaders},
    {"chkResetNewOnScan", &Settings::chkResetNewOnScan}, {"chkAutoExpire", &Settings::chkAutoExpire},
    {"chkEnableWatch", &Settings::chkEnableWatch}, {"chkLogFile", &Settings::chkLogFile},
    {"chkEnableLogging", &Settings::chkEnableLogging}, {"chkSSL", &Settings::chkSSL},
    {"chkPar2Verify", &Settings::chkPar2Verify}, {"chkPar2Repair", &Settings::chkPar2Repair},
    {"chkPar2Delete", &Settings::chkPar2Delete}, {"chkPar2KeepBackups", &Settings::chkPar2KeepBackups},
    {"chkUnpack", &Settings::chkUnpack}, {"chkUnpackKeepArchives", &Settings::chkUnpackKeepArchives},
    {"chkCompress", &Settings::chkCompress}, {"chkNotify", &Settings::chkNotify}, {"chkTray", &Settings::chkTray},
    {"chkRemote", &Settings::chkRemote},
};
const FlagKey kToggles[] = {
    {"togtsComplete", &Settings::togtsComplete}, {"togtsText", &Settings::togtsText},
    {"togtsUnknown", &Settings::togtsUnknown}, {"togtsIncomplete", &Settings::togtsIncomplete},
    {"togtsInBatch", &Settings::togtsInBatch},
};
QString flag(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }
} // namespace

void SettingsFile::LoadSettings(Settings &s)
{
    IniFile ini(m_paths.ini());
    if (!ini.load()) m_log.LogOp(QStringLiteral("Error: cannot read ") + m_paths.ini(), true);
    auto get = [&](const char *key) { return ini.value(kOptions, QString::fromLatin1(key)); };

    if (auto v = get("Download_Path")) {
        s.Download_Path = withSlash(trimBlanks(*v));
    } else {
        s.setupNeeded = true;
        s.Download_Path = m_paths.folder() + QStringLiteral("download/");
    }
    if (MakeFolder(s.Download_Path) == 1) {
        m_prompter.message(QStringLiteral("Error re-creating missing download path, please re-select."));
        PickDownloadFolder(s);
    }
    if (auto v = get("Cache_Path")) s.Cache_Path = withSlash(trimBlanks(*v));
    else s.Cache_Path = s.Download_Path + QStringLiteral("vtcache/");
    if (MakeFolder(s.Cache_Path) == 1) {
        m_prompter.message(QStringLiteral("Error re-creating missing cache path, please re-select."));
        PickCacheFolder(s);
    }

    auto slider = [&](const char *key, int &field, bool (*inRange)(qint64)) {
        if (auto v = get(key)) {
            const qint64 n = leadingInt(trimBlanks(*v));
            if (inRange(n)) field = int(n);
        }
    };
    auto boolKey = [&](const char *key, bool &field) {
        if (auto v = get(key)) field = leadingInt(trimBlanks(*v)) == 1;
    };
    slider("Rescan_Time", s.Rescan_Time, &Settings::rescanInRange);
    slider("sldTimeout", s.sldTimeout, &Settings::timeoutInRange);
    boolKey("chkAgressiveHeaderCrunch", s.chkAgressiveHeaderCrunch);

    if (auto v = get("News_Host")) s.News_Host = trimBlanks(*v);
    else s.setupNeeded = true;
    if (auto v = get("News_Port")) s.News_Port = trimBlanks(*v);
    if (auto v = get("User_Name")) s.User_Name = trimBlanks(*v);
    boolKey("chkSavePassword", s.chkSavePassword);

    if (auto v = get("User_PWX")) {
        s.password = UnscramblePassword(trimBlanks(*v), &m_log);
    } else if (auto old = get("User_Pass")) {
        s.password = trimBlanks(*old);
        ini.setValue(kOptions, QStringLiteral("User_Pass"), QString());
        ini.setValue(kOptions, QStringLiteral("User_PWX"), ScramblePassword(s.password, &m_log));
        writeBack(ini);
    }

    if (auto v = get("Download_Limit"); v && Settings::limitInRange(leadingInt(trimBlanks(*v))))
        s.Download_Limit = int(leadingInt(trimBlanks(*v)));
    // Each password percent-encoded, a blank between them: any character survives the file.
    if (auto v = get("Unpack_Passwords")) {
        s.Unpack_Passwords.clear();
        for (const QString &p : v->split(u' ', Qt::SkipEmptyParts))
            s.Unpack_Passwords << QString::fromUtf8(QByteArray::fromPercentEncoding(p.toLatin1()));
    }
    if (auto v = get("News_Connections"); v && ServerEntry::connectionsInRange(leadingInt(trimBlanks(*v))))
        s.News_Connections = int(leadingInt(trimBlanks(*v)));
    if (auto v = get("Scan_Connections"); v && ServerEntry::connectionsInRange(leadingInt(trimBlanks(*v))))
        s.Scan_Connections = int(leadingInt(trimBlanks(*v)));
    // The servers after the first: Host2, Port2, ... A number without a host is no server;
    // a value out of range keeps its default.
    s.servers.clear();
    for (int n = 2; n <= kMaxServers; ++n) {
        auto at = [&](const char *key) { return ini.value(kServers, QString::fromLatin1(key) + QString::number(n)); };
        const auto host = at("Host");
        if (!host || trimBlanks(*host).isEmpty()) continue;
        ServerEntry e;
        e.host = trimBlanks(*host);
        if (auto v = at("Port")) e.port = trimBlanks(*v);
        if (auto v = at("TLS")) e.tls = leadingInt(trimBlanks(*v)) == 1;
        if (auto v = at("User")) e.user = trimBlanks(*v);
        if (auto v = at("PWX")) e.password = UnscramblePassword(trimBlanks(*v), &m_log);
        if (auto v = at("Connections"); v && ServerEntry::connectionsInRange(leadingInt(trimBlanks(*v))))
            e.connections = int(leadingInt(trimBlanks(*v)));
        if (auto v = at("Level"); v && leadingInt(trimBlanks(*v)) >= 0 && leadingInt(trimBlanks(*v)) <= kMaxServers)
            e.level = int(leadingInt(trimBlanks(*v)));
        if (auto v = at("On")) e.enabled = leadingInt(trimBlanks(*v)) == 1;
        s.servers.push_back(e);
    }

    if (auto v = get("Remote_Address"); v && !trimBlanks(*v).isEmpty()) s.Remote_Address = trimBlanks(*v);
    if (auto v = get("Remote_Port"); v && leadingInt(trimBlanks(*v)) >= 0 && leadingInt(trimBlanks(*v)) <= 65535)
        s.Remote_Port = int(leadingInt(trimBlanks(*v)));
    if (auto v = get("Remote_ApiKey")) s.Remote_ApiKey = trimBlanks(*v);
    if (auto v = get("Remote_User")) s.Remote_User = trimBlanks(*v);
    if (auto v = get("Remote_PWX")) s.Remote_Password = UnscramblePassword(trimBlanks(*v), &m_log);
    if (auto v = get("Nzb_Watch_Folder")) s.Nzb_Watch_Folder = trimBlanks(*v).isEmpty() ? QString() : withSlash(trimBlanks(*v));
    s.categories.clear();
    for (int n = 1; n <= kMaxServers; ++n) {
        const auto name = ini.value(kCategories, QStringLiteral("Name") + QString::number(n));
        if (!name || trimBlanks(*name).isEmpty()) continue;
        const auto folder = ini.value(kCategories, QStringLiteral("Folder") + QString::number(n));
        const QString f = folder ? trimBlanks(*folder) : QString();
        s.categories.push_back({trimBlanks(*name), f.isEmpty() ? QString() : withSlash(f)});
    }

    s.acceptedCertificates.clear();
    if (auto v = get("Accepted_Certs")) {
        for (const QString &pair : v->split(u'|', Qt::SkipEmptyParts)) {
            const qsizetype sp = pair.indexOf(u' ');
            if (sp > 0) s.acceptedCertificates.insert(pair.left(sp), pair.mid(sp + 1).trimmed());
        }
    }
    int i = 0;
    for (const FlagKey &f : kFlags) {
        boolKey(f.key, s.*(f.field));
        if (++i == 9) slider("sldXOVER", s.sldXOVER, &Settings::xoverInRange); // after chkModeReader
    }
    for (const FlagKey &t : kToggles) {
        s.*(t.field) = true;
        if (auto v = get(t.key)) {
            const QString x = trimBlanks(*v);
            if (x.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) s.*(t.field) = false;
            else if (x.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) s.*(t.field) = true;
            else if (!x.isEmpty() && (x[0].isDigit() || x[0] == u'-')) s.*(t.field) = leadingInt(x) != 0;
        }
    }
}

bool SettingsFile::writeBack(IniFile &ini)
{
    QString err;
    if (ini.save(&err)) return true;
    m_log.LogOp(QStringLiteral("Error: settings not saved to ") + ini.path() + QStringLiteral(": ") + err, true);
    return false;
}

bool SettingsFile::SaveSettings(const Settings &s)
{
    IniFile ini(m_paths.ini());
    ini.load();
    auto put = [&](const char *key, const QString &v) { ini.setValue(kOptions, QString::fromLatin1(key), v); };
    put("Download_Path", trimBlanks(s.Download_Path));
    put("Cache_Path", trimBlanks(s.Cache_Path));
    put("Rescan_Time", QString::number(s.Rescan_Time));
    put("sldTimeout", QString::number(s.sldTimeout));
    put("sldXOVER", QString::number(s.sldXOVER));
    put("chkAgressiveHeaderCrunch", flag(s.chkAgressiveHeaderCrunch));
    put("News_Host", trimBlanks(s.News_Host));
    put("News_Port", trimBlanks(s.News_Port));
    put("User_Name", trimBlanks(s.User_Name));
    put("chkSavePassword", flag(s.chkSavePassword));
    put("User_PWX", s.chkSavePassword ? ScramblePassword(trimBlanks(s.password), &m_log) : QString());
    for (const FlagKey &f : kFlags) put(f.key, flag(s.*(f.field)));
    QStringList certs;
    for (auto it = s.acceptedCertificates.cbegin(); it != s.acceptedCertificates.cend(); ++it) certs << it.key() + u' ' + it.value();
    put("Accepted_Certs", certs.join(u'|'));
    put("News_Connections", QString::number(s.News_Connections));
    put("Scan_Connections", QString::number(s.Scan_Connections));
    put("Download_Limit", QString::number(s.Download_Limit));
    QStringList passwords;
    for (const QString &p : s.Unpack_Passwords)
        if (!p.isEmpty()) passwords << QString::fromLatin1(p.toUtf8().toPercentEncoding());
    put("Unpack_Passwords", passwords.join(u' '));
    put("Remote_Address", trimBlanks(s.Remote_Address));
    put("Remote_Port", QString::number(s.Remote_Port));
    put("Remote_ApiKey", s.Remote_ApiKey);
    put("Remote_User", trimBlanks(s.Remote_User));
    put("Remote_PWX", s.Remote_Password.isEmpty() ? QString() : ScramblePassword(s.Remote_Password, &m_log));
    put("Nzb_Watch_Folder", trimBlanks(s.Nzb_Watch_Folder));
    ini.clearSection(kCategories);
    int c = 1;
    for (const Category &cat : s.categories) {
        if (trimBlanks(cat.name).isEmpty() || c > kMaxServers) continue;
        ini.setValue(kCategories, QStringLiteral("Name") + QString::number(c), trimBlanks(cat.name));
        ini.setValue(kCategories, QStringLiteral("Folder") + QString::number(c), trimBlanks(cat.folder));
        ++c;
    }
    ini.clearSection(kServers);
    int n = 2;
    for (const ServerEntry &e : s.servers) {
        if (trimBlanks(e.host).isEmpty() || n > kMaxServers) continue;
        auto at = [&](const char *key, const QString &v) { ini.setValue(kServers, QString::fromLatin1(key) + QString::number(n), v); };
        at("Host", trimBlanks(e.host));
        at("Port", trimBlanks(e.port));
        at("TLS", flag(e.tls));
        at("User", trimBlanks(e.user));
        // Kept as the first server's: scrambled, and only when passwords are to be saved.
        at("PWX", s.chkSavePassword ? ScramblePassword(trimBlanks(e.password), &m_log) : QString());
        at("Connections", QString::number(e.connections));
        at("Level", QString::number(e.level));
        at("On", flag(e.enabled));
        ++n;
    }
    for (const FlagKey &t : kToggles) put(t.key, s.*(t.field) ? QStringLiteral("True") : QStringLiteral("False"));
    return writeBack(ini);
}

void SettingsFile::LoadWindowSizes(Settings &s)
{
    IniFile ini(m_paths.ini());
    ini.load();
    auto num = [&](const char *key) -> std::optional<int> {
        if (auto v = ini.value(kSizing, QString::fromLatin1(key))) return int(leadingInt(trimBlanks(*v)));
        return std::nullopt;
    };
    s.Top = num("Top");
    if (s.Top) {
        s.Left = num("Left");
        s.Width = num("Width");
        s.Height = num("Height");
        if (auto w = num("WindowState")) s.WindowState = *w;
    } else {
        s.Left = s.Width = s.Height = std::nullopt; // centred by the window
    }
}

bool SettingsFile::SaveWindowSizes(const Settings &s)
{
    IniFile ini(m_paths.ini());
    ini.load();
    ini.setValue(kSizing, QStringLiteral("WindowState"), QString::number(s.WindowState));
    if (s.WindowState == 0 && s.Top && s.Left && s.Width && s.Height) {
        ini.setValue(kSizing, QStringLiteral("Top"), QString::number(*s.Top));
        ini.setValue(kSizing, QStringLiteral("Left"), QString::number(*s.Left));
        ini.setValue(kSizing, QStringLiteral("Height"), QString::number(*s.Height));
        ini.setValue(kSizing, QStringLiteral("Width"), QString::number(*s.Width));
    }
    return writeBack(ini);
}

static const QString kColSections[3] = {QStringLiteral("Header View Column Sizes"),
                                        QStringLiteral("Batch View Column Sizes"),
                                        QStringLiteral("Proccessed View Column Sizes")};

void SettingsFile::LoadColumnSizes(Settings &s)
{
    IniFile ini(m_paths.ini());
    ini.load();
    const QVector<ColumnDef> *defs[3] = {&Settings::headerColumnDefs(), &Settings::batchColumnDefs(),
                                         &Settings::processedColumnDefs()};
    QVector<int> *out[3] = {&s.headerColumns, &s.batchColumns, &s.processedColumns};
    for (int k = 0; k < 3; ++k) {
        out[k]->clear();
        s.columnsSaved[k] = false;
        for (int i = 1; i <= defs[k]->size(); ++i) {
            int w = (*defs[k])[i - 1].defaultWidth;
            if (auto v = ini.value(kColSections[k], QStringLiteral("C%1").arg(i))) {
                s.columnsSaved[k] = true;
                const qint64 n = leadingInt(trimBlanks(*v));
                if (n >= 1 && n < 100000) w = int(n);
            }
            out[k]->append(w);
        }
    }
}

bool SettingsFile::SaveColumnSizes(const Settings &s)
{
    IniFile ini(m_paths.ini());
    ini.load();
    const QVector<int> *in[3] = {&s.headerColumns, &s.batchColumns, &s.processedColumns};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < in[k]->size(); ++i)
            ini.setValue(kColSections[k], QStringLiteral("C%1").arg(i + 1), QString::number((*in[k])[i]));
    return writeBack(ini);
}

std::optional<QString> SettingsFile::readOption(const QString &key)
{
    IniFile ini(m_paths.ini());
    ini.load();
    return ini.value(kOptions, key);
}

bool SettingsFile::writeOptions(const QList<QPair<QString, QString>> &values)
{
    IniFile ini(m_paths.ini());
    ini.load();
    for (const auto &kv : values) ini.setValue(kOptions, kv.first, kv.second);
    return writeBack(ini);
}

FolderPick downloadFolderPick()
{
    return {"Select 'Base Download' Folder",
            "This is the folder where downloded files are saved (or folders are made with individual group names, if 'Create Sub-Folders for each group' is on)."};
}

FolderPick cacheFolderPick()
{
    return {"Select 'Cache' Folder", "This is the folder where parts of multipart items are stored until they are decoded."};
}

void SettingsFile::pick(QString &field, FolderPick what)
{
    // The settings outlive the picker: the field is set when the folder is chosen.
    m_prompter.pickFolder(QString::fromUtf8(what.title), QString::fromUtf8(what.explanation), field, &m_picks,
                          [&field](const QString &chosen) {
                              if (!chosen.isEmpty()) field = withSlash(chosen);
                          });
}

void SettingsFile::PickDownloadFolder(Settings &s) { pick(s.Download_Path, downloadFolderPick()); }

void SettingsFile::PickCacheFolder(Settings &s) { pick(s.Cache_Path, cacheFolderPick()); }

} // namespace vt
