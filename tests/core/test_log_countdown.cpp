// The operations log, the countdown and the launch options.
#include "TestSupport.h"
#include "core/AppCore.h"
#include "core/CommandLine.h"
#include "core/RateLimiter.h"
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace vt;

namespace {
struct Env {
    QTemporaryDir dir;
    QuietPrompter prompter;
    AppCore core{AppPaths(dir.path()), prompter};
    QStringList status;
    Env()
    {
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) { status << m; });
    }
    QStringList fileLines() const
    {
        QFile f(core.paths.opsLog());
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    }
};
} // namespace

TEST(OpsLog, StatusListAndFileGating)
{
    Env e;
    OpsLog &log = e.core.log;
    log.LogOp("disabled", true);
    EXPECT_EQ(e.status.last(), "disabled");
    EXPECT_EQ(log.list()->rowCount(), 0);

    log.logFile = true;
    log.LogOp("file on, logging off", true);
    EXPECT_TRUE(e.fileLines().isEmpty());

    log.enableLogging = true;
    log.LogOp("Connecting...\rmore text here", true);
    EXPECT_EQ(e.status.last(), "Connecting...");
    ASSERT_EQ(log.list()->rowCount(), 1);
    EXPECT_TRUE(log.list()->rows().first().endsWith("  Connecting..."));
    EXPECT_EQ(log.list()->rows().first().size(), 8 + 2 + 13);
    const QStringList lines = e.fileLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().endsWith(" " + log.list()->rows().first()));

    log.LogOp("status only", false);
    EXPECT_EQ(log.list()->rowCount(), 1);
    EXPECT_EQ(e.fileLines().size(), 1);
}

TEST(OpsLog, KeepsTheNinetyNineNewest)
{
    Env e;
    OpsLog &log = e.core.log;
    log.enableLogging = true;
    for (int i = 1; i <= 150; ++i) log.LogOp(QString("m%1").arg(i), true);
    ASSERT_EQ(log.list()->rowCount(), 99);
    EXPECT_TRUE(log.list()->rows().first().endsWith("m150"));
    EXPECT_TRUE(log.list()->rows().last().endsWith("m52"));
    // An unrecorded message still trims a list of 100.
    log.list()->prepend("extra");
    ASSERT_EQ(log.list()->rowCount(), 100);
    log.LogOp("x", false);
    EXPECT_EQ(log.list()->rowCount(), 99);
}

TEST(OpsLog, MinimizedTitleAndUnwritableFile)
{
    Env e;
    OpsLog &log = e.core.log;
    e.core.settings.News_Host = "news.example";
    QString title;
    QObject::connect(&log, &OpsLog::minimizedTitleChanged, [&](const QString &t) { title = t; });
    log.LogOp("not minimized", false);
    EXPECT_TRUE(title.isEmpty());
    log.setMinimized(true);
    log.LogOp("Scan Initiated...", false);
    EXPECT_EQ(title, e.core.paths.folderName() + " [news.example] Scan Initiated...");

    log.enableLogging = log.logFile = true;
    QDir().mkpath(e.core.paths.opsLog());   // a folder where the file should be
    log.LogOp("one", true);
    log.LogOp("two", true);
    const QStringList rows = log.list()->rows();
    ASSERT_EQ(rows.size(), 3) << "the failure is said once";
    EXPECT_TRUE(rows[1].contains("Error: cannot write "));
}

TEST(Countdown, TicksSoundsAndRestart)
{
    Env e;
    e.core.log.enableLogging = true;
    e.core.sounds.enabled = true;
    QDir().mkpath(e.core.sounds.folder());
    for (int i = 1; i <= 10; ++i) {
        QFile f(e.core.sounds.folder() + QString::number(i) + ".wav");
        f.open(QIODevice::WriteOnly);
    }
    int scans = 0;
    e.core.countdown.connectForScan = [&] { ++scans; };
    e.core.countdown.start();
    EXPECT_TRUE(e.core.countdown.timer().isActive());
    e.core.countdown.tick();
    EXPECT_EQ(e.status.last(), "Rescan in 89 seconds (hit stop to abort)");
    EXPECT_EQ(e.core.log.list()->rowCount(), 0) << "per-second lines are not recorded";
    EXPECT_TRUE(e.core.sounds.played().isEmpty());
    for (int i = 0; i < 79; ++i) e.core.countdown.tick();
    EXPECT_EQ(e.core.countdown.value(), 10);
    EXPECT_EQ(e.core.sounds.played(), QStringList({"10.wav"}));
    for (int i = 0; i < 10; ++i) e.core.countdown.tick();
    EXPECT_EQ(e.status.last(), "Rescan initiated");
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(e.core.sounds.played().size(), 10) << "no sound on the tick that reaches 0";
    EXPECT_FALSE(e.core.countdown.timer().isActive());
    // Ticks after zero do nothing while still active.
    e.core.countdown.tick();
    EXPECT_EQ(scans, 1);
}

TEST(Countdown, CancellationMessages)
{
    Env e;
    e.core.log.enableLogging = true;
    bool dl = false;
    e.core.countdown.downloadRestartPending = [&] { return dl; };
    e.core.countdown.start();
    e.core.countdown.clearActive();   // a scan started by hand
    e.core.countdown.tick();
    EXPECT_EQ(e.status.last(), "Re-scan countdown cancelled by user.");
    EXPECT_TRUE(e.core.log.list()->rows().first().endsWith("Re-scan countdown cancelled by user."));
    EXPECT_FALSE(e.core.countdown.timer().isActive());

    dl = true;
    e.core.countdown.start();
    e.core.countdown.clearActive();
    e.core.countdown.tick();
    EXPECT_EQ(e.status.last(), "Download restart coundown cancelled by user.");

    // The Stop buttons cancel quietly and reload the wait.
    e.core.settings.Rescan_Time = 30;
    e.core.countdown.start();
    e.core.countdown.tick();
    const int before = int(e.status.size());
    e.core.countdown.cancel();
    EXPECT_EQ(e.status.size(), before);
    EXPECT_EQ(e.core.countdown.value(), 30);
    EXPECT_FALSE(e.core.countdown.active());
}

