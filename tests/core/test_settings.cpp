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
