// Whole scans against the test server: groups, bursts, marks, log lines and the store.
#include "EngineRig.h"
#include "Synth.h"
#include "TestSupport.h"
#include "ClosedPort.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "groups/NewsgroupTable.h"
#include "download/BatchQueue.h"
#include "headers/HeaderStore.h"
#include "core/Buffers.h"
#include "scan/BurstParser.h"
#include "scan/ScanDriver.h"
#include "scan/OverviewFetch.h"
#include "nntp/ReplyFramer.h"
#include "headers/SubjectParser.h"
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>
#include <QRegularExpression>
#include <map>

using namespace vt;
using vt::test::TestServer;
using vt::test::waitFor;

namespace {
struct Scan : test::EngineRig {
    QStringList logged;
    int downloads = 0;

    explicit Scan(quint16 port)
    {
        core.settings.News_Host = "127.0.0.1";
        core.settings.News_Port = QString::number(port);
        core.settings.User_Name = "user";
        core.settings.password = "secret";
        scan.startBatchDownload = [this] { ++downloads; };
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) { logged << m; });
    }
    bool run(int ms = 20000)
    {
        session.connectForScan();
        return waitFor([&] { return logged.filter("Scan Complete.").size() > 0 && session.TCP1.state() == 0; }, ms);
    }
    bool has(const QString &m) const { return logged.contains(m); }
};

// What a group's overview should give: item name -> parts.
std::map<QByteArray, int> expectedItems(const synth::Group &g, int fromNumber)
{
    std::map<QByteArray, int> out;
    for (const synth::Article &a : g.articles) {
        if (a.number < fromNumber) continue;
        const QByteArray poster = parseFrom(QByteArray::fromStdString(a.from));
        out[parseSubject(QByteArray::fromStdString(a.subject)).name.trimmed() + '|' + poster]++;
    }
    return out;
}
// What the store holds: item name -> parts filed.
std::map<QByteArray, int> filedItems(const HeaderStore &store, qint64 *parts = nullptr)
{
    std::map<QByteArray, int> got;
    for (int i = 1; i <= store.itemCount(); ++i) {
        const HeaderItem &it = store.item(i);
        if (it.deleted) continue;
        got[it.subject + '|' + it.poster] = int(it.parts.size());
        if (parts) *parts += qint64(it.parts.size());
    }
    return got;
}
} // namespace

// No server where the settings point: the countdown's line says why ("Connection refused by
// host:port — retrying in N s"), and what to check is said once (not again when the retry
// is refused too).
TEST(Scan, AClosedPortSaysWhyBesideTheCountdownAndWhatToCheckOnce)
{
    const quint16 port = test::closedPort();
    ASSERT_NE(port, 0);
    Scan s(port);
    s.core.settings.chkAllowRestart = true;
    s.core.settings.Rescan_Time = 3;
    s.groups.addGroup("alt.binaries.one");
    s.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return s.core.countdown.active(); }, 10000)) << s.logged.join('\n').toStdString();
    const QString why = "Connection refused by 127.0.0.1:" + QString::number(port);
    EXPECT_EQ(s.core.countdown.why(), why);
    s.core.countdown.tick();
    EXPECT_TRUE(s.has(why + QStringLiteral(" \u2014 retrying in 2 s (hit stop to abort)"))) << s.logged.join('\n').toStdString();
    s.core.countdown.tick();
    s.core.countdown.tick();
    ASSERT_TRUE(waitFor([&] { return s.logged.count("Emergency Reconnect in 3 seconds.") == 2; }, 10000)) << s.logged.join('\n').toStdString();
    EXPECT_EQ(s.prompter.messages.filter("Check the server's name and port in Options, Servers").size(), 1)
        << s.prompter.messages.join('\n').toStdString();
    s.core.countdown.cancel();
}

// Habits of real servers: groups that start at 1, one after the other (the first article
// is part 1 of a post); a group whose last articles are gone, so that a range holds
// nothing and is answered with an empty overview, 420 or 423. A far server (latency) makes
// the scan's rate a figure worth checking against its time.
TEST(Scan, GroupsFromTheirFirstArticleAndRangesWithNothing)
{
    for (const char *pastEnd : {"224", "420", "423"}) {
        TestServer server({"--yenc-only", "--latency", "30", "--group", "alt.binaries.a:1:57", "--group", "alt.binaries.b:1:40",
                           "--group", "alt.binaries.c:1:100:150", "--past-end", pastEnd});
        Scan s(server.port());
        s.core.settings.sldXOVER = 100;
        for (const char *g : {"alt.binaries.a", "alt.binaries.b", "alt.binaries.c"}) s.groups.addGroup(g);
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(s.run(15000)) << pastEnd;
        EXPECT_LT(t.elapsed(), 10000) << "no wait for the watchdog";
        EXPECT_TRUE(s.logged.filter("not responding").isEmpty());
        EXPECT_TRUE(s.has("57 new articles in alt.binaries.a"));
        EXPECT_EQ(s.logged.filter("Crunched burst of 57 headers").size(), 1);
        EXPECT_TRUE(s.has("40 new articles in alt.binaries.b"));
        EXPECT_TRUE(s.has("150 new articles in alt.binaries.c"));

        synth::Options o;
        o.mixed = false;
        std::map<QByteArray, int> want;
        for (auto [name, count] : {std::pair{"alt.binaries.a", 57}, {"alt.binaries.b", 40}, {"alt.binaries.c", 100}})
            for (auto &[k, v] : expectedItems(synth::makeGroup(name, 1, count, o), 1)) want[k] += v;
        EXPECT_EQ(filedItems(s.store), want) << "the first post of each group is whole";
        EXPECT_EQ(s.groups.lastReadByKey(1), 57);
        EXPECT_EQ(s.groups.lastReadByKey(2), 40);
        EXPECT_EQ(s.groups.lastReadByKey(3), 150) << "nothing there up to the group's end";

        ASSERT_TRUE(server.waitForCommand(1, "QUIT"));
        EXPECT_EQ(server.commandsOf(1),
                  QStringList({"GROUP alt.binaries.a", "XOVER 1-100", "GROUP alt.binaries.a", "GROUP alt.binaries.b", "XOVER 1-100",
                               "GROUP alt.binaries.b", "GROUP alt.binaries.c", "XOVER 1-100", "XOVER 101-200", "QUIT"}))
            << "nothing asked beyond the group's end";

        // "Scan Complete. 197 headers read in 0.4 seconds, averaging 492.5 HPS."
        const QStringList words = s.logged.filter("Scan Complete.").first().split(' ');
        ASSERT_EQ(words.size(), 11) << words.join('|').toStdString();
        const double secs = words[6].toDouble(), hps = words[9].toDouble();
        EXPECT_EQ(words[2].toInt(), 197);
        EXPECT_GT(secs, 0.15);
        EXPECT_NEAR(hps * secs, 197.0, hps * 0.05 + 1) << "the rate is the headers over the time shown";
    }
}

