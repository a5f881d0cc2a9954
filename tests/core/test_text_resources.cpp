// Number formats, sounds and the resource lines.
#include "TestSupport.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include <QFile>
#include <gtest/gtest.h>

using namespace vt;

TEST(Text, FormatsAndParsing)
{
    EXPECT_EQ(num(5), " 5");
    EXPECT_EQ(num(-5), "-5");
    EXPECT_EQ(fmt(1234.56, 1, true), "1,234.6");
    EXPECT_EQ(fmt(99.6, 0, true), "100");
    EXPECT_EQ(fmt(-0.04, 1, false), "0.0");
    EXPECT_EQ(leadingInt(QString("  42abc")), 42);
    EXPECT_EQ(leadingInt(QByteArray("-7 x")), -7);
    EXPECT_EQ(leadingInt(QString("abc")), 0);
    EXPECT_EQ(trimBlanks(QString("\x1e x \t")), QString("\x1e x \t")) << "only blanks are trimmed";
    EXPECT_EQ(withSlash("/a/b//"), "/a/b/");
}

TEST(Sounds, MissingFilesAreSilentAndFolderCheck)
{
    QTemporaryDir dir;
    Sounds s(dir.path() + "/sfx/");
    QStringList handed;
    s.setBackend([&](const QString &f) { handed << f; });
    s.enabled = true;
    s.PrepareSoundFolder();
    EXPECT_FALSE(s.enabled) << "no folder: sound off";
    QDir().mkpath(s.folder());
    QFile(s.folder() + "vtv001.wav").open(QIODevice::WriteOnly);
    s.enabled = true;
    s.PrepareSoundFolder();
    EXPECT_TRUE(s.enabled);
    s.PlaySound("vtv003.wav");
    s.PlaySound("vtv001.wav");
    EXPECT_EQ(handed, QStringList({s.folder() + "vtv001.wav"}));
    s.enabled = false;
    s.PlaySound("vtv001.wav");
    EXPECT_EQ(handed.size(), 1);
}

TEST(Resources, LinesAndLowSpaceWarnings)
{
    QTemporaryDir dir;
    QuietPrompter p;
    AppCore core(AppPaths(dir.path()), p);
    core.settings.Download_Path = dir.path() + "/";
    core.settings.Cache_Path = dir.path() + "/cache/";
    core.sounds.enabled = true;
    QDir().mkpath(core.sounds.folder());
    for (const char *n : {"vtv005.wav", "vtv006.wav", "vtv007.wav"}) QFile(core.sounds.folder() + n).open(QIODevice::WriteOnly);

    ResourceMonitor &m = core.resources;
    double free = 99.6;
    m.freeSpace = [&](const QString &) { return free; };
    m.memory = [] { return MemoryStatus{512.0 * 1048576, 1024.0 * 1048576}; };
    m.ShowResourceStats(true);
    EXPECT_TRUE(m.lines()[0].endsWith(" 100MB free (download)")) << m.lines()[0].toStdString();
    EXPECT_TRUE(m.lines()[0].startsWith(" /"));
    EXPECT_EQ(m.lines()[3], "512.0MB free physical RAM");
    EXPECT_EQ(m.lines()[4], "1,536.0MB free total RAM");
    EXPECT_TRUE(core.sounds.played().isEmpty()) << "rounded 100 is not below 100";

    free = 99.4;
    m.ShowResourceStats(true);
    EXPECT_TRUE(m.lines()[2].endsWith(" 99MB free (cache)"));
    EXPECT_EQ(core.sounds.played(), QStringList({"vtv005.wav", "vtv006.wav", "vtv005.wav"}));

    // No temporary folder reported: element 1 keeps its text.
    const QString before = m.lines()[1];
    m.tempFolder = [] { return QString(); };
    free = 5000;
    m.ShowResourceStats(false);
    EXPECT_EQ(m.lines()[1], before);

    m.setDisabled(true);
    EXPECT_FALSE(m.visible());
    EXPECT_FALSE(m.timer().isActive());
    m.setDisabled(false);
    EXPECT_EQ(m.timer().interval(), 10000);
}

TEST(Resources, RealFilesystemAndMemory)
{
    QTemporaryDir dir;
    EXPECT_GT(FreeSpaceMB(dir.path()), 0.0);
    EXPECT_GT(FreeSpaceMB(dir.path() + "/not/yet/made"), 0.0) << "measured on the nearest existing folder";
    EXPECT_GT(ReadMemoryStatus().availPhysBytes, 0.0);
}
