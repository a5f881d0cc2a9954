// The session engine against the real test server over loopback, with the server cutting
// every reply into random small pieces.
#include "engine/Engine.h"
#include "TestSupport.h"
#include "core/AppCore.h"
#include "nntp/Session.h"
#include "Synth.h"
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace vt;
using vt::test::TestServer;
using vt::test::waitFor;

namespace {

// Stands in for the scan driver: selects one group, as the real driver does first.
struct ProbeScan : ScanHandler {
    Session *s = nullptr;
    QString group = QStringLiteral("alt.binaries.test");
    int scanHeadersCalls = 0, advances = 0, aborts = 0;
    QList<QByteArray> selected, missing, bursts;
    void ScanHeaders(bool advance) override
    {
        if (advance) { ++advances; return; }
        ++scanHeadersCalls;
        s->sendScan("GROUP " + group.toLatin1());
        s->scanStage = ScanStage::GroupAsked;
    }
    void onGroupSelected(const QByteArray &r) override { selected << r; s->scanStage = ScanStage::GroupSelected; }
    void onNoSuchGroup(const QByteArray &r) override { missing << r; }
    void onGroupLost() override {}
    void onBurst(const QByteArray &b) override { bursts << b; }
    void onNoOverview(const QByteArray &) override {}
    bool dropStaleReply(const QByteArray &) override { return false; }
    void abortScan(bool) override { ++aborts; }
    bool hasGroups() const override { return true; }
    QString currentGroupName() const override { return group; }
    void resetNewFlags() override {}
    void clearOverviewRangeStart() override {}
};

struct Fixture {
    QTemporaryDir dir;
    QuietPrompter prompter;
    Engine engine{AppPaths(dir.path()), prompter};
    AppCore &core = engine.core;
    Session &session = engine.session;
    ProbeScan scan;
    QStringList logged;

    explicit Fixture(quint16 port)
    {
        core.settings.News_Host = QStringLiteral("127.0.0.1");
        core.settings.News_Port = QString::number(port);
        core.settings.User_Name = QStringLiteral("user");
        core.settings.password = QStringLiteral("secret");
        core.settings.chkCompress = false;   // the command lists here are a plain server's
        scan.s = &session;
        session.setScanHandler(&scan);
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) { logged << m; });
    }
    int indexOf(const QString &msg) const { return int(logged.indexOf(msg)); }
};

QStringList baseArgs()
{
    return {"--group", "alt.binaries.test:1000:60", "--segment", "--auth", "user:secret"};
}

} // namespace

// Greeting, MODE READER, greeting, AUTHINFO USER/PASS, SLAVE, GROUP: every combination of
// the optional steps (the download's connections in download/Engine.*).
TEST(Session, LoginOrderWithEveryOptionalStep)
{
    for (int mask = 0; mask < 8; ++mask) {
        const bool modeReader = mask & 1, auth = mask & 2, slave = mask & 4;
        QStringList args = baseArgs();
        if (auth) args << "--require-auth";
        TestServer server(args);
        Fixture f(server.port());
        f.core.settings.chkModeReader = modeReader;
        f.core.settings.chkAuth = auth;
        f.core.settings.chkSlave = slave;

        f.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); })) << "mask " << mask;
        EXPECT_TRUE(f.scan.selected.first().startsWith("211 60 1000 1059 alt.binaries.test"));
        EXPECT_TRUE(f.session.watchdogArmed());

        QStringList want;
        if (modeReader) want << "MODE READER";
        if (auth) want << "AUTHINFO USER user" << "AUTHINFO PASS secret";
        if (slave) want << "SLAVE";
        QStringList scanWant = want;
        scanWant << "GROUP alt.binaries.test";
        EXPECT_EQ(server.commandsOf(1), scanWant) << "mask " << mask;
        EXPECT_EQ(f.indexOf("Sending MODE READER request") >= 0, modeReader);
        EXPECT_EQ(f.indexOf("Authinfo cleared, login complete...") >= 0, auth);
        EXPECT_EQ(f.indexOf("Requesting slave status") >= 0, slave);
        EXPECT_TRUE(f.logged.contains("200 vantrel-nntpd ready (posting not allowed)")
                    || f.logged.contains("200 reader mode, posting not allowed"));
    }
}

