// The one download path against the test server, whatever the number of connections:
// each answer a server can give decides the same thing on one connection and on many.
#include "DownloadRig.h"
#include "ClosedPort.h"
#include "core/ListRoles.h"
#include "Posts.h"
#include "download/FetchPool.h"
#include "nzb/NzbImport.h"
#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <set>

using namespace vt;
using namespace vt::test;

namespace {

bool whole(const HeaderItem &it) { return it.declaredTotal > 0 && int(it.parts.size()) == it.declaredTotal; }

ServerEntry backupOf(quint16 port)
{
    ServerEntry e;
    e.host = "127.0.0.1";
    e.port = QString::number(port);
    e.connections = 2;
    e.level = 1;
    return e;
}

// Imports an NZB of these posts into the rig.
void importPosts(DownloadRig &r, const NzbDocument &doc)
{
    const QString nzb = r.dir.path() + "/posts.nzb";
    ASSERT_TRUE(writeNzbFile(nzb, doc, nullptr));
    ASSERT_TRUE(importNzbFile(nzb, r.store, r.batch, r.nzb).ok);
}

} // namespace

// An imported post whose first listed group the server does not carry: its segments are
// still asked for by message-id, and the file comes whole, on one connection as on four.
// On a server that scopes message-ids by group the next listed group finds them.
TEST(Engine, AFirstListedGroupNotCarriedLosesNoSegment)
{
    const QByteArray data = randomBytes(150000, 7);
    for (const bool scoped : {false, true})
        for (const int connections : {1, 4}) {
            SCOPED_TRACE(QStringLiteral("scoped %1, %2 connection(s)").arg(scoped).arg(connections).toStdString());
            QTemporaryDir arts;
            NzbDocument doc;
            doc.files.push_back(writeYencPost(arts.path(), "f.bin", data, 50000, 1, "alt.binaries.real"));
            doc.files[0].groups = {"alt.binaries.gone", "alt.binaries.real"};
            QStringList args{"--group", "alt.binaries.real:1:0", "--article-dir", arts.path()};
            if (scoped) args << "--scoped-ids";
            TestServer srv(args);
            DownloadRig r(srv.port());
            r.core.settings.News_Connections = connections;
            importPosts(r, doc);
            ASSERT_TRUE(r.download(30000)) << r.logged.join('\n').toStdString();
            EXPECT_EQ(readFile(r.core.settings.Download_Path + "f.bin"), data) << r.logged.join('\n').toStdString();
            EXPECT_EQ(r.count("not on the server, left for repair"), 0);
            // Asked once a connection at most (connections that start together may each ask).
            const auto asked = srv.commands().filter(QRegularExpression("GROUP alt.binaries.gone$")).size();
            EXPECT_GE(asked, 1);
            EXPECT_LE(asked, connections);
        }
}