TEST(Scan, SeveralGroupsWithFaults)
{
    TestServer server({"--group", "alt.binaries.one:1000:250", "--group", "alt.binaries.two:5000:90", "--group",
                       "alt.binaries.empty:300:0", "--segment", "--auth", "user:secret", "--fault", "GROUP=480@2"});
    Scan s(server.port());
    s.core.settings.sldXOVER = 40;
    s.groups.addGroup("alt.binaries.one");
    s.groups.addGroup("alt.binaries.missing");
    s.groups.addGroup("alt.binaries.two");
    s.groups.addGroup("alt.binaries.empty");
    s.groups.addGroup("alt.binaries.off");
    s.groups.toggleRow(5);
    // "two" was read up to a mark far above what the server now numbers: reset.
    s.groups.recordByKey(s.groups.rowKey(3))->lastRead = 900000;
    // An item from "two" below its first article: expires.
    s.store.maketree("old post [xx/0000002]", "old post (1/2)", 4000, "2", "10", quint8(s.groups.rowKey(3)), "Jane", "", "<o@x>");
    s.store.partsReadTotal = 0;

    const bool finished = s.run();
    if (!finished) for (const QString &l : s.logged) fprintf(stderr, "LOG %s\n", qPrintable(l));
    ASSERT_TRUE(finished);
    EXPECT_TRUE(s.has("Scan Initiated..."));
    EXPECT_TRUE(s.has("Error, no such news group alt.binaries.missing"));
    EXPECT_TRUE(s.has("Authinfo cleared, login complete..."));
    EXPECT_TRUE(s.has("250 new articles in alt.binaries.one"));
    EXPECT_TRUE(s.has("90 new articles in alt.binaries.two")) << "mark reset: the whole range counts";
    EXPECT_TRUE(s.has("0 new articles in alt.binaries.empty"));
    EXPECT_TRUE(s.has("Auto-expire: alt.binaries.two, 1 article expired"));
    EXPECT_TRUE(s.has("Auto-expire: alt.binaries.one, nothing expired"));
    EXPECT_EQ(s.store.FindHash("old post [xx/0000002]", "Jane"), -1);
    EXPECT_EQ(s.store.freeSlotCount, 0) << "the expired slot was taken by a new item";
    EXPECT_NE(s.store.item(1).subject, "old post [xx/0000002]");
    EXPECT_FALSE(s.logged.filter("alt.binaries.off").size());
    EXPECT_EQ(s.downloads, 1) << "automatic download at the end";

    const QStringList xovers = server.commands().filter("XOVER");
    EXPECT_EQ(xovers.first().section(' ', 1), "XOVER 1000-1039") << "a first read takes the group's first article too";

    // High-water marks at the groups' last articles.
    EXPECT_EQ(s.groups.lastReadByKey(s.groups.rowKey(1)), 1249);
    EXPECT_EQ(s.groups.lastReadByKey(s.groups.rowKey(3)), 5089);

    // Every listed article of each group is filed, under its post's item.
    synth::Options o;
    std::map<QByteArray, int> want = expectedItems(synth::makeGroup("alt.binaries.one", 1000, 250, o), 1000);
    for (auto &[k, v] : expectedItems(synth::makeGroup("alt.binaries.two", 5000, 90, o), 5000)) want[k] += v;
    qint64 parts = 0;
    EXPECT_EQ(filedItems(s.store, &parts), want);
    EXPECT_EQ(s.store.partsReadTotal, 250 + 90);
    EXPECT_EQ(parts, 250 + 90);
    const QString complete = s.logged.filter("Scan Complete.").first();
    EXPECT_TRUE(complete.startsWith("Scan Complete. 340 headers read in")) << complete.toStdString();
    EXPECT_EQ(s.session.TCP1.state(), 0);
    EXPECT_TRUE(waitFor([&] { return server.commands().last().endsWith("QUIT"); }));
}

TEST(Scan, RescanFindsNothingNewAndAllDisabledFinishesAtOnce)
{
    TestServer server({"--group", "alt.binaries.one:1000:120"});
    Scan s(server.port());
    s.groups.addGroup("alt.binaries.one");
    ASSERT_TRUE(s.run());
    const int items = s.store.itemCount();
    s.logged.clear();
    ASSERT_TRUE(s.run());
    EXPECT_TRUE(s.has("0 new articles in alt.binaries.one"));
    EXPECT_TRUE(s.logged.filter("Scan Complete. No new headers read in").size() == 1);
    EXPECT_EQ(s.store.itemCount(), items);

    s.groups.toggleRow(1);
    s.logged.clear();
    ASSERT_TRUE(s.run());
    EXPECT_TRUE(s.logged.filter("GROUP").isEmpty());
    EXPECT_EQ(server.commandsOf(3).filter("GROUP").size(), 0);
}

TEST(Scan, EmergencyRestartResumesAtTheSameGroup)
{
    TestServer server({"--group", "alt.binaries.one:1000:100", "--group", "alt.binaries.two:1:100", "--fault", "GROUP alt.binaries.two=drop@1"});
    Scan s(server.port());
    s.core.settings.chkRestart500 = true;
    s.core.settings.Rescan_Time = 5;
    s.groups.addGroup("alt.binaries.one");
    s.groups.addGroup("alt.binaries.two");
    s.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return s.core.countdown.active(); }));
    EXPECT_EQ(s.scan.groupListIndex, 2);
    for (int i = 0; i < 5; ++i) s.core.countdown.tick();
    ASSERT_TRUE(waitFor([&] { return s.logged.filter("Scan Complete.").size() == 1; }));
    EXPECT_EQ(s.logged.count("Scan Initiated..."), 1) << "no new scan, same counters";
    server.waitForCommand(2, "QUIT");
    EXPECT_EQ(server.commandsOf(2), QStringList({"GROUP alt.binaries.two", "XOVER 1-100", "GROUP alt.binaries.two", "QUIT"}));
}