TEST(CommandLine, Matching)
{
    EXPECT_EQ(parseCommandLine(""), LaunchAction::None);
    EXPECT_EQ(parseCommandLine("  /scan "), LaunchAction::Scan);
    EXPECT_EQ(parseCommandLine("/Download"), LaunchAction::Download);
    EXPECT_EQ(parseCommandLine("/SCANX"), LaunchAction::Invalid);
    EXPECT_EQ(parseCommandLine("-scan"), LaunchAction::Invalid);
    EXPECT_EQ(parseCommandLine("/SCAN /DOWNLOAD"), LaunchAction::Invalid);
    EXPECT_EQ(parseCommandLine(" "), LaunchAction::Invalid);
    EXPECT_EQ(invalidCommandLineMessage(" -scan"), "Command line option not valid:  -scan\r\rValid options are /SCAN or /DOWNLOAD");

    // The Linux forms end in the same launch options; an unknown switch is an error.
    const struct {
        QStringList args;
        bool ok;
        const char *raw;
        LaunchAction action;
    } rows[] = {
        {{"vantrel"}, true, "", LaunchAction::None},
        {{"vantrel", "--scan"}, true, "/SCAN", LaunchAction::Scan},
        {{"vantrel", "--download"}, true, "/DOWNLOAD", LaunchAction::Download},
        {{"vantrel", "/download"}, true, "/download", LaunchAction::Download},
        {{"vantrel", "--scan", "--download"}, true, "/SCAN /DOWNLOAD", LaunchAction::Invalid},
        {{"vantrel", "/SCAN", "extra"}, true, "/SCAN extra", LaunchAction::Invalid},
        {{"vantrel", "--bogus"}, false, "", LaunchAction::None},
        {{"vantrel", "-x"}, false, "", LaunchAction::None},
        // NZB files stand beside the launch options, in either order.
        {{"vantrel", "a.nzb", "/DOWNLOAD", "/tmp/B.NZB"}, true, "/DOWNLOAD", LaunchAction::Download},
        {{"vantrel", "a.nzb"}, true, "", LaunchAction::None},
    };
    for (const auto &r : rows) {
        const LaunchArguments a = parseLaunchArguments(r.args);
        EXPECT_EQ(a.ok, r.ok) << r.args.join(' ').toStdString();
        if (!r.ok) {
            EXPECT_TRUE(a.error.contains(QString(r.args.last()).remove('-'))) << a.error.toStdString();
            continue;
        }
        EXPECT_EQ(a.raw, r.raw);
        EXPECT_EQ(parseCommandLine(a.raw), r.action);
        for (const QString &f : a.nzbFiles) EXPECT_TRUE(QFileInfo(f).isAbsolute()) << f.toStdString();
    }
    EXPECT_EQ(parseLaunchArguments({"vantrel", "a.nzb", "/DOWNLOAD", "/tmp/B.NZB", "/tmp/c.nzb.gz"}).nzbFiles,
              QStringList({QDir::current().absoluteFilePath("a.nzb"), "/tmp/B.NZB", "/tmp/c.nzb.gz"}));
    EXPECT_TRUE(wantsConsoleOnly({"vantrel", "/SCAN", "--help"}));
    EXPECT_TRUE(wantsConsoleOnly({"vantrel", "-v"}));
    EXPECT_FALSE(wantsConsoleOnly({"vantrel", "--", "--help"}));
    EXPECT_FALSE(wantsConsoleOnly({"vantrel", "--scan"}));
}

// The speed limit's bucket on a clock the test turns: no limit, a tenth of a second's
// burst, refill by the time passed, the wait until a useful amount, a change mid-way.
TEST(RateLimiter, BurstRefillWaitAndChange)
{
    qint64 now = 0;
    RateLimiter l([&] { return now; });
    EXPECT_FALSE(l.limited());
    EXPECT_EQ(l.take(1 << 30), 1 << 30);
    EXPECT_EQ(l.waitMs(), 0);

    l.setRate(1'000'000);   // bytes a second: a burst of 100,000
    EXPECT_EQ(l.take(50'000), 0) << "starts empty: nothing before its time";
    now += 50'000'000;      // 50 ms
    EXPECT_EQ(l.take(80'000), 50'000);
    EXPECT_EQ(l.take(1), 0);
    EXPECT_EQ(l.waitMs(), 5) << "a useful amount (4 KB) after 4.1 ms, rounded up";
    now += 1'000'000'000;   // a second idle fills no more than the burst
    EXPECT_EQ(l.take(1'000'000), 100'000);
    // Over ten simulated seconds of greedy reads the total keeps to the rate.
    qint64 total = 0;
    for (int ms = 0; ms < 10'000; ++ms) {
        now += 1'000'000;
        total += l.take(1 << 20);
    }
    EXPECT_NEAR(double(total), 10'000'000.0, 1.0);
    // Lowered mid-way: what was saved up is cut to the new burst.
    now += 1'000'000'000;
    l.setRate(10'000);
    EXPECT_EQ(l.take(1 << 20), 4096) << "the smallest burst";
    l.setRate(0);
    EXPECT_EQ(l.take(123), 123);
}