TEST(Session, ArticleWithReplyLikeLinesArrivesWhole)
{
    TestServer server(baseArgs());
    // Find a text article: its body holds a line starting "211 ".
    synth::Options o;
    const synth::Group g = synth::makeGroup("alt.binaries.test", 1000, 60, o);
    const synth::Article *text = nullptr;
    for (const auto &a : g.articles)
        if (a.kind == synth::Kind::Text && !a.expired) { text = &a; break; }
    ASSERT_NE(text, nullptr);
    Connection c;
    QList<Reply> replies;
    QObject::connect(&c, &Connection::replyReceived, [&](const Reply &r) {
        replies << r;
        if (replies.size() == 1) {
            c.sendLine("GROUP alt.binaries.test");
            c.sendLine("ARTICLE " + QByteArray::number(text->number));
        }
    });
    c.connectTo("127.0.0.1", server.port());
    ASSERT_TRUE(waitFor([&] { return replies.size() == 3; }));
    const QByteArray art = replies[2].data;
    EXPECT_TRUE(art.startsWith("220 "));
    EXPECT_TRUE(art.endsWith("\r\n.\r\n"));
    EXPECT_TRUE(art.contains("\r\n211 a body line that looks like a group reply\r\n"));
    EXPECT_TRUE(art.contains("\r\n..A line that starts with a dot"));
    // The body line did not make a reply of its own.
    EXPECT_TRUE(replies[1].startsWith("211 60 "));
}

TEST(Session, LateLoginOnGroupRestartsAtTheSameGroup)
{
    QStringList args = baseArgs();
    args << "--fault" << "GROUP=480@1";
    TestServer server(args);
    Fixture f(server.port());
    f.core.settings.chkAuth = false;   // the server asks only when the group is selected
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); }));
    EXPECT_EQ(server.commandsOf(1), QStringList({"GROUP alt.binaries.test", "AUTHINFO USER user",
                                                 "AUTHINFO PASS secret", "GROUP alt.binaries.test"}));
    EXPECT_EQ(f.scan.scanHeadersCalls, 2);
    EXPECT_GE(f.indexOf("Authinfo cleared, login complete..."), 0);
}

TEST(Session, MissingUserNameEndsTheSession)
{
    QStringList args = baseArgs();
    args << "--require-auth";
    TestServer server(args);
    Fixture f(server.port());
    f.core.settings.chkAuth = true;
    f.core.settings.User_Name.clear();
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return !f.prompter.messages.isEmpty(); }));
    EXPECT_EQ(f.prompter.messages.first(), "Error, server wanted username, but you have not supplied it.");
    EXPECT_TRUE(waitFor([&] { return f.session.TCP1.state() == 0; }));
    EXPECT_TRUE(f.core.ui.scanEnabled());
}

TEST(Session, ServerErrorWithAndWithoutRestart)
{
    for (bool restart : {false, true}) {
        QStringList args = baseArgs();
        args << "--fault" << "GROUP=500@1";
        TestServer server(args);
        Fixture f(server.port());
        f.core.settings.chkRestart500 = restart;
        f.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return f.session.TCP1.state() == 0 && f.logged.contains("500 command not recognized"); }));
        if (restart) {
            EXPECT_TRUE(f.prompter.messages.isEmpty());
            EXPECT_GE(f.indexOf("critical server error detected.  Emergency restart pending..."), 0);
            EXPECT_TRUE(f.core.countdown.active());
            EXPECT_GE(f.indexOf("Emergency Reconnect in 90 seconds."), 0);
        } else {
            ASSERT_EQ(f.prompter.messages.size(), 1);
            EXPECT_EQ(f.prompter.messages.first(), "Error: 500 command not recognized");
            EXPECT_FALSE(f.core.countdown.active());
        }
        EXPECT_EQ(f.session.scanStage, ScanStage::Idle);
        EXPECT_TRUE(f.core.ui.scanEnabled());
    }
}