// Compressed headers (COMPRESS DEFLATE; where that is refused XFEATURE COMPRESS GZIP, then
// XZVER) give the same items as plain ones in a fraction of the bytes, however the server cuts
// what it sends. A damaged stream: the scan goes on at once without compression from the
// last burst filed, every header filed once. A server with neither is asked once; the
// next scan asks no more.
TEST(Scan, CompressedHeadersAsPlainOnesAndTheFallbacks)
{
    synth::Options o;
    o.mixed = false;
    const std::map<QByteArray, int> want = expectedItems(synth::makeGroup("alt.binaries.z", 1, 3000, o), 1);
    qint64 plainBytes = 0;
    for (const char *mode : {"plain", "compressed", "damaged", "gzip", "gzip damaged", "xzver", "xzver damaged"}) {
        const std::string m = mode;
        QStringList args{"--yenc-only", "--group", "alt.binaries.z:1:3000"};
        if (m == "compressed" || m == "damaged") args << "--compress";
        if (m.rfind("gzip", 0) == 0) args << "--xfeature-gzip";
        if (m.rfind("xzver", 0) == 0) args << "--xzver";
        // Segmented, and in blocks compressed at start-up that join into one stream.
        const bool whole = m == "compressed" || m == "gzip" || m == "xzver";
        if (whole) args << "--segment" << "--precompress";
        if (m.find("damaged") != std::string::npos) args << "--compress-damage" << "20000";
        TestServer server(args);
        Scan s(server.port());
        s.core.settings.chkCompress = true;
        s.core.settings.sldXOVER = whole ? 1000 : 500;
        s.groups.addGroup("alt.binaries.z");
        ASSERT_TRUE(s.run(30000)) << mode << s.logged.join('\n').toStdString();
        qint64 parts = 0;
        EXPECT_EQ(filedItems(s.store, &parts), want) << mode;
        EXPECT_EQ(parts, 3000) << mode << ": each header once";
        EXPECT_EQ(s.groups.lastReadByKey(1), 3000) << mode;
        EXPECT_EQ(s.logged.count("Scan Initiated..."), 1) << mode;
        const qint64 bytes = s.session.TCP1.bytesReceived();
        if (m == "plain") {
            plainBytes = bytes;
            EXPECT_EQ(s.logged.filter("No compression (the server answered 500").size(), 1) << s.logged.join('\n').toStdString();
            s.logged.clear();
            ASSERT_TRUE(s.run());
            EXPECT_EQ(server.commandsOf(2).filter("COMPRESS").size(), 0) << "asked once";
            EXPECT_EQ(server.commandsOf(1).filter("CAPABILITIES").size(), 0) << server.commandsOf(1).join(" | ").toStdString();
        } else if (m == "compressed" || m == "gzip" || m == "xzver") {
            const char *kind = m == "gzip" ? "(XFEATURE COMPRESS GZIP)" : m == "xzver" ? "(XZVER)" : "(COMPRESS DEFLATE)";
            EXPECT_EQ(s.logged.filter(QStringLiteral("Compression on ") + kind).size(), 1);
            EXPECT_LT(bytes * 3, plainBytes) << bytes << " bytes against " << plainBytes;
        } else {
            EXPECT_EQ(s.logged.filter(QRegularExpression("^The compressed stream from 127.0.0.1 is damaged( \\(.*\\))?$")).size(), 1)
                << s.logged.join('\n').toStdString();
            EXPECT_EQ(s.logged.filter("Scanning on without compression").size(), 1);
            EXPECT_EQ(server.commandsOf(2).filter("COMPRESS").size(), 0) << "the second connection is plain";
        }
    }
}

// An overview that keeps trickling in (a byte every half second) and never ends is silence
// too: the watchdog closes the connection after the timeout and the scan resumes there.
TEST(Scan, ATricklingReplyIsSilence)
{
    TestServer server({"--group", "alt.binaries.one:1:100", "--fault", "XOVER=trickle@1"});
    Scan s(server.port());
    s.core.settings.sldTimeout = 2;
    s.core.settings.Rescan_Time = 1;
    s.groups.addGroup("alt.binaries.one");
    s.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return s.core.countdown.active(); }, 15000));
    EXPECT_EQ(s.logged.filter("second timeout triggered (a reply trickling in without an end)").size(), 1) << s.logged.join('\n').toStdString();
    EXPECT_EQ(s.store.itemCount(), 0) << "nothing of the trickle is filed";
    s.core.countdown.tick();
    ASSERT_TRUE(waitFor([&] { return s.logged.filter("Scan Complete.").size() == 1; }));
    EXPECT_TRUE(s.has("100 new articles in alt.binaries.one"));
    EXPECT_EQ(s.groups.lastReadByKey(s.groups.rowKey(1)), 100);
}

// favs.txt lines that name a group without its key (or are blank) give rows that are
// scanned like any other: nothing is selected and then never asked for.
TEST(Scan, FavouritesWithoutKeysStillScan)
{
    TestServer server({"--group", "alt.binaries.one:1:30", "--group", "alt.binaries.two:1:20"});
    Scan s(server.port());
    QFile favs(s.dir.path() + "/favs.txt");
    ASSERT_TRUE(favs.open(QIODevice::WriteOnly));
    favs.write("alt.binaries.two,0,False,0\r\n\r\nalt.binaries.one,0\r\n");
    favs.close();
    s.groups.loadFavourites(favs.fileName());
    ASSERT_EQ(s.groups.rows(), 2);
    EXPECT_NE(s.groups.rowKey(1), 0);
    EXPECT_NE(s.groups.rowKey(2), 0);
    EXPECT_NE(s.groups.rowKey(1), s.groups.rowKey(2));
    ASSERT_TRUE(s.run(10000));
    EXPECT_TRUE(s.has("20 new articles in alt.binaries.two"));
    EXPECT_TRUE(s.has("30 new articles in alt.binaries.one"));
}

