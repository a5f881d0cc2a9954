// Parts over many connections to several servers: faults on several connections at once,
// parts found only on a backup server, a server with too few connections, and Stop.
#include "DownloadRig.h"
#include "Posts.h"
#include "download/FetchPool.h"
#include "nzb/NzbImport.h"
#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>

using namespace vt;
using namespace vt::test;

namespace {

bool whole(const HeaderItem &it) { return it.declaredTotal > 0 && int(it.parts.size()) == it.declaredTotal; }

// What the download's pool reported.
struct Pool {
    FetchPool &pool;
    QStringList storedBy;   // server of each part stored
    std::vector<int> fetched, missing;
    bool done = false;
    explicit Pool(DownloadRig &r) : pool(r.dl.pool())
    {
        QObject::connect(&pool, &FetchPool::partStored, [this](ItemRef, int, const QString &s, qint64, double) { storedBy << s; });
        QObject::connect(&pool, &FetchPool::itemFetched, [this](ItemRef item) { fetched.push_back(item.slot); });
        QObject::connect(&pool, &FetchPool::partMissing, [this](ItemRef item, int, const QString &) { missing.push_back(item.slot); });
        QObject::connect(&pool, &FetchPool::finished, [this] { done = true; });
    }
};

std::vector<int> batchItems(DownloadRig &r)
{
    std::vector<int> items;
    for (int row = 0; row < r.batch.batchRows(); ++row) items.push_back(r.batch.tagAt(row));
    return items;
}

// The group of the test server's first --group, scanned, with its whole posts in the batch,
// to be fetched over this many connections.
struct Queued {
    TestServer srv;
    DownloadRig r;
    int queued = 0, parts = 0;
    Queued(const QStringList &serverArgs, int connections) : srv(serverArgs), r(srv.port())
    {
        EXPECT_TRUE(r.scanGroup(serverArgs.at(serverArgs.indexOf("--group") + 1).section(':', 0, 0)));
        queued = r.queue(whole);
        for (int item : batchItems(r)) parts += int(r.store.item(item).parts.size());
        r.core.settings.News_Connections = connections;
    }
};

ServerEntry server(quint16 port, int connections, int level = 0)
{
    ServerEntry e;
    e.host = "127.0.0.1";
    e.port = QString::number(port);
    e.connections = connections;
    e.level = level;
    return e;
}

std::set<QString> connectionsAsking(const TestServer &s)
{
    std::set<QString> ids;
    for (const QString &l : s.commands())
        if (l.contains(" ARTICLE ")) ids.insert(l.section(' ', 0, 0));
    return ids;
}

} // namespace

// A batch over eight connections through a server that cuts its replies into pieces and
// drops, stalls, cuts and fails on several of them, with the decoding workers allowed one
// article at a time (every part holds the connections until its worker is done): every
// part lands once and every item decodes. The stall waits for the watchdog's shortest
// timeout (15 s).
TEST(FetchPool, EightConnectionsThroughFaultsEndWithEveryFileRight)
{
    Queued q({"--group", "alt.binaries.pool:1:160", "--part-bytes", "12000", "--yenc-only", "--segment", "--fault", "ARTICLE=drop@5", "--fault",
              "ARTICLE=cut@11", "--fault", "ARTICLE=503@17", "--fault", "ARTICLE=drop@23", "--fault", "ARTICLE=stall@29"},
             8);
    auto &[srv, r, queued, parts] = q;
    ASSERT_GT(queued, 5);
    r.core.settings.sldTimeout = 15;
    r.core.settings.chkAllowRestart = true;
    Pool p(r);
    p.pool.setWriterBacklog(1);
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(int(p.fetched.size()), queued);
    EXPECT_TRUE(p.missing.empty());
    EXPECT_GE(p.pool.writerHolds(), parts / 2) << "the workers held the connections";
    EXPECT_GE(connectionsAsking(srv).size(), 8u) << "the parts went over all connections";
    EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+ to 127.0.0.1:\\d+ lost .*Emergency Reconnect in 1 seconds.$")).size(), 4)
        << r.logged.join('\n').toStdString();
    // The 503 is a failed try of its part, asked again; the connection goes on.
    EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+: Reply not understood: 503 program fault \\(part \\d+ of ")).size(), 1);
    EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+: WARNING: Server not responding -- 15 second timeout triggered")).size(), 1);
    EXPECT_EQ(p.storedBy.size(), parts) << "each part stored once";
    EXPECT_EQ(p.pool.openConnections(), 0) << "all said goodbye";
    EXPECT_EQ(r.logged.filter("Decode successful").size(), queued) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.batch.batchRows(), 0);
}