TEST(Session, WatchdogFiresOnlyAfterMoreThanTheTimeout)
{
    QStringList args = baseArgs();
    args << "--fault" << "GROUP=stall";
    TestServer server(args);
    Fixture f(server.port());
    f.core.settings.sldTimeout = 15;
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return server.commandsOf(1).contains("GROUP alt.binaries.test"); }));
    f.session.noteActivity(ConnectionId::Scan, QDateTime::currentDateTime().addSecs(-15));
    f.session.watchdogTick(ConnectionId::Scan);
    EXPECT_EQ(f.session.TCP1.state(), 7) << "exactly the timeout is not silence enough";
    EXPECT_FALSE(f.core.countdown.active());
    f.session.noteActivity(ConnectionId::Scan, QDateTime::currentDateTime().addSecs(-16));
    f.session.watchdogTick(ConnectionId::Scan);
    EXPECT_GE(f.indexOf("WARNING: Server not responding -- 15 second timeout triggered, closing connection"), 0);
    EXPECT_EQ(f.session.TCP1.state(), 0);
    EXPECT_TRUE(f.core.countdown.active());
    // Disarmed: the watchdog stops itself.
    f.session.watchdogTimer(ConnectionId::Scan).start();
    f.session.watchdogTick(ConnectionId::Scan);
    EXPECT_FALSE(f.session.watchdogTimer(ConnectionId::Scan).isActive());
}

TEST(Session, EmergencyRestartDuringScanResumesAfterCountdown)
{
    QStringList args = baseArgs();
    args << "--fault" << "GROUP=drop@1";
    TestServer server(args);
    Fixture f(server.port());
    f.core.settings.chkRestart500 = true;   // a peer close restarts
    f.core.settings.Rescan_Time = 5;
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return f.core.countdown.active(); }));
    EXPECT_GE(f.indexOf("Server closed connection"), 0);
    EXPECT_GE(f.indexOf("Emergency Reconnect in 5 seconds."), 0);
    for (int i = 0; i < 5; ++i) f.core.countdown.tick();
    EXPECT_GE(f.indexOf("Rescan initiated"), 0);
    ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); }));
    EXPECT_EQ(server.commandsOf(2), QStringList({"GROUP alt.binaries.test"}));
}

TEST(Session, PeerCloseWithoutRestartAbortsTheScan)
{
    QStringList args = baseArgs();
    args << "--fault" << "GROUP=drop@1";
    TestServer server(args);
    Fixture f(server.port());
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return f.scan.aborts == 1; }));
    EXPECT_FALSE(f.core.countdown.active());
}

TEST(Session, RestartGuardsBetweenScanAndDownload)
{
    TestServer server(baseArgs());
    Fixture f(server.port());
    // A scan connection failure while a batch download runs changes nothing.
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); }));
    bool downloading = true;
    f.session.downloadRunning = [&] { return downloading; };
    f.session.emergencyRestart(ConnectionId::Scan);
    EXPECT_EQ(f.session.TCP1.state(), 7);
    EXPECT_FALSE(f.core.countdown.active());
    // Without it, and with restarts off, the scan connection only closes.
    downloading = false;
    f.core.settings.chkAllowRestart = false;
    f.session.emergencyRestart(ConnectionId::Scan);
    EXPECT_EQ(f.session.TCP1.state(), 0);
    EXPECT_GE(f.indexOf("Connection Closed"), 0);
    EXPECT_FALSE(f.core.countdown.active());
}

TEST(Session, ConnectRefusedIsASocketError)
{
    // A port nobody listens on: the error is logged and the restart countdown starts.
    quint16 port;
    {
        TestServer server({}, false);
        port = server.port();
    }
    QTemporaryDir d;
    Fixture f(port);
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return f.core.countdown.active(); }));
    EXPECT_TRUE(f.logged.contains("Connection refused"));
}