// A server that answers ARTICLE with something it should not (here a well-formed 222):
// said, three tries of each part there, then the backup level, and without a backup the
// part is on no server. Never a reconnect, never a loop.
TEST(Engine, AnAnswerNotUnderstoodNeverLoops)
{
    const QByteArray data = randomBytes(100000, 8);
    QTemporaryDir arts;
    NzbDocument doc;
    doc.files.push_back(writeYencPost(arts.path(), "odd.bin", data, 50000, 1, "alt.binaries.odd"));
    const QStringList odd{"--group", "alt.binaries.odd:1:0", "--article-dir", arts.path(), "--fault", "ARTICLE=222"};
    for (const bool withBackup : {false, true}) {
        SCOPED_TRACE(withBackup ? "with a backup" : "alone");
        TestServer main(odd);
        TestServer backup({"--group", "alt.binaries.odd:1:0", "--article-dir", arts.path()});
        DownloadRig r(main.port());
        r.core.settings.chkAllowRestart = true;
        if (withBackup) r.core.settings.servers = {backupOf(backup.port())};
        importPosts(r, doc);
        ASSERT_TRUE(r.download(30000)) << r.logged.join('\n').toStdString();
        EXPECT_EQ(main.commands().filter(" ARTICLE <").size(), 2 * FetchPool::kTries);
        EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+: Reply not understood: 222 unexpected")).size(), 0);
        EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+: Reply not understood: 222 \\(part \\d of ")).size(), 2 * FetchPool::kTries)
            << r.logged.join('\n').toStdString();
        EXPECT_EQ(r.count("Emergency Reconnect"), 0);
        EXPECT_EQ(r.count(" lost ("), 0);
        ASSERT_EQ(r.processed.rowCount(), 1);
        if (withBackup) {
            EXPECT_EQ(readFile(r.core.settings.Download_Path + "odd.bin"), data);
            EXPECT_EQ(backup.commands().filter(" ARTICLE <").size(), 2);
        } else {
            EXPECT_EQ(r.processed.entry(0).status, "Reply not understood: 222");
            EXPECT_EQ(r.count("not on the server, left for repair"), 2);
        }
    }
}

// A dropped connection comes back after a second on one connection as on four; a server
// that cannot be reached at all starts the restart countdown for the whole download, and
// the status line says why.
TEST(Engine, OneRuleForLostAndRefusedConnections)
{
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        TestServer srv({"--group", "alt.binaries.drop:1:40", "--part-bytes", "5000", "--yenc-only", "--fault", "ARTICLE=drop@3"});
        DownloadRig r(srv.port());
        ASSERT_TRUE(r.scanGroup("alt.binaries.drop"));
        const int queued = r.queue(whole);
        r.core.settings.chkAllowRestart = true;
        r.core.settings.News_Connections = connections;
        ASSERT_TRUE(r.download(30000)) << r.logged.join('\n').toStdString();
        EXPECT_EQ(r.logged.filter(QRegularExpression("lost \\(Server closed connection\\)\\. Emergency Reconnect in 1 seconds\\.$")).size(), 1)
            << r.logged.join('\n').toStdString();
        EXPECT_FALSE(r.core.countdown.active());
        EXPECT_EQ(r.logged.filter("Decode successful").size(), queued);
    }
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        const quint16 port = test::closedPort();
        ASSERT_NE(port, 0);
        DownloadRig r(port);
        r.core.settings.chkAllowRestart = true;
        r.core.settings.News_Connections = connections;
        r.core.settings.Rescan_Time = 5;
        r.store.maketree("post [xx/0000001]", "post (1/1)", 1, "1", "10", 0, "Ann", "", "<p@x>");
        r.batch.AddToBatch(1);
        int restarts = 0;
        r.core.countdown.startBatchDownload = [&] {
            ++restarts;
            r.dl.BOT1();
        };
        r.dl.startCheck();
        ASSERT_TRUE(waitFor([&] { return r.core.countdown.active(); }, 10000)) << r.logged.join('\n').toStdString();
        EXPECT_FALSE(r.dl.running());
        EXPECT_TRUE(r.dl.restartPending());
        const QString why = "Connection refused by 127.0.0.1:" + QString::number(port);
        EXPECT_EQ(r.core.countdown.why(), why);
        EXPECT_EQ(r.count("Emergency Reconnect in 5 seconds."), 1);
        r.core.countdown.tick();
        EXPECT_EQ(r.count(why + QStringLiteral(" \u2014 retrying in 4 s (hit stop to abort)")), 1) << r.logged.join('\n').toStdString();
        for (int i = 0; i < 4; ++i) r.core.countdown.tick();
        EXPECT_EQ(restarts, 1);
        // Tried again, refused again: the next countdown, not a loop.
        ASSERT_TRUE(waitFor([&] { return r.core.countdown.active() && r.count("Emergency Reconnect in 5 seconds.") == 2; }, 10000));
        // What to check is said once, without a question, however often it is refused.
        const QStringList said = r.prompter.messages.filter("Check the server's name and port in Options, Servers");
        ASSERT_EQ(said.size(), 1) << r.prompter.messages.join('\n').toStdString();
        EXPECT_TRUE(said[0].startsWith("The news server cannot be reached: " + why + '.'));
        r.dl.stop();
        EXPECT_FALSE(r.core.countdown.active());
        EXPECT_FALSE(r.dl.restartPending());
    }
}