// A part whose request breaks the connection every time is left for repair, and the rest
// still comes: after three losses inside its reply, or five before any byte of it (a
// loss before its reply may be another command's doing, so it takes more).
TEST(FetchPool, APartThatBreaksEveryConnectionIsLeftForRepair)
{
    QTemporaryDir arts;
    NzbDocument doc;
    doc.files.push_back(writeYencPost(arts.path(), "a.bin", randomBytes(100000, 21), 25000, 1, "alt.binaries.bad"));
    doc.files.push_back(writeYencPost(arts.path(), "b.bin", randomBytes(100000, 22), 25000, 5, "alt.binaries.bad"));
    TestServer srv({"--group", "alt.binaries.bad:1:0", "--article-dir", arts.path(), "--fault", "ARTICLE <a.bin.part2@post.test>=drop",
                    "--fault", "ARTICLE <b.bin.part3@post.test>=cut"});
    DownloadRig r(srv.port());
    const QString nzb = r.dir.path() + "/bad.nzb";
    writeNzbFile(nzb, doc, nullptr);
    ASSERT_TRUE(importNzbFile(nzb, r.store, r.batch, r.nzb).ok);
    r.core.settings.News_Connections = 2;
    r.core.settings.chkAllowRestart = true;
    Pool p(r);
    ASSERT_TRUE(r.download(120000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(p.storedBy.size(), 6);
    EXPECT_EQ(p.fetched.size(), 2u);
    const QStringList left = r.logged.filter("left for repair");
    ASSERT_EQ(left.size(), 2) << r.logged.join('\n').toStdString();
    EXPECT_EQ(left.filter(QRegularExpression("Segment 2 .*a.bin.*lost on it 5 times")).size(), 1) << left.join('\n').toStdString();
    EXPECT_EQ(left.filter(QRegularExpression("Segment 3 .*b.bin.*lost on it 3 times")).size(), 1) << left.join('\n').toStdString();
    EXPECT_EQ(srv.commands().filter("ARTICLE <a.bin.part2@").size(), 5);
    EXPECT_EQ(srv.commands().filter("ARTICLE <b.bin.part3@").size(), 3);
    EXPECT_EQ(r.batch.batchRows(), 0);
}

// Parts split between a main and a backup server: each is asked of the main one first and
// of the backup only when the main one lacks it; a part on neither is marked missing and
// the rest of its file still comes.
TEST(FetchPool, BackupServerHasWhatTheMainLacksAndTooFewConnectionsAreSurvived)
{
    QTemporaryDir mainArts, backupArts;
    NzbDocument doc;
    const QByteArray a = randomBytes(200000, 11), b = randomBytes(150000, 12), c = randomBytes(50000, 13);
    doc.files.push_back(writeYencPost(backupArts.path(), "a.bin", a, 25000, 1, "alt.binaries.sets"));
    doc.files.push_back(writeYencPost(backupArts.path(), "b.bin", b, 25000, 9, "alt.binaries.sets"));
    doc.files.push_back(writeYencPost(backupArts.path(), "c.bin", c, 25000, 15, "alt.binaries.sets"));
    for (int n = 1; n <= 16; ++n)   // a is 1..8, b 9..14, c 15..16; the main server lacks every third
        if (n % 3 != 0) QFile::copy(backupArts.path() + QStringLiteral("/%1.art").arg(n), mainArts.path() + QStringLiteral("/%1.art").arg(n));
    QFile::remove(backupArts.path() + "/15.art");   // c's part 1 is on neither
    TestServer mainSrv({"--group", "alt.binaries.sets:1:0", "--article-dir", mainArts.path(), "--max-connections", "2"});
    TestServer backupSrv({"--group", "alt.binaries.sets:1:0", "--article-dir", backupArts.path()});
    DownloadRig r(mainSrv.port());
    const QString nzb = r.dir.path() + "/sets.nzb";
    writeNzbFile(nzb, doc, nullptr);
    ASSERT_TRUE(importNzbFile(nzb, r.store, r.batch, r.nzb).ok);

    Pool p(r);
    r.core.settings.News_Connections = 6;
    r.core.settings.servers = {server(backupSrv.port(), 2, 1)};
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(p.fetched.size(), 3u);
    ASSERT_EQ(p.missing.size(), 1u);
    const QString mainName = "127.0.0.1:" + QString::number(mainSrv.port()), backupName = "127.0.0.1:" + QString::number(backupSrv.port());
    EXPECT_EQ(p.storedBy.filter(mainName).size(), 11) << "every part the main server has came from it";
    EXPECT_EQ(p.storedBy.filter(backupName).size(), 4);
    EXPECT_EQ(r.logged.filter("not on the server, left for repair").size(), 1);
    // Only what the main server lacked was asked of the backup.
    const QStringList backupAsked = backupSrv.commands().filter(" ARTICLE ");
    EXPECT_EQ(backupAsked.size(), 5) << backupAsked.join('\n').toStdString();
    // Six connections wanted, two allowed: the others were refused once each, then the
    // pool went on with two, without trying again and again.
    const QStringList refused = r.logged.filter(QRegularExpression("^Server .* refused connection"));
    EXPECT_GE(refused.size(), 1) << r.logged.join('\n').toStdString();
    EXPECT_LE(refused.size(), 4) << refused.join('\n').toStdString();
    EXPECT_LE(connectionsAsking(mainSrv).size(), 2u);

    // Every item whose parts are on one server or the other decodes; c decodes with its gap.
    EXPECT_EQ(readFile(r.core.settings.Download_Path + "a.bin"), a);
    EXPECT_EQ(readFile(r.core.settings.Download_Path + "b.bin"), b);
    EXPECT_EQ(r.logged.filter("Decode successful").size(), 2) << r.logged.join('\n').toStdString();
    // The processed rows say where the parts came from, or that one was on no server.
    const auto &rows = r.processed.entries();
    ASSERT_EQ(rows.size(), 3u);
    for (const ProcessedEntry &e : rows) {
        if (e.ok) EXPECT_TRUE(e.status.startsWith("Decode successful (from ") && e.status.contains(mainName) && e.status.contains(backupName))
            << e.status.toStdString();
        else EXPECT_TRUE(e.status.endsWith("; 1 part(s) on no server)") && e.status.contains("(from " + mainName)) << e.status.toStdString();
    }
}

// Stop closes every connection at once and keeps what came; the next Download asks only
// for the rest. The server starts each connection in transit mode, as INN does: each one
// asks for reader mode when its first two pipelined parts are refused, and says so.
TEST(FetchPool, StopKeepsThePartsAlreadyIn)
{
    Queued q({"--group", "alt.binaries.stop:1:80", "--part-bytes", "20000", "--yenc-only", "--rate", "400000", "--mode-reader", "401"}, 4);
    auto &[srv, r, queued, parts] = q;
    Pool p(r);
    r.dl.startCheck();
    ASSERT_TRUE(waitFor([&] { return p.storedBy.size() >= 6; }, 30000));
    EXPECT_GE(p.pool.busyConnections(), 1);
    const QStringList states = r.dl.connectionStates();
    EXPECT_EQ(states.size(), p.pool.openConnections());
    EXPECT_TRUE(states.filter(QRegularExpression("^Connection \\d+ \\(127.0.0.1:\\d+\\): part \\d+ of ")).size() >= 1) << states.join('\n').toStdString();
    r.dl.stop();
    EXPECT_TRUE(r.dl.connectionStates().isEmpty());
    EXPECT_EQ(p.pool.openConnections(), 0);
    EXPECT_FALSE(p.pool.busy());
    EXPECT_FALSE(r.dl.running());
    const int first = int(p.storedBy.size());
    ASSERT_LT(first, parts) << "stopped before the end";
    ASSERT_TRUE(r.download(60000));
    EXPECT_EQ(int(p.storedBy.size()), parts) << "the second run fetched only the rest";
    EXPECT_EQ(r.processed.rowCount(), queued);
    for (const ProcessedEntry &e : r.processed.entries()) EXPECT_TRUE(e.ok) << e.status.toStdString();
    // Each connection of the second run asked once, though two of its parts were refused.
    const QRegularExpression asked("^Connection (\\d+): Server wants MODE READER \\(401 MODE-READER\\): sending it and repeating (GROUP|ARTICLE)$");
    std::set<QString> askers;
    for (const QString &l : r.logged.filter(asked)) askers.insert(asked.match(l).captured(1));
    EXPECT_GE(askers.size(), 1u);
    EXPECT_EQ(askers.size(), size_t(r.logged.filter(asked).size())) << r.logged.join('\n').toStdString();
}

// With emergency restart off a lost connection stays closed and the others finish the
// batch; when none is left the run stops, says so, and keeps what came.
TEST(FetchPool, WithEmergencyRestartOffALostConnectionStaysClosed)
{
    const QRegularExpression lostLine("^Connection \\d+ to 127.0.0.1:\\d+ lost \\(.*\\). Emergency restart is off: going on with (\\d) connection");
    {
        Queued q({"--group", "alt.binaries.off:1:60", "--part-bytes", "12000", "--yenc-only", "--fault", "ARTICLE=drop@4"}, 3);
        auto &[srv, r, queued, parts] = q;   // emergency restart is off in the rig
        Pool p(r);
        ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
        ASSERT_EQ(r.logged.filter(lostLine).size(), 1) << r.logged.join('\n').toStdString();
        EXPECT_EQ(r.logged.filter("Emergency Reconnect").size(), 0);
        // The lost one asked, and another finished; none was opened in the lost one's place
        // (a third may have found nothing left to ask for on a slow machine).
        EXPECT_GE(connectionsAsking(srv).size(), 2u);
        EXPECT_LE(connectionsAsking(srv).size(), 3u) << "none opened in the lost one's place";
        EXPECT_EQ(int(p.fetched.size()), queued);
        EXPECT_EQ(r.logged.filter("Decode successful").size(), queued);
    }
    // Two connections, the second and third part asked for dropped: both are gone.
    Queued q({"--group", "alt.binaries.off:1:60", "--part-bytes", "12000", "--yenc-only", "--fault", "ARTICLE=drop@2", "--fault", "ARTICLE=drop@3"}, 2);
    auto &[srv, r, queued, parts] = q;
    Pool p(r);
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.logged.filter(lostLine).size(), 2) << r.logged.join('\n').toStdString();
    ASSERT_EQ(r.prompter.messages.size(), 1);
    EXPECT_TRUE(r.prompter.messages.first().startsWith(
        "Download stopped: the connections to the news server were lost and emergency restart is off."))
        << r.prompter.messages.first().toStdString();
    EXPECT_EQ(p.pool.openConnections(), 0);
    EXPECT_EQ(r.batch.batchRows(), queued) << "the batch stays for the next run";
    EXPECT_LT(p.storedBy.size(), parts) << "stopped before the end";
    auto kept = [&] {
        int n = 0;
        for (int item : batchItems(r))
            for (int part = 1; part <= int(r.store.item(item).parts.size()); ++part) n += r.cache.isCached(item, part);
        return n;
    };
    // A part its worker was decoding at the stop is in its file and reported once the
    // worker is done.
    EXPECT_TRUE(waitFor([&] { return int(p.storedBy.size()) == kept(); }, 10000))
        << kept() << " " << p.storedBy.size() << ": what came is in the part cache or its file";
}

// The speed limit is for the whole download: four connections together keep within 10 %
// of it over ten seconds, and lifting it takes effect while the run goes on.
TEST(FetchPool, SpeedLimitHoldsOverTenSecondsAcrossConnections)
{
    Queued q({"--group", "alt.binaries.capped:1:200", "--part-bytes", "80000", "--yenc-only"}, 4);
    auto &[srv, r, queued, parts] = q;
    r.core.settings.Download_Limit = 400;   // KB/s
    r.core.applySettings();
    Pool p(r);
    qint64 stored = 0;
    QObject::connect(&p.pool, &FetchPool::partStored,
                     [&](ItemRef item, int part, const QString &, qint64, double) { stored += r.store.item(item.slot).parts[size_t(part - 1)].byteCount; });
    QElapsedTimer t;
    t.start();
    r.dl.startCheck();
    const qint64 tenSeconds = 10 * 400 * 1024;
    ASSERT_TRUE(waitFor([&] { return stored >= tenSeconds; }, 40000));
    const double rate = double(stored) / (double(t.nsecsElapsed()) / 1e9);
    EXPECT_LT(rate, 1.1 * 400 * 1024) << "held to the limit";
    EXPECT_GT(rate, 0.8 * 400 * 1024);
    EXPECT_GE(p.pool.busyConnections(), 2) << "shared, not one connection at a time";

    r.core.settings.Download_Limit = 0;
    r.core.applySettings();
    const qint64 atLift = stored;
    t.restart();
    ASSERT_TRUE(waitFor([&] { return !r.dl.running(); }, 30000));
    ASSERT_GT(stored - atLift, 2 * tenSeconds / 10) << "enough left to tell";
    EXPECT_GT(double(stored - atLift) / (double(t.nsecsElapsed()) / 1e9), 3.0 * 400 * 1024) << "the lifted limit took effect at once";
    EXPECT_EQ(r.logged.filter("Decode successful").size(), queued);
}