// Stop while the scan waits for a burst, and while a burst is crunched in slices (each a
// turn of the event loop, the next replies held back meanwhile): the scan ends there, no
// phantom scan follows, and the next scan files every header once.
TEST(Scan, UserAbortWhileWaitingAndWhileCrunching)
{
    {
        TestServer server({"--group", "alt.binaries.one:1000:100", "--fault", "XOVER=stall"});
        Scan s(server.port());
        s.groups.addGroup("alt.binaries.one");
        s.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return s.session.scanStage == ScanStage::Overview; }));
        s.scan.abortScan(true);
        EXPECT_TRUE(s.has("Scan Aborted by user."));
        EXPECT_EQ(s.scan.groupListIndex, 0);
        EXPECT_FALSE(s.session.scanInProgress);
        EXPECT_EQ(s.session.TCP1.state(), 0);
    }
    TestServer server({"--yenc-only", "--latency", "5", "--group", "alt.binaries.big:1:9000"});
    synth::Options o;
    o.mixed = false;
    const std::map<QByteArray, int> want = expectedItems(synth::makeGroup("alt.binaries.big", 1, 9000, o), 1);
    Scan s(server.port());
    s.core.settings.sldXOVER = 2500;
    s.groups.addGroup("alt.binaries.big");
    // Stop pressed while the first slice runs: it is taken before the next slice.
    int filed = -1;
    bool wasCrunching = false;
    QMetaObject::Connection press = QObject::connect(&s.core.log, &OpsLog::statusChanged, [&](const QString &m) {
        if (filed >= 0 || !m.startsWith("Crunching header burst")) return;
        filed = 0;
        QTimer::singleShot(0, [&] {
            wasCrunching = s.scan.crunching();
            filed = s.store.itemCount();
            s.scan.abortScan(true);
        });
    });
    s.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return filed > 0; }, 20000));
    QObject::disconnect(press);
    EXPECT_TRUE(wasCrunching);
    EXPECT_FALSE(s.scan.crunching());
    EXPECT_FALSE(s.session.scanInProgress);
    EXPECT_EQ(s.session.TCP1.state(), 0);
    s.logged.clear();
    test::settle();
    EXPECT_EQ(s.store.itemCount(), filed) << "the crunch does not go on";
    EXPECT_TRUE(s.logged.filter("Scan Initiated").isEmpty()) << s.logged.join('\n').toStdString();
    EXPECT_EQ(s.session.TCP1.state(), 0);

    ASSERT_TRUE(s.run(60000)) << s.logged.join('\n').toStdString();
    qint64 parts = 0;
    EXPECT_EQ(filedItems(s.store, &parts), want) << "every header once, in slices and after the stop";
    EXPECT_EQ(parts, 9000);
    EXPECT_EQ(s.groups.lastReadByKey(1), 9000);
}

namespace {
// A scan driver with no server behind it, for feeding bursts by hand.
struct Offline : test::EngineRig {};
} // namespace

TEST(Burst, EdgeCases)
{
    Offline o;
    AppCore &core = o.core;
    NewsgroupTable &groups = o.groups;
    HeaderStore &store = o.store;
    ScanDriver &scan = o.scan;
    groups.addGroup("g");
    scan.currentGroupKey = 1;
    scan.groupReplyTaken = true;
    scan.groupFirst = 1;
    scan.groupLast = 5000;
    scan.overviewRangeStart = 100;
    scan.overviewRangeEnd = 200;
    scan.newToFetch = 0;   // hand back with ScanHeaders(false)
    QStringList logged;
    QObject::connect(&core.log, &OpsLog::statusChanged, [&](const QString &m) { logged << m; });

    scan.parse_xoverdata("224 ov\r\n.\r\n");
    EXPECT_EQ(store.itemCount(), 0);
    EXPECT_TRUE(logged.filter("Crunched burst").isEmpty());
    EXPECT_EQ(groups.lastReadByKey(1), 200) << "raised to the requested end: the group goes on beyond it";

    logged.clear();
    scan.yieldCounter = 0;
    scan.currentGroupKey = 1;   // the hand-back above selected the group again
    scan.groupReplyTaken = true;
    scan.parse_xoverdata("224 ov\r\n"
                         "201\ta (1/2)\tJane <j@x>\tdate\t<1@x>\t\t100\t2\r\n"
                         "202\ta (2/2)\tJane <j@x>\tdate\t<2@x>\t\t100\t2\r\n"
                         "203\tb\tx@y.z (Bob)\tdate\t<3@x>\t\t100\t2\r\n"
                         "204\tc\tx\tdate\t<4@x>\t\t100\r\n"
                         "205\td\tx\tdate\t<5@x>\t\t77\t1\r\n"
                         "\r\n"
                         "206\tnot filed\tx\tdate\t<6@x>\t\t1\t1\r\n"
                         ".\r\n");
    EXPECT_EQ(store.itemCount(), 4);
    EXPECT_EQ(store.item(1).parts.size(), 2u);
    EXPECT_EQ(store.item(2).poster, "Bob");
    EXPECT_EQ(store.item(3).parts[0].byteCount, 100) << "no line count field: the byte count still arrives";
    EXPECT_EQ(groups.lastReadByKey(1), 205);
    EXPECT_EQ(logged.filter("Crunching header burst").size(), 1) << "progress after every 5th line";
    EXPECT_EQ(logged.filter("Crunched burst of 5 headers").size(), 1);

    // Bare CR, LF and NUL inside fields never reach the stored texts (the header file is
    // line-based): each becomes a blank.
    scan.currentGroupKey = 1;
    scan.groupReplyTaken = true;
    static const char evilBurst[] = "224 ov\r\n301\tevil\nname\r (1/1)\tMal\0lory <m@x>\tdate\t<id\r1@x>\t\t100\t2\r\n.\r\n";
    scan.parse_xoverdata(QByteArray(evilBurst, sizeof evilBurst - 1));
    const HeaderItem &evil = store.item(store.itemCount());
    EXPECT_EQ(evil.poster, "Mal lory");
    EXPECT_EQ(evil.subject, "evil name");
    EXPECT_EQ(evil.parts[0].messageId(), "<id 1@x>");
    for (char c : {'\r', '\n', '\0'}) EXPECT_FALSE(evil.subject.contains(c) || evil.parts[0].subjectTail().contains(c));

}

TEST(ParseFrom, Forms)
{
    EXPECT_EQ(parseFrom("Jane Doe <jane@example.com>"), QByteArray("Jane Doe"));
    EXPECT_EQ(parseFrom("\"Bob Poster\" <bob@example.net>"), QByteArray("Bob Poster"));
    EXPECT_EQ(parseFrom("uploader@example.org (Upper Loader)"), QByteArray("Upper Loader"));
    EXPECT_EQ(parseFrom("<anon1234@example.com>"), QByteArray("anon1234"));
    EXPECT_EQ(parseFrom("ab@example.com"), QByteArray("ab@example.com"));
    EXPECT_EQ(parseFrom("jane@example.com"), QByteArray("jane"));
    EXPECT_EQ(parseFrom("x@y)Bz.bo ("), QByteArray()) << "nothing after the bracket";
    QStringList errs;
    EXPECT_EQ(parseFrom("<<x@y>>", [&](const QString &e) { errs << e; }), QByteArray("<x@y>"));
    EXPECT_EQ(errs.size(), 1);
}