// The bars show the item at the top of the batch and the whole batch, with the times left,
// over two connections and a backup server as over one.
TEST(Engine, ProgressAndTimesLeftForAnyNumberOfConnections)
{
    TestServer srv({"--group", "alt.binaries.prog:1:30", "--part-bytes", "50000", "--yenc-only", "--rate", "300000"});
    TestServer backup({"--group", "alt.binaries.prog:1:30", "--part-bytes", "50000", "--yenc-only"});
    DownloadRig r(srv.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.prog"));
    ASSERT_GE(r.queue(whole), 2);
    r.core.settings.News_Connections = 2;
    r.core.settings.servers = {backupOf(backup.port())};
    qint64 itemMax = 0, itemSeen = 0, batchSeen = 0;
    bool batchEta = false, fileEta = false, topMatches = true, partly = false, inOrder = true;
    int rowsShown = 0;
    QObject::connect(&r.dl, &DownloadDriver::progressChanged, [&] {
        const DownloadDriver::Progress p = r.dl.progress();
        const UiState::Bar file = r.core.ui.bar(UiState::File), batch = r.core.ui.bar(UiState::Part);
        topMatches = topMatches && file.max == std::max<qint64>(1, p.itemTotal) && p.itemTotal == r.store.ItemByteTotal(p.topItem);
        itemMax = std::max(itemMax, file.max);
        itemSeen = std::max(itemSeen, file.value);
        batchSeen = std::max(batchSeen, batch.value);
        batchEta = batchEta || r.dl.batchEta.startsWith("Entire batch ETA: ");
        fileEta = fileEta || r.dl.fileEta.startsWith("Current file ETA: ");
        // Each row its own bytes and time left; a row lower down is never due sooner.
        qint64 before = -1;
        for (int row = 0; row < r.batch.batchRows(); ++row) {
            const QString pct = r.batch.cellText(row, BatchQueue::Progress), left = r.batch.cellText(row, BatchQueue::TimeLeft);
            if (pct.isEmpty()) continue;
            rowsShown = std::max(rowsShown, row + 1);
            const int value = r.batch.index(row, BatchQueue::Progress).data(ProgressRole).toInt();
            partly = partly || (value > 0 && value < 100 && pct == QString::number(value) + '%');
            if (left.isEmpty()) continue;
            const qint64 secs = left.section(u':', 0, 0).toLongLong() * 60 + left.section(u':', 1, 1).toLongLong();
            inOrder = inOrder && secs >= before;
            before = secs;
        }
    });
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    EXPECT_GE(rowsShown, 2) << "every queued row shows its progress";
    EXPECT_TRUE(partly);
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(r.batch.cellText(0, BatchQueue::Progress).isEmpty() || r.batch.batchRows() == 0) << "no run: no progress";
    EXPECT_TRUE(topMatches);
    EXPECT_GT(itemSeen, 0);
    EXPECT_GT(batchSeen, itemMax / 2);
    EXPECT_TRUE(batchEta);
    EXPECT_TRUE(fileEta);
    EXPECT_GE(r.logged.filter(QRegularExpression("^Downloading: .*KB of .*KB @ [0-9.]+ KBps$")).size(), 1);
}

// A paused item stays in its place and is passed over: the run fetches and decodes the
// others, not one part of it (even paused in the middle of its parts); resumed, the next
// run brings it.
TEST(Engine, APausedItemIsPassedOverUntilResumed)
{
    TestServer srv({"--group", "alt.binaries.prog:1:30", "--part-bytes", "50000", "--yenc-only", "--rate", "2000000"});
    DownloadRig r(srv.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.prog"));
    ASSERT_GE(r.queue(whole), 3);
    r.core.settings.News_Connections = 2;
    const int held = r.batch.tagAt(1), first = r.batch.tagAt(0);
    auto idsOf = [&](int item) {
        QStringList ids;
        for (const PartRecord &p : r.store.item(item).parts) ids << QString::fromLatin1(p.messageId().constData(), p.messageId().size());
        return ids;
    };
    auto asked = [&](int item) {
        int n = 0;
        const QStringList cmds = srv.commands();
        for (const QString &id : idsOf(item)) n += int(cmds.filter(id).size());
        return n;
    };
    // The first item paused once its first part is in; the second before it starts.
    r.batch.setPaused({1}, true);
    bool pausedFirst = false;
    QObject::connect(&r.dl, &DownloadDriver::progressChanged, [&] {
        if (pausedFirst || r.batch.batchRows() == 0 || r.batch.tagAt(0) != first) return;
        if (r.batch.index(0, BatchQueue::Progress).data(ProgressRole).toInt() <= 0) return;
        pausedFirst = true;
        r.batch.setPaused({0}, true);
    });
    QStringList over;
    QObject::connect(&r.dl, &DownloadDriver::runOver, [&](bool ok, const QString &text) { over << QString::number(ok) + ' ' + text; });
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return over.size() == 1; }, 10000)) << "the run's end is told once";
    EXPECT_TRUE(over[0].startsWith("1 Done: ")) << over[0].toStdString();
    EXPECT_EQ(asked(held), 0) << "nothing of the paused item";
    EXPECT_TRUE(r.batch.paused(held));
    EXPECT_GE(r.batch.batchPositionOf(held), 1) << "still queued";
    if (pausedFirst) {
        EXPECT_GE(r.batch.batchPositionOf(first), 1) << "paused in the middle: not decoded either";
    }
    const int queuedBefore = r.batch.batchRows();
    EXPECT_EQ(queuedBefore, pausedFirst ? 2 : 1);
    r.batch.setPaused({0, 1}, false);
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.batch.batchRows(), 0);
    EXPECT_EQ(asked(held), int(idsOf(held).size()));
}

