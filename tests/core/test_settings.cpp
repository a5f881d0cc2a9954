// The settings file: hand-written files, case, defaults, ranges, password migration,
// write-back and the atomic save.
#include "TestSupport.h"
#include "core/AppCore.h"
#include "core/IniFile.h"
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace vt;

namespace {
struct Env {
    QTemporaryDir dir;
    QuietPrompter prompter;
    AppCore core{AppPaths(dir.path()), prompter};
    void write(const QByteArray &text)
    {
        QFile f(core.paths.ini());
        f.open(QIODevice::WriteOnly);
        f.write(text);
    }
    QByteArray read() const
    {
        QFile f(core.paths.ini());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    Settings load()
    {
        Settings s;
        core.settingsFile.LoadSettings(s);
        return s;
    }
};
} // namespace

TEST(Settings, HandWrittenFileOfAnotherTool)
{
    Env e;
    const QByteArray dl = (e.dir.path() + "/dl").toUtf8();
    e.write("; written by hand\n"
            "[Other Tool]\nkeep=this value\n\n"
            "[options]\n"
            "  download_path = " + dl + "\n"
            "NEWS_HOST=news.example.com\n"
            "news_port=\"563\"\n"
            "Rescan_Time=500\n"
            "sldTimeout=30 seconds\n"
            "sldXOVER=10\n"
            "chkAutoExpire=0\n"
            "chkAutoDelBatch=\n"
            "chkSFX=1\n"
            "togtsText=False\n"
            "togtsUnknown=maybe\n");
    Settings s = e.load();
    EXPECT_FALSE(s.setupNeeded);
    EXPECT_EQ(s.Download_Path, dl + "/");
    EXPECT_EQ(s.Cache_Path, dl + "/vtcache/");
    EXPECT_TRUE(QFileInfo(s.Cache_Path).isDir()) << "missing folders are created";
    EXPECT_EQ(s.News_Host, "news.example.com");
    EXPECT_EQ(s.News_Port, "563");
    EXPECT_EQ(s.Rescan_Time, 90) << "out of the slider's range keeps the default";
    EXPECT_EQ(s.sldTimeout, 30) << "leading number of the text";
    EXPECT_EQ(s.sldXOVER, 100);
    EXPECT_FALSE(s.chkAutoExpire);
    EXPECT_TRUE(s.chkAutoDelBatch) << "empty value reads as absent";
    EXPECT_TRUE(s.chkSFX);
    EXPECT_FALSE(s.togtsText);
    EXPECT_TRUE(s.togtsUnknown);

    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    const QByteArray out = e.read();
    EXPECT_TRUE(out.contains("[Other Tool]\r\nkeep=this value\r\n")) << out.constData();
    EXPECT_TRUE(out.contains("; written by hand"));
    // The existing key keeps its spelling; values are written bare.
    EXPECT_TRUE(out.contains("news_port=563\r\n")) << out.constData();
    EXPECT_TRUE(out.contains("chkAutoExpire=0\r\n"));
    EXPECT_TRUE(out.contains("togtsText=False\r\n"));
    EXPECT_TRUE(out.contains("Rescan_Time=90\r\n"));
    EXPECT_FALSE(out.contains("\"")) << "no quoting added";
    EXPECT_EQ(out.count("[options]") + out.count("[Options]"), 1);
    // Archive passwords: any character, one per entry, back as they were.
    s.Unpack_Passwords = {"two words", "p%w\t;=x", QString::fromUtf8("pässwört")};
    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    Settings back;
    e.core.settingsFile.LoadSettings(back);
    EXPECT_EQ(back.Unpack_Passwords, s.Unpack_Passwords);
}

TEST(Settings, MissingFileAndMissingHost)
{
    Env e;
    Settings s = e.load();
    EXPECT_TRUE(s.setupNeeded);
    EXPECT_EQ(s.Download_Path, e.core.paths.folder() + "download/");
    EXPECT_TRUE(QFileInfo(s.Download_Path).isDir());
    EXPECT_TRUE(QFileInfo(s.Cache_Path).isDir());
    EXPECT_TRUE(s.chkAutoExpire);
    EXPECT_EQ(s.News_Port, "119");

    Env e2;
    e2.write("[Options]\r\nDownload_Path=" + (e2.dir.path() + "/d/").toUtf8() + "\r\nsldXOVER=3000\r\n");
    Settings s2 = e2.load();
    EXPECT_TRUE(s2.setupNeeded) << "no News_Host";
    EXPECT_EQ(s2.sldXOVER, 3000);
}

TEST(Settings, UncreatableDownloadFolderAsksForAnother)
{
    Env e;
    QFile blocker(e.dir.path() + "/file");
    blocker.open(QIODevice::WriteOnly);
    blocker.close();
    e.write("[Options]\r\nDownload_Path=" + (e.dir.path() + "/file/sub/").toUtf8() + "\r\nNews_Host=h\r\n");
    e.load();
    ASSERT_FALSE(e.prompter.messages.isEmpty());
    EXPECT_EQ(e.prompter.messages.first(), "Error re-creating missing download path, please re-select.");
    EXPECT_EQ(e.prompter.folderPicks.first(), "Select 'Base Download' Folder");
}

TEST(Settings, PasswordScrambling)
{
    for (int round = 0; round < 200; ++round) {
        const QString pw = QStringLiteral("pa ss%1").arg(round);
        const QString x = ScramblePassword(pw);
        ASSERT_EQ(x.size(), pw.size() * 2);
        for (int i = 0; i < pw.size(); ++i) {
            EXPECT_EQ(x[2 * i + 1].unicode(), pw[i].unicode() + 4);
            const int filler = x[2 * i].unicode();
            EXPECT_TRUE(filler >= 30 && filler <= 149 && filler != 32);
        }
        EXPECT_EQ(UnscramblePassword(x), pw);
    }
    EXPECT_EQ(ScramblePassword(QString()), QString());
    EXPECT_EQ(UnscramblePassword(QString()), QString());
    OpsLog log;
    log.enableLogging = true;
    EXPECT_EQ(ScramblePassword(QString(QChar(0xFD)) + "a", &log).size(), 2) << "code above 255 after +4 is left out";
    EXPECT_TRUE(log.list()->rows().first().contains("UserPWX Decryption Error:"));
}

TEST(Settings, OldPlainPasswordIsMovedToScrambledForm)
{
    Env e;
    e.write("[Options]\r\nNews_Host=h\r\nUser_Pass= abc \r\n");
    Settings s = e.load();
    EXPECT_EQ(s.password, "abc");
    IniFile ini(e.core.paths.ini());
    ini.load();
    EXPECT_FALSE(ini.value("Options", "User_Pass").has_value()) << "emptied";
    const QString pwx = *ini.value("Options", "User_PWX");
    ASSERT_EQ(pwx.size(), 6);
    EXPECT_EQ(pwx[1].unicode(), 'a' + 4);
    EXPECT_EQ(pwx[3].unicode(), 'b' + 4);
    EXPECT_EQ(pwx[5].unicode(), 'c' + 4);
    EXPECT_EQ(e.load().password, "abc") << "read back from User_PWX";
}

TEST(Settings, PasswordSavedOnlyWhenAsked)
{
    Env e;
    Settings s = e.load();
    s.password = "typed";
    s.chkSavePassword = false;
    e.core.settingsFile.SaveSettings(s);
    EXPECT_TRUE(e.read().contains("User_PWX=\r\n"));
    s.chkSavePassword = true;
    // The fillers are random: a filler that is white space once in a while must not matter.
    for (int round = 0; round < 300; ++round) {
        e.core.settingsFile.SaveSettings(s);
        ASSERT_EQ(e.load().password, "typed") << "round " << round;
    }
}

// The servers after the first: their own section, numbered from 2; the first server keeps
// the keys it always had, so an old file means one server and one connection.
TEST(Settings, ServersBeyondTheFirst)
{
    Env e;
    e.write("[Options]\r\nNews_Host=main.example\r\nNews_Port=563\r\nchkSSL=1\r\nUser_Name=ann\r\n");
    Settings s = e.load();
    EXPECT_TRUE(s.servers.empty());
    EXPECT_EQ(s.News_Connections, 1);
    const ServerEntry first = s.firstServer();
    EXPECT_EQ(first.host, "main.example");
    EXPECT_EQ(first.port, "563");
    EXPECT_TRUE(first.tls);
    EXPECT_EQ(first.user, "ann");
    EXPECT_EQ(first.level, 0);

    // Written by hand: a gap in the numbers, values out of range, a number without a host.
    e.write("[Options]\r\nNews_Host=main.example\r\nNews_Connections=12\r\nchkSavePassword=1\r\n"
            "[Servers]\r\nHost2= backup.example \r\nPort2=119\r\nConnections2=8\r\nLevel2=1\r\nOn2=1\r\n"
            "Host4=other.example\r\nConnections4=99\r\nLevel4=-3\r\nOn4=0\r\nTLS4=1\r\n"
            "Port5=119\r\n");
    s = e.load();
    EXPECT_EQ(s.News_Connections, 12);
    ASSERT_EQ(s.servers.size(), 2u);
    EXPECT_EQ(s.servers[0].host, "backup.example");
    EXPECT_EQ(s.servers[0].connections, 8);
    EXPECT_EQ(s.servers[0].level, 1);
    EXPECT_TRUE(s.servers[0].enabled);
    EXPECT_EQ(s.servers[1].host, "other.example");
    EXPECT_EQ(s.servers[1].connections, 1) << "99 is out of range";
    EXPECT_EQ(s.servers[1].level, 0);
    EXPECT_FALSE(s.servers[1].enabled);
    EXPECT_TRUE(s.servers[1].tls);

    // Saved and read back whole; the passwords as the first one's, scrambled; a removed
    // server leaves nothing behind; other tools' keys of the file stay.
    s.servers[0].password = "secret";
    s.servers[0].user = "bob";
    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    EXPECT_FALSE(e.read().contains("secret"));
    EXPECT_EQ(e.load().servers, s.servers);
    s.servers.erase(s.servers.begin());
    s.chkSavePassword = false;
    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    const Settings back = e.load();
    ASSERT_EQ(back.servers.size(), 1u);
    EXPECT_EQ(back.servers[0].host, "other.example");
    EXPECT_FALSE(e.read().contains("backup.example"));
    EXPECT_FALSE(e.read().contains("Host4")) << "renumbered from 2";
    s.servers[0].password = "kept?";
    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    EXPECT_TRUE(e.load().servers[0].password.isEmpty()) << "not saved unless passwords are";
}

TEST(Settings, WindowAndColumnSizes)
{
    Env e;
    e.write("[Sizing]\r\nTop=100\r\nLeft=200\r\nWidth=9000\r\nHeight=6000\r\nWindowState=0\r\n"
            "[Header View Column Sizes]\r\nC1=400\r\nC3=0\r\nC5=-4\r\n");
    Settings s = e.load();
    e.core.settingsFile.LoadWindowSizes(s);
    e.core.settingsFile.LoadColumnSizes(s);
    EXPECT_EQ(*s.Top, 100);
    EXPECT_EQ(*s.Width, 9000);
    EXPECT_EQ(s.headerColumns, QVector<int>({400, 35, 35, 70, 70, 90, 20}));
    EXPECT_EQ(s.processedColumns, QVector<int>({360, 45, 135}));

    // Maximized at exit: the state is written, the normal geometry kept.
    s.WindowState = 2;
    s.Top = 1;
    s.Width = 2;
    e.core.settingsFile.SaveWindowSizes(s);
    e.core.settingsFile.SaveColumnSizes(s);
    Settings r;
    e.core.settingsFile.LoadWindowSizes(r);
    e.core.settingsFile.LoadColumnSizes(r);
    EXPECT_EQ(r.WindowState, 2);
    EXPECT_EQ(*r.Top, 100);
    EXPECT_EQ(*r.Width, 9000);
    EXPECT_EQ(r.headerColumns, s.headerColumns);
}

TEST(Settings, UnwritableFileIsOneLogLineNotACrash)
{
    Env e;
    e.core.log.enableLogging = true;
    Settings s = e.load();
    // The settings path is a folder: nothing can be written there.
    QDir().mkpath(e.core.paths.ini());
    EXPECT_FALSE(e.core.settingsFile.SaveSettings(s));
    const QStringList rows = e.core.log.list()->rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows.first().contains("Error: settings not saved to "));
}

TEST(Settings, SaveReplacesTheFileWhole)
{
    Env e;
    e.write("[Options]\r\nNews_Host=old\r\n");
    Settings s = e.load();
    s.News_Host = "new.example";
    ASSERT_TRUE(e.core.settingsFile.SaveSettings(s));
    // No temporary files are left beside it.
    EXPECT_EQ(QDir(e.dir.path()).entryList(QDir::Files), QStringList({"VANTREL.INI"}));
    EXPECT_EQ(e.load().News_Host, "new.example");
}

TEST(Settings, SliderCaptions)
{
    Settings s;
    EXPECT_EQ(s.rescanCaption(), "Emergency restart wait: 90 seconds");
    EXPECT_EQ(s.timeoutCaption(), "Restart connection if inactive more than 60 seconds");
    EXPECT_EQ(s.xoverCaption(), "XOVER burst receive 100 headers at a time");
}