TEST(Newsgroups, FavouritesFileAndRows)
{
    QTemporaryDir dir;
    QuietPrompter p;
    OpsLog log;
    UiState ui;
    const QString path = dir.path() + "/favs.txt";
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(" alt.a , 12 ,False, 3\r\nalt.b,5,True\r\nalt.c,0,0,1\r\n../evil,0,False,9\r\n");
    }
    NewsgroupTable t(log, p, ui);
    t.loadFavourites(path);
    ASSERT_EQ(t.rows(), 3);
    EXPECT_EQ(t.nameByKey(3), "alt.a");
    EXPECT_EQ(t.lastReadByKey(3), 12);
    EXPECT_EQ(t.rowKey(2), 2) << "three fields: the smallest free key";
    EXPECT_TRUE(t.rowGreyed(2));
    EXPECT_EQ(p.messages.size(), 1) << "the unsafe name is refused";
    EXPECT_FALSE(t.addGroup("  ALT.A "));
    EXPECT_FALSE(t.addGroup("a/b"));
    EXPECT_TRUE(t.addGroup("alt.d"));
    EXPECT_EQ(t.rowKey(4), 4);
    t.moveRows({2, 4}, 0);
    EXPECT_EQ(t.rowKey(1), 2);
    EXPECT_EQ(t.rowKey(2), 4);
    ASSERT_TRUE(t.saveFavourites(path));
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), QByteArray("alt.b,5,True,2\r\nalt.d,0,False,4\r\nalt.a,12,False,3\r\nalt.c,0,False,1\r\n"));

    NewsgroupTable bad(log, p, ui);
    {
        QFile g(dir.path() + "/bad.txt");
        g.open(QIODevice::WriteOnly);
        g.write("alt.x,1,False,1\r\nalt.y,7\r\nalt.z,1,False,2\r\n");
    }
    bad.loadFavourites(dir.path() + "/bad.txt");
    EXPECT_EQ(p.messages.last(), "Error reading favs.txt, expected another comma.");
    EXPECT_EQ(bad.rows(), 2);

    // Marks: raised only, and the unread count never negative.
    t.set_high_msg(3, 10, false);
    EXPECT_EQ(t.lastReadByKey(3), 12);
    EXPECT_EQ(t.rangeUpdate(3, 1, 8), 0);

    // Once the headers are loaded, favs.txt carries only marks the saved headers cover: a
    // scan's marks are written once the save that started after it is on disk.
    auto markOf3 = [&] {
        EXPECT_TRUE(t.saveFavourites(path));
        QFile g(path);
        g.open(QIODevice::ReadOnly);
        for (const QByteArray &l : g.readAll().split('\n'))
            if (l.startsWith("alt.a,")) return l.split(',')[1].toInt();
        return -1;
    };
    t.marksLoaded();
    t.set_high_msg(3, 500, false);
    EXPECT_EQ(markOf3(), 12) << "scanned, not saved";
    t.takeMarksForSave();
    t.set_high_msg(3, 600, false);
    EXPECT_EQ(markOf3(), 12) << "saving";
    t.marksSaved();
    EXPECT_EQ(markOf3(), 500) << "what the save covers, not the later scan";
    NewsgroupTable empty(log, p, ui);
    ASSERT_TRUE(empty.saveFavourites(path));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(Newsgroups, DeleteGroupRemovesItsHeaders)
{
    QuietPrompter p;
    OpsLog log;
    log.enableLogging = true;
    UiState ui;
    NewsgroupTable t(log, p, ui);
    t.addGroup("alt.one");
    t.addGroup("alt.two");
    HeaderStore s;
    BatchQueue batch(s);
    s.maketree("a [xx/0000002]", "a (1/2)", 1, "2", "1", 1, "Jane", "", "<1@x>");
    s.maketree("a [xx/0000002]", "a (2/2)", 7, "2", "1", 2, "Jane", "", "<2@x>");   // first part in one
    s.maketree("b", "b", 2, "", "1", 2, "Jane", "", "<3@x>");
    s.maketree("c", "c", 3, "", "1", 2, "Jane", "", "<4@x>");
    batch.AddToBatch(3);
    EXPECT_EQ(t.deleteGroup(1, "alt.one", s, &batch), 1);
    EXPECT_TRUE(log.list()->rows().first().endsWith("Removed: alt.one (1 header)"));
    EXPECT_EQ(t.deleteGroup(2, "alt.two", s, &batch), 2);
    EXPECT_TRUE(log.list()->rows().first().endsWith("Removed: alt.two, 2 headers)"));
    EXPECT_TRUE(batch.rows().empty());
    EXPECT_FALSE(s.item(3).inBatch);
    EXPECT_TRUE(s.item(2).deleted && !s.item(2).reusable) << "hidden, restorable";
}

// A long crunch is no silent server: each slice counts as activity, so the scan watchdog
// does not fire between slices however long the burst takes.
TEST(Burst, EachSliceOfACrunchKeepsTheWatchdogQuiet)
{
    Offline o;
    o.groups.addGroup("g");
    o.scan.currentGroupKey = 1;
    o.scan.groupReplyTaken = true;
    o.scan.groupFirst = 1;
    o.scan.groupLast = 100000;
    o.scan.newToFetch = 1 << 30;
    QByteArray burst = "224 ov\r\n";
    for (int n = 1; n <= 3 * ScanDriver::kSliceLines; ++n)
        burst += QByteArray::number(n) + "\tpost (" + QByteArray::number(n) + "/5000)\tJane <j@x>\tdate\t<" + QByteArray::number(n)
                 + "@x>\t\t100\t2\r\n";
    QStringList logged;
    QObject::connect(&o.core.log, &OpsLog::statusChanged, [&](const QString &m) { logged << m; });
    o.scan.onBurst(burst + ".\r\n");   // as the session hands it over: crunched in slices
    ASSERT_TRUE(o.scan.crunching());
    o.session.armWatchdog(true);
    int slices = 0;
    while (o.scan.crunching() && slices < 10) {
        const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-3600);
        o.session.noteActivity(ConnectionId::Scan, stale);
        QCoreApplication::processEvents();
        if (o.session.lastActivity(ConnectionId::Scan) == stale) continue;   // the slice has not run yet
        ++slices;
        o.session.watchdogTick(ConnectionId::Scan);
    }
    EXPECT_GE(slices, 2);
    EXPECT_EQ(o.store.totalParts(), 3 * ScanDriver::kSliceLines);
    EXPECT_TRUE(logged.filter("Server not responding").isEmpty()) << logged.join('\n').toStdString();
    EXPECT_FALSE(o.core.countdown.active());
}

TEST(Burst, CrunchReportFormats)
{
    EXPECT_EQ(crunchMessage(250, 1000), "Crunched burst of 250 headers in 1,000 milliseconds (250.0 HPS)");
    EXPECT_EQ(crunchMessage(250, 1001), "Crunched burst of 250 headers in 1.00 seconds (249.8 HPS)");
    EXPECT_EQ(crunchMessage(3000, 20500), "Crunched burst of 3000 headers in 20.50 seconds (146.3 HPS)");
    EXPECT_EQ(crunchMessage(7, 0), "Crunched burst of 7 headers.");
}