// A server that scopes message-ids by group: the connection selects the part's group, and
// after a 430 by message-id asks by number there. A corrupt copy asks the next server.
TEST(Engine, GroupNumberFallbackAndACorruptCopyFromTheBackup)
{
    const QByteArray data = randomBytes(120000, 9);
    QTemporaryDir arts;
    NzbFileEntry f = writeYencPost(arts.path(), "sc.bin", data, 40000, 1, "alt.binaries.scoped");
    TestServer srv({"--group", "alt.binaries.scoped:1:0", "--article-dir", arts.path(), "--scoped-ids", "--fault",
                    "ARTICLE <sc.bin.part2@post.test>=430", "--fault", "ARTICLE <sc.bin.part3@post.test>=twice"});
    TestServer backup({"--group", "alt.binaries.scoped:1:0", "--article-dir", arts.path()});
    DownloadRig r(srv.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.scoped"));
    ASSERT_EQ(r.queue(whole), 1);
    r.core.settings.News_Connections = 4;
    r.core.settings.servers = {backupOf(backup.port())};
    ASSERT_TRUE(r.download(30000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(readFile(r.core.settings.Download_Path + "alt.binaries.scoped/sc.bin"), data) << r.logged.join('\n').toStdString();
    const QStringList cmds = srv.commands();
    EXPECT_EQ(cmds.filter(QRegularExpression(" ARTICLE 2$")).size(), 1) << cmds.join('\n').toStdString();
    EXPECT_GE(cmds.filter(QRegularExpression(" GROUP alt.binaries.scoped$")).size(), 1);
    // The corrupt copy of part 3 went to the backup, once.
    EXPECT_EQ(cmds.filter("ARTICLE <sc.bin.part3@post.test>").size(), 1);
    EXPECT_EQ(backup.commands().filter(" ARTICLE ").size(), 1);
    EXPECT_EQ(r.count("Corrupt data detected in part 3 from "), 1);
}

// Each connection keeps its own watchdog: a scan that starts and ends while the download
// runs leaves it watched, and a connection that stalls is caught.
TEST(Engine, AScanBesideTheDownloadLeavesItsWatchdog)
{
    TestServer srv({"--group", "alt.binaries.watch:1:20", "--group", "alt.binaries.side:1:10", "--part-bytes", "5000", "--yenc-only",
                    "--fault", "ARTICLE=stall@4"});
    DownloadRig r(srv.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.watch"));
    const int queued = r.queue(whole);
    ASSERT_GE(queued, 2);
    r.core.settings.sldTimeout = 15;
    r.core.settings.chkAllowRestart = true;
    r.logged.clear();
    r.dl.startCheck();
    r.groups.addGroup("alt.binaries.side");
    r.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return r.count("Scan Complete.") == 1 && r.session.TCP1.state() == 0; }, 20000));
    ASSERT_TRUE(waitFor([&] { return !r.dl.running(); }, 40000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.logged.filter(QRegularExpression("^Connection \\d+: WARNING: Server not responding -- 15 second timeout")).size(), 1);
    EXPECT_EQ(r.logged.filter("Decode successful").size(), queued);
}

// A hostile server: one reply that never ends, as fast as it is read, and one that trickles
// a byte every half second. The first is cut off at its cap (nothing like it is held in
// memory), the second is silence to the watchdog; the parts come on the next try.
TEST(Engine, RepliesThatNeverEndAreCutOff)
{
    EXPECT_EQ(Connection::replyLimit("XOVER 1-100"), 100 * 4096 + 64 * 1024);
    EXPECT_EQ(Connection::replyLimit("ARTICLE <a@b>"), 64 * 1024 * 1024);
    for (const char *fault : {"ARTICLE=flood@1", "ARTICLE=trickle@1"}) {
        SCOPED_TRACE(fault);
        TestServer srv({"--group", "alt.binaries.flood:1:20", "--part-bytes", "5000", "--yenc-only", "--fault", fault});
        DownloadRig r(srv.port());
        ASSERT_TRUE(r.scanGroup("alt.binaries.flood"));
        const int queued = r.queue(whole);
        r.core.settings.chkAllowRestart = true;
        r.core.settings.sldTimeout = 15;
        ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
        if (QByteArray(fault).contains("flood"))
            EXPECT_EQ(r.logged.filter(QRegularExpression("lost \\(The reply to ARTICLE passed [0-9.]+ MB without ending: the server sends more than was asked\\)")).size(), 1)
                << r.logged.join('\n').toStdString();
        else
            EXPECT_EQ(r.logged.filter("second timeout triggered (a reply trickling in without an end)").size(), 1);
        EXPECT_EQ(r.logged.filter("Decode successful").size(), queued);
    }
}

// A batch row holds its post by handle: once the slot holds another post, the row is
// dropped, and nothing is fetched for the post that took the slot.
TEST(Engine, ABatchRowWhoseSlotHoldsAnotherPostIsDropped)
{
    TestServer srv({"--group", "alt.binaries.slot:1:10", "--yenc-only"});
    DownloadRig r(srv.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.slot"));
    r.batch.AddToBatch(1);
    r.store.item(1).use += 1000;   // as if the slot had been given to another post
    ASSERT_TRUE(r.download(10000));
    EXPECT_EQ(r.batch.batchRows(), 0);
    EXPECT_EQ(r.count("Done!"), 1);
    EXPECT_TRUE(srv.commands().filter(" ARTICLE ").isEmpty());
}