TEST(Session, QuitAndGoodbyeCloseTheScanConnection)
{
    TestServer server(baseArgs());
    Fixture f(server.port());
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); }));
    f.session.disconnect(ConnectionId::Scan);
    EXPECT_EQ(f.session.TCP1.state(), 0);
    EXPECT_TRUE(f.session.quitSent(ConnectionId::Scan));
    EXPECT_TRUE(waitFor([&] { return server.commandsOf(1).contains("QUIT"); }));
    // Closing again reports the state once.
    const int before = int(f.logged.count("Connection Closed"));
    f.session.closeConnection(ConnectionId::Scan);
    EXPECT_EQ(f.logged.count("Connection Closed"), before + 1);
}

// An empty port is the standard one; a port that is no port (cut to 16 bits it would be
// another one) is said, and nothing is tried.
TEST(Session, EmptyPortMeansStandardPortAndABadOneIsSaid)
{
    QTemporaryDir d;
    Fixture f(1);
    f.core.settings.News_Port.clear();
    // Not a host of this machine: a local news server on 119 must not decide the test.
    f.core.settings.News_Host = QStringLiteral("no-such-host.invalid");
    f.session.connectForScan();
    EXPECT_EQ(f.core.settings.News_Port, "119");
    f.session.closeConnection(ConnectionId::Scan);
    for (const char *bad : {"99999", "65536", "0", "119x", "-1"}) {
        f.prompter.messages.clear();
        f.core.settings.News_Port = bad;
        f.session.connectForScan();
        ASSERT_EQ(f.prompter.messages.size(), 1) << bad;
        EXPECT_EQ(f.prompter.messages.first(), Session::badPortText(bad));
        EXPECT_TRUE(f.session.TCP1.isClosed()) << bad;
    }
}

TEST(Session, NoHostAsksForTheAssistant)
{
    Fixture f(1);
    f.core.settings.News_Host.clear();
    int shown = 0;
    f.session.showSetupAssistant = [&] { ++shown; };
    f.prompter.setAnswer(true);
    f.session.connectForScan();
    ASSERT_EQ(f.prompter.questions.size(), 1);
    EXPECT_EQ(f.prompter.questions.first(), "You have not entered a news server name!\r\n  Would you like to run the setup assistant?");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(f.session.TCP1.state(), 0);
}

// A server in transit mode ("401 MODE-READER", or a bare 500 that CAPABILITIES explains)
// gets MODE READER and the refused command again; nothing waits for the watchdog.
TEST(Session, ServerThatWantsReaderModeFirst)
{
    const QList<QStringList> variants = {{"--mode-reader", "401"}, {"--mode-reader", "500", "--capabilities"}};
    for (const QStringList &v : variants) {
        TestServer server(QStringList({"--group", "alt.binaries.test:1000:60", "--segment"}) + v);
        Fixture f(server.port());
        f.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return !f.scan.selected.isEmpty(); })) << v.join(' ').toStdString();
        const QStringList ask = v.contains("401") ? QStringList{"MODE READER"} : QStringList{"CAPABILITIES", "MODE READER"};
        EXPECT_EQ(server.commandsOf(1), QStringList{"GROUP alt.binaries.test"} + ask + QStringList{"GROUP alt.binaries.test"});
        EXPECT_EQ(f.logged.filter("Reader mode on: 200").size(), 1);
        EXPECT_TRUE(f.logged.filter("not responding").isEmpty());
        EXPECT_TRUE(f.prompter.messages.isEmpty());
    }
    // A refusal that is not about reader mode stands; a reply with no meaning here is said so.
    TestServer plain({"--group", "alt.binaries.test:1000:60", "--fault", "GROUP=500@1", "--fault", "GROUP=299 odd@1"});
    for (const char *want : {"500 command not recognized", "Reply not understood on the scan connection: 299 odd"}) {
        Fixture f(plain.port());
        f.session.connectForScan();
        ASSERT_TRUE(waitFor([&] { return f.logged.contains(want); })) << want << f.logged.join(QStringLiteral("\n")).toStdString();
    }
    EXPECT_EQ(plain.commandsOf(1), QStringList({"GROUP alt.binaries.test", "CAPABILITIES"}));
}