// Burst size adaptation near the timeout: strict on both sides.
TEST(Burst, SizeAdaptationNearTheTimeout)
{
    Offline o;
    struct {
        int timeout, size;
        qint64 ms;
        int after;
    } cases[] = {{30, 300, 20500, 200}, {30, 150, 20500, 150}, {30, 300, 20000, 300}, {15, 200, 6000, 100}, {15, 199, 6000, 199}};
    for (const auto &c : cases) {
        o.core.settings.sldTimeout = c.timeout;
        o.core.settings.sldXOVER = c.size;
        EXPECT_EQ(o.scan.speedHint(c.ms), c.after) << c.timeout << ' ' << c.size << ' ' << c.ms;
    }
}

// The many-connection scan parses each burst on a parser thread, ahead of the filing:
// every line comes out as the line-by-line crunch reads it, errors included, in order; a
// burst dropped before its turn is never handed back; a parser with work queued ends.
TEST(Burst, ParsedOnItsOwnThreadAsLineByLine)
{
    static const char text[] = "224 ov\r\n"
                               "201\ta (1/2)\tJane <j@x>\tdate\t<1@x>\t\t100\t2\r\n"
                               "202\t(1/2)\t<<x@y>>\tdate\r\n"
                               "203\tevil\nname\r (1/1)\tMal\0lory <m@x>\tdate\t<id\r1@x>\t\t100\t2\r\n"
                               "204\tb\tx@y.z (Bob)\tdate\t<3@x>\t\t100\t2\r\n"
                               "\r\n"
                               "205\tnot parsed\tx\tdate\t<6@x>\t\t1\t1\r\n";
    const QByteArray burst(text, sizeof text - 1);
    QObject owner;
    std::vector<ParsedBurst *> ready;
    auto parser = std::make_unique<BurstParser>(&owner);
    auto dropped = parser->submit(burst, [&](ParsedBurst *b) { ready.push_back(b); });
    dropped->dropped = true;   // may be parsed already: only its hand-back is checked
    auto parsed = parser->submit(burst, [&](ParsedBurst *b) { ready.push_back(b); });
    ASSERT_TRUE(test::waitFor([&] { return std::find(ready.begin(), ready.end(), parsed.get()) != ready.end(); }, 10000));
    ASSERT_TRUE(parsed->done);

    std::vector<ParsedHeader> byLine;
    for (qsizetype start = 0, cr = overviewLineEnd(burst, 0); cr > start || (cr >= 0 && byLine.empty()); cr = overviewLineEnd(burst, start)) {
        byLine.push_back(parseOverviewLine(burst.constData() + start, byLine.empty() ? cr + 1 : cr - start));
        start = cr + 2;
    }
    auto sameAsByLine = [&](const ParsedBurst &p) {
        ASSERT_EQ(p.lines.size(), 5u) << "the status line, four headers, nothing past the blank line";
        ASSERT_EQ(byLine.size(), p.lines.size());
        for (size_t i = 0; i < byLine.size(); ++i) {
            const ParsedHeader &a = p.lines[i], &b = byLine[i];
            EXPECT_EQ(a.file, b.file) << i;
            EXPECT_EQ(a.number, b.number) << i;
            EXPECT_EQ(QList<QByteArray>({a.name, a.total, a.subject, a.poster, a.bytes, a.date, a.msgid}),
                      QList<QByteArray>({b.name, b.total, b.subject, b.poster, b.bytes, b.date, b.msgid}))
                << i;
            EXPECT_EQ(a.errors, b.errors) << i;
        }
    };
    sameAsByLine(*parsed);
    EXPECT_FALSE(parsed->lines[0].file);
    EXPECT_EQ(parsed->lines[2].errors.join('|').toStdString(),
              "xover_proccess: 5  Invalid procedure call or argument|xover_proccess: 5  Invalid procedure call or argument|"
              "parseFromErr:Invalid procedure call or argument|add_articleheader: 5  Invalid procedure call or argument");
    EXPECT_EQ(parsed->lines[3].name, "evil name");
    EXPECT_EQ(parsed->lines[3].poster, "Mal lory");
    EXPECT_EQ(parsed->lines[4].poster, "Bob");

    // Filed, a burst goes round: emptied on the parser's thread and handed out again, its
    // reply's buffer kept for a reply to come (one still read elsewhere is not); what is
    // parsed into it comes out the same.
    dropReusedBuffers();
    QByteArray big("224 ov\r\n");
    while (big.size() < 100000) big += "9\tevil\rname (1/1)\tMal\rlory <m@x>\tdate\t<9@x>\t\t1\t1\r\n";
    auto first = parser->submit(QByteArray(big.constData(), big.size()), [&](ParsedBurst *b) { ready.push_back(b); });
    ParsedBurst *const raw = first.get();
    ASSERT_TRUE(test::waitFor([&] { return std::count(ready.begin(), ready.end(), raw) == 1; }, 10000));
    ASSERT_GT(first->lines.size(), 1000u);
    EXPECT_EQ(first->lines.back().name, "evil name");
    EXPECT_EQ(first->lines.back().poster, "Mal lory");
    parser->recycle(std::move(first));
    ASSERT_TRUE(test::waitFor([&] { return parser->spares() == 1; }, 10000));
    EXPECT_EQ(buffersKept(), 1);
    auto again = parser->submit(burst, [&](ParsedBurst *b) { ready.push_back(b); });
    EXPECT_EQ(again.get(), raw);
    EXPECT_EQ(parser->spares(), 0u);
    ASSERT_TRUE(test::waitFor([&] { return std::count(ready.begin(), ready.end(), raw) == 2; }, 10000));
    sameAsByLine(*again);
    EXPECT_GE(reusedBuffer(1, 1).capacity(), big.size());
    QByteArray read = big;
    reuseBuffer(std::move(big));
    EXPECT_EQ(buffersKept(), 0);

    for (int i = 0; i < 50; ++i) parser->submit(burst, [&](ParsedBurst *b) { ready.push_back(b); });
    parser.reset();   // ends with work queued
    test::spin(20);
    EXPECT_EQ(std::count(ready.begin(), ready.end(), dropped.get()), 0);
}

// Many connections: the group's range cut into tasks over five scan connections of a
// server that takes four at once (the fifth is turned away at the door) and loses one
// connection in the middle of a reply, stalls another and drops a third. Every header is
// filed once, the mark ends at the group's end, each compression alike.
TEST(Scan, ManyConnectionsWithOneStalledOneDroppedOneRefused)
{
    synth::Options o;
    o.mixed = false;
    const int total = 30000;
    const std::map<QByteArray, int> want = expectedItems(synth::makeGroup("alt.binaries.many", 1, total, o), 1);
    for (const char *mode : {"plain", "--compress", "--xfeature-gzip", "--xzver"}) {
        // The 4th, 7th and 9th tasks, the first time they are asked for.
        const bool plain = QByteArray(mode) == "plain";
        const int size = plain ? 1000 : 1500;
        const QString verb = QByteArray(mode) == "--xzver" ? "XZVER " : "XOVER ";
        auto task = [&](int n, const char *action) {
            return verb + QString::number((n - 1) * size + 1) + '-' + QString::number(n * size) + '=' + action + "@1";
        };
        QStringList args{"--yenc-only", "--group", "alt.binaries.many:1:" + QString::number(total), "--max-connections", "5", "--segment",
                         "--fault", task(4, "stall"), "--fault", task(7, "drop"), "--fault", task(9, "cut")};
        if (!plain) args << mode;
        TestServer server(args);
        Scan s(server.port());
        s.core.settings.chkCompress = QByteArray(mode) != "plain";
        s.core.settings.Scan_Connections = 5;
        s.core.settings.News_Connections = 8;
        s.core.settings.sldTimeout = 2;
        s.groups.addGroup("alt.binaries.many");
        ASSERT_TRUE(s.run(60000)) << mode << s.logged.join('\n').toStdString();
        qint64 parts = 0;
        EXPECT_EQ(filedItems(s.store, &parts), want) << mode;
        EXPECT_EQ(parts, total) << mode << ": each header once";
        EXPECT_EQ(s.groups.lastReadByKey(1), total) << mode;
        EXPECT_EQ(s.logged.filter("over 5 connections, " + QString::number(size) + " articles a task").size(), 1) << mode;
        const QStringList lost = s.logged.filter(QRegularExpression("^Scan connection \\d+ to 127.0.0.1:\\d+: "));
        EXPECT_EQ(lost.filter("502 too many connections").size(), 1) << mode << lost.join('\n').toStdString();
        EXPECT_EQ(lost.filter("Server closed connection").size(), 2) << mode << lost.join('\n').toStdString();
        EXPECT_EQ(lost.filter("Server not responding -- 2 second timeout").size(), 1) << mode << lost.join('\n').toStdString();
        EXPECT_TRUE(s.logged.filter("The scan goes on over one connection").isEmpty()) << mode;
    }
}

// The articles the XOVER (or XZVER) commands of a server's log ask for, from its n-th command.
static qint64 articlesAsked(const QStringList &commands, QList<QPair<int, int>> *ranges = nullptr)
{
    static const QRegularExpression re("X(OVER|ZVER) (\\d+)-(\\d+)$");
    qint64 n = 0;
    for (const QString &c : commands) {
        const auto m = re.match(c);
        if (!m.hasMatch()) continue;
        n += m.captured(3).toInt() - m.captured(2).toInt() + 1;
        if (ranges) ranges->append({m.captured(2).toInt(), m.captured(3).toInt()});
    }
    return n;
}

// Stop in the middle of a many-connection scan: the mark stands where every header below it
// is filed, what was filed beyond it is remembered, and the next scan asks for exactly the
// rest (nothing twice, nothing skipped); a pool that cannot go on (every scan connection
// turned away) leaves the rest to the scan's own connection.
TEST(Scan, ManyConnectionsStoppedThenTheRestAndAPoolThatGivesUp)
{
    const int total = 40000;
    synth::Options o;
    o.mixed = false;
    const std::map<QByteArray, int> want = expectedItems(synth::makeGroup("alt.binaries.many", 1, total, o), 1);
    {
        TestServer server({"--yenc-only", "--latency", "3", "--group", "alt.binaries.many:1:" + QString::number(total)});
        Scan s(server.port());
        s.core.settings.Scan_Connections = 4;
        s.core.settings.News_Connections = 4;
        s.groups.addGroup("alt.binaries.many");
        int bursts = 0, atStop = 0;
        QMetaObject::Connection press = QObject::connect(&s.core.log, &OpsLog::statusChanged, [&](const QString &m) {
            if (m.startsWith("Crunched burst") && ++bursts == 7)
                QTimer::singleShot(0, [&] {
                    atStop = bursts;
                    s.scan.abortScan(true);
                });
        });
        s.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return !s.logged.filter("Scan Aborted by user.").isEmpty(); }, 30000)) << s.logged.join('\n').toStdString();
        QObject::disconnect(press);
        const qint32 mark = s.groups.lastReadByKey(1);
        qint64 beyond = 0;
        for (const auto &[from, to] : s.scan.filedBeyond(1)) {
            EXPECT_GT(from, mark + 1);
            beyond += to - from + 1;
        }
        EXPECT_EQ(mark + beyond, atStop * 1000) << "the tasks filed before the stop";
        qint64 parts = 0;
        filedItems(s.store, &parts);
        EXPECT_GE(parts, mark + beyond);
        const qsizetype asked = server.commands().size();
        s.logged.clear();
        ASSERT_TRUE(s.run(60000)) << s.logged.join('\n').toStdString();
        QList<QPair<int, int>> ranges;
        EXPECT_EQ(articlesAsked(server.commands().mid(asked), &ranges), total - mark - beyond) << "exactly the rest";
        parts = 0;
        EXPECT_EQ(filedItems(s.store, &parts), want);
        EXPECT_EQ(parts, total);
        EXPECT_EQ(s.groups.lastReadByKey(1), total);
        EXPECT_TRUE(s.scan.filedBeyond(1).empty());
    }
    // Only the scan's own connection is let in: the pool gives up, the scan goes on. A server
    // that wants a login first: each scan connection logs in when asked (480) and goes on.
    for (const bool refused : {true, false}) {
        QStringList args{"--yenc-only", "--group", "alt.binaries.many:1:" + QString::number(total)};
        args << (refused ? QStringList{"--max-connections", "1"} : QStringList{"--auth", "user:secret", "--require-auth"});
        TestServer server(args);
        Scan s(server.port());
        s.core.settings.Scan_Connections = 3;
        s.core.settings.News_Connections = 3;
        s.groups.addGroup("alt.binaries.many");
        ASSERT_TRUE(s.run(60000)) << s.logged.join('\n').toStdString();
        EXPECT_EQ(s.logged.filter("The scan goes on over one connection").size(), refused ? 1 : 0) << s.logged.join('\n').toStdString();
        if (!refused) {
            EXPECT_EQ(server.commands().filter("AUTHINFO PASS").size(), 4) << "the scan's own and three more";
        }
        qint64 parts = 0;
        EXPECT_EQ(filedItems(s.store, &parts), want);
        EXPECT_EQ(parts, total);
        EXPECT_EQ(s.groups.lastReadByKey(1), total);
    }
}