// The test server as a provider answers: BODY, HEAD and STAT beside ARTICLE, and a cap on
// connections at once (more are greeted with 502 and closed), over our own connections.
TEST(TestServer, BodyHeadStatAndTheConnectionCap)
{
    TestServer server({"--group", "alt.binaries.test:1:20", "--yenc-only", "--max-connections", "2"});
    std::vector<std::unique_ptr<Connection>> conns;
    std::vector<std::vector<Reply>> got(3);
    for (int i = 0; i < 3; ++i) {
        conns.push_back(std::make_unique<Connection>());
        QObject::connect(conns.back().get(), &Connection::replyReceived, [&got, i](const Reply &r) { got[size_t(i)].push_back(r); });
        conns.back()->connectTo("127.0.0.1", server.port());
        ASSERT_TRUE(waitFor([&] { return !got[size_t(i)].empty(); }));
    }
    EXPECT_EQ(got[0][0].code, 200);
    EXPECT_EQ(got[1][0].code, 200);
    EXPECT_EQ(got[2][0].code, 502) << "the third one is over the cap";
    ASSERT_TRUE(waitFor([&] { return conns[2]->state() == 0 || conns[2]->state() == 9; })) << "and closed";

    Connection &c = *conns[0];
    for (const char *cmd : {"GROUP alt.binaries.test", "ARTICLE 1", "BODY 1", "HEAD 1", "STAT 1", "STAT 999"}) c.sendLine(cmd);
    ASSERT_TRUE(waitFor([&] { return got[0].size() == 7; })) << got[0].size();
    const Reply &whole = got[0][2], &body = got[0][3], &head = got[0][4];
    EXPECT_EQ(whole.code, 220);
    EXPECT_EQ(body.code, 222);
    EXPECT_EQ(head.code, 221);
    const qsizetype blank = whole.data.indexOf("\r\n\r\n");
    ASSERT_GT(blank, 0);
    EXPECT_TRUE(whole.data.endsWith(body.data.mid(body.data.indexOf("\r\n") + 2))) << "BODY is the article after its headers";
    EXPECT_FALSE(body.data.contains("Message-ID: "));
    EXPECT_TRUE(head.data.contains("Message-ID: "));
    EXPECT_EQ(got[0][5].code, 223);
    EXPECT_EQ(got[0][6].code, 423);

    // One closed: a new connection fits under the cap again.
    conns[1]->close();
    Connection again;
    int greeting = 0;
    QObject::connect(&again, &Connection::replyReceived, [&](const Reply &r) { greeting = r.code; });
    ASSERT_TRUE(waitFor([&] {
        if ((again.state() == 0 || again.state() == 9) && greeting != 200) {
            greeting = 0;
            again.connectTo("127.0.0.1", server.port());
        }
        return greeting == 200;
    }));
}

// An overview reply that never ends is cut off at what the range asked for allows; the
// scan connection then restarts as after any lost connection.
TEST(Session, AnOverviewThatNeverEndsIsCutOff)
{
    TestServer server({"--group", "alt.binaries.test:1000:60", "--fault", "GROUP=flood@1"});
    Fixture f(server.port());
    f.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return f.core.countdown.active(); }, 10000)) << f.logged.join('\n').toStdString();
    // GROUP is answered with an endless multi-line reply: cut off at the cap of one reply.
    EXPECT_EQ(f.logged.filter(QRegularExpression("^The reply to GROUP passed 16.1 MB without ending")).size(), 1)
        << f.logged.join('\n').toStdString();
}