// The plan of a many-connection scan: tasks lowest first, the mark only over tasks filed
// below it whatever order they come in, tasks given back asked for first, ranges filed
// before left out.
TEST(ScanPlan, TasksMarksAndRangesFiledBefore)
{
    ScanPlan p;
    p.start(0, 10, 3);
    ScanTask t[5];
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(p.next(&t[i]));
    EXPECT_FALSE(p.next(&t[4]));
    EXPECT_EQ(t[0], (ScanTask{1, 3}));
    EXPECT_EQ(t[3], (ScanTask{10, 10}));
    p.filed(t[1]);
    EXPECT_EQ(p.mark(), 0) << "4-6 filed, 1-3 not yet";
    p.giveBack(t[2]);
    p.giveBack(t[0]);
    ASSERT_TRUE(p.next(&t[4]));
    EXPECT_EQ(t[4], t[0]) << "the lowest given back comes first";
    p.filed(t[0]);
    EXPECT_EQ(p.mark(), 6);
    p.filed(t[3]);
    EXPECT_EQ(p.filedBeyond(), (ScanPlan::Ranges{{10, 10}}));
    ASSERT_TRUE(p.next(&t[4]));
    EXPECT_EQ(t[4], t[2]);
    EXPECT_FALSE(p.done());
    p.filed(t[2]);
    EXPECT_TRUE(p.done());
    EXPECT_EQ(p.mark(), 10);
    EXPECT_TRUE(p.filedBeyond().empty());

    // Filed before (a stopped scan): left out, and the mark jumps over them.
    p.start(100, 130, 5, {{106, 110}, {118, 121}, {90, 95}});
    std::vector<ScanTask> got;
    for (ScanTask x; p.next(&x);) got.push_back(x);
    EXPECT_EQ(got, (std::vector<ScanTask>{{101, 105}, {111, 115}, {116, 117}, {122, 126}, {127, 130}}));
    p.filed(got[0]);
    EXPECT_EQ(p.mark(), 110);
    for (const ScanTask &x : got) p.filed(x);
    EXPECT_TRUE(p.done());
}

namespace {
// Replies for an OverviewFetch, the server's bytes cut in two at `cut`; what came out.
QStringList overviewRun(bool xzver, const std::vector<ScanTask> &tasks, const QByteArray &server, qsizetype cut, int resumeAfter,
                        std::vector<ScanTask> *back)
{
    OverviewFetch f;
    f.start("alt.g", xzver);
    std::vector<OverviewFetch::Action> acts;
    for (const ScanTask &t : tasks) f.add(t, acts);
    ReplyFramer framer;
    int replies = 0;
    for (const QByteArray &piece : {server.left(cut), server.mid(cut)}) {
        framer.feed(piece);
        for (Reply r; framer.next(r);) {
            f.take(r, acts);
            if (++replies == resumeAfter) f.resume(acts);
        }
    }
    QStringList out;
    auto range = [](const ScanTask &t) { return QString::number(t.from) + '-' + QString::number(t.to); };
    for (const OverviewFetch::Action &a : acts) {
        switch (a.kind) {
        case OverviewFetch::Action::Send: out << "send " + QString::fromLatin1(a.line); break;
        case OverviewFetch::Action::Burst: out << "burst " + range(a.task) + ' ' + QString::number(a.lines.count('\n')); break;
        case OverviewFetch::Action::Empty: out << "empty " + range(a.task); break;
        case OverviewFetch::Action::LoginWanted: out << "login"; break;
        case OverviewFetch::Action::Lost: out << "lost " + a.text; break;
        case OverviewFetch::Action::Damaged: out << "damaged"; break;
        }
    }
    *back = f.takeBack();
    return out;
}
} // namespace

// One scan connection's conversation, from bytes cut anywhere: GROUP and the tasks behind
// it, lines and nothing, a login asked for in the middle (GROUP and the task again), a group
// not there, a refusal, and a damaged XZVER reply; what was not answered comes back.
TEST(OverviewFetch, EveryAnswerFromBytesCutAnywhere)
{
    const QByteArray lines = "224 follows\r\n1\ta\r\n2\tb\r\n.\r\n";
    struct Case {
        const char *name;
        bool xzver;
        QByteArray server;
        int resumeAfter;
        QStringList want;
        std::vector<ScanTask> back;
    } cases[] = {
        {"lines and nothing", false, "211 2 1 2 alt.g\r\n" + lines + "423 none\r\n", -1,
         {"send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "burst 1-2 4", "empty 3-4"}, {}},
        {"a login in the middle", false, "211 2 1 2 alt.g\r\n480 auth\r\n480 auth\r\n211 2 1 2 alt.g\r\n" + lines + "420 none\r\n", 3,
         {"send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "login", "send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "burst 1-2 4",
          "empty 3-4"},
         {}},
        {"no such group", false, "411 no such group\r\n", -1, {"send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "lost the group is not there: 411 no such group"},
         {{1, 2}, {3, 4}}},
        {"refused after the first", false, "211 2 1 2 alt.g\r\n" + lines + "502 go away\r\n", -1,
         {"send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "burst 1-2 4", "lost 502 go away"}, {{3, 4}}},
        {"not understood", false, "211 2 1 2 alt.g\r\n299 what\r\n", -1,
         {"send GROUP alt.g", "send XOVER 1-2", "send XOVER 3-4", "lost Reply not understood: 299 what"}, {{1, 2}, {3, 4}}},
        {"damaged XZVER", true, "211 2 1 2 alt.g\r\n224 packed\r\n=ybegin line=128 size=3 name=a\r\nxyz\r\n=yend size=3\r\n.\r\n", -1,
         {"send GROUP alt.g", "send XZVER 1-2", "send XZVER 3-4", "damaged"}, {{1, 2}, {3, 4}}},
    };
    for (const Case &c : cases)
        for (qsizetype cut = 0; cut <= c.server.size(); ++cut) {
            std::vector<ScanTask> back;
            EXPECT_EQ(overviewRun(c.xzver, {{1, 2}, {3, 4}}, c.server, cut, c.resumeAfter, &back).join(" | ").toStdString(),
                      c.want.join(" | ").toStdString())
                << c.name << " cut at " << cut;
            EXPECT_EQ(back, c.back) << c.name << " cut at " << cut;
        }
}
