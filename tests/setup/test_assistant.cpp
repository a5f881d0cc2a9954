// The setup assistant's engine: its page moves and texts, the live server test on its own
// connection against the test server, the error pages, and what it hands to the settings.
#include "Posts.h"
#include "TestSupport.h"
#include "groups/HostGroupList.h"
#include "nntp/Session.h"
#include "setup/SetupAssistant.h"
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

struct AssistantRig : StoreRig {
    HostGroupList &hostGroups = engine.hostGroups;
    SetupAssistant &a = engine.assistant;
    std::unique_ptr<TestServer> server;

    void serve(QStringList args = {})
    {
        server = std::make_unique<TestServer>(QStringList{"--group", "alt.test:10:5"} + args);
        a.serverName = "127.0.0.1";
        a.port = QString::number(server->port());
    }
    // From page 3 to the test page. A resolver without network may take long to give up.
    bool testUntil(const std::function<bool()> &done)
    {
        a.currentPage = 3;
        a.next();
        EXPECT_EQ(a.currentPage, 4);
        return waitFor(done, 30000);
    }
};

} // namespace

TEST(Assistant, PageMovesAndTheGuidesTexts)
{
    AssistantRig r;
    SetupAssistant &a = r.a;
    a.load();
    EXPECT_EQ(a.currentPage, 0);
    EXPECT_FALSE(a.backEnabled);
    EXPECT_EQ(a.nextCaption, "&Next \u00bb");
    EXPECT_EQ(a.vanty, "\r\nHi, I'm Vanty.\r\n\r\n  I'd be happy to help you to get started using Vantrel if you want.");

    // AOL or MSN: page 1, where Next is off; Back returns to 0.
    a.aolOrMsn = true;
    a.next();
    EXPECT_EQ(a.currentPage, 1);
    EXPECT_FALSE(a.nextEnabled);
    a.back();
    EXPECT_EQ(a.currentPage, 0);
    a.back();
    EXPECT_EQ(a.currentPage, 0);

    // Otherwise straight to page 2; Next waits for a server name.
    a.aolOrMsn = false;
    a.next();
    EXPECT_EQ(a.currentPage, 2);
    EXPECT_FALSE(a.nextEnabled);
    a.setServerName("n");
    EXPECT_TRUE(a.nextEnabled);
    a.setServerName("");
    EXPECT_FALSE(a.nextEnabled);
    a.back();
    EXPECT_EQ(a.currentPage, 0) << "Back skips page 1 too";

    // Say: a short text gets a line break in front; 50 characters do not.
    a.Say(QString(49, 'x'));
    EXPECT_EQ(a.vanty, "\r\n" + QString(49, 'x'));
    a.Say(QString(50, 'y'));
    EXPECT_EQ(a.vanty, QString(50, 'y'));
    EXPECT_EQ(a.lastSay, QString(50, 'y'));
    a.currentPage = 4;
    a.ShowPage();
    EXPECT_EQ(a.vanty, QString(50, 'y')) << "page 4 shows the last thing said";

    // "No" on page 7 skips the download page both ways; page 9 hands over the folder.
    a.serverName = "news.example";
    a.path = r.dir.path() + "/incoming/";
    a.usePaths = false;
    a.getGroups = false;
    a.currentPage = 7;
    a.next();
    EXPECT_EQ(a.currentPage, 9);
    EXPECT_EQ(r.core.settings.Download_Path, r.dir.path() + "/incoming/");
    EXPECT_FALSE(r.core.settings.chkMakeSubDirs);
    EXPECT_EQ(a.finalLines[0], "1. We set up and verified news.example.\r\n (You can change this later on the login screen that comes up when you press the 'scan' button on the main screen.)");
    EXPECT_EQ(a.finalLines[1], "2. We set your base download path: \r\n" + r.dir.path() + "/incoming/");
    EXPECT_EQ(a.finalLines[2], "3. You decided to skip downloading a list of newsgroups for now.  (You can download them later from the host newsgroups query window.)");
    a.back();
    EXPECT_EQ(a.currentPage, 7);
    a.usePaths = true;
    a.getGroups = true;
    a.next();
    EXPECT_EQ(a.currentPage, 8);
    EXPECT_EQ(a.vanty, "\r\nFrom this screen you can download the list of newsgroups from news.example");
    a.next();
    EXPECT_TRUE(a.finalLines[1].endsWith("\r\n Vantrel will create a sub-folder for each newsgroup."));
    EXPECT_TRUE(r.core.settings.chkMakeSubDirs);
    a.next();
    EXPECT_EQ(a.currentPage, 10);
    EXPECT_EQ(a.nextCaption, "&Finish!");
    a.next();
    EXPECT_EQ(a.currentPage, 11);
    EXPECT_FALSE(a.nextEnabled);
    a.next();
    EXPECT_EQ(a.currentPage, 11);
}

TEST(Assistant, LiveTestWithLoginHandsTheServerOver)
{
    AssistantRig r;
    r.serve({"--auth", "ann:secret", "--require-auth"});
    r.a.load();
    r.a.auth = true;
    r.a.userName = "ann";
    r.a.password = "secret";
    r.a.savePassword = true;
    ASSERT_TRUE(r.testUntil([&] { return r.a.tstShown[3]; })) << r.a.vanty.toStdString();
    EXPECT_TRUE(r.a.serverGreeted);
    EXPECT_EQ(r.a.tstShown, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(r.a.errorText, "Server verified.");
    EXPECT_TRUE(r.a.errorShown);
    EXPECT_EQ(r.a.vanty, "\r\nLooks good to me, click Next to continue.");
    EXPECT_TRUE(r.a.nextEnabled);
    ASSERT_TRUE(r.server->waitForCommand(1, "QUIT"));
    EXPECT_EQ(r.server->commandsOf(1),
              QStringList({"AUTHINFO USER ann", "AUTHINFO PASS secret", "GROUP alt.test", "HEAD", "QUIT"}));
    const Settings &s = r.core.settings;
    EXPECT_EQ(s.News_Host, "127.0.0.1");
    EXPECT_EQ(s.News_Port, QString::number(r.server->port()));
    EXPECT_TRUE(s.chkAuth);
    EXPECT_EQ(s.User_Name, "ann");
    EXPECT_EQ(s.password, "secret");
    EXPECT_TRUE(s.chkSavePassword);

    // Back and Next again run the test again.
    r.a.back();
    EXPECT_EQ(r.a.currentPage, 3);
    r.a.next();
    EXPECT_FALSE(r.a.nextEnabled) << "until the test succeeds";
    EXPECT_FALSE(r.a.tstShown[0]);
    ASSERT_TRUE(waitFor([&] { return r.a.nextEnabled; }, 8000));
}

TEST(Assistant, ServerWithoutGreetingIsNotVerified)
{
    AssistantRig r;
    r.serve({"--greeting", "205 closing at once"});
    r.a.load();
    ASSERT_TRUE(r.testUntil([&] { return r.a.tstShown[3]; }));
    EXPECT_FALSE(r.a.serverGreeted);
    EXPECT_FALSE(r.a.tstShown[0]);
    EXPECT_NE(r.a.errorText, "Server verified.");
    EXPECT_FALSE(r.a.nextEnabled);
    EXPECT_EQ(r.core.settings.News_Host, "127.0.0.1") << "the host and port are handed over all the same";
    EXPECT_EQ(r.core.settings.News_Port, QString::number(r.server->port()));
    EXPECT_FALSE(r.core.settings.chkAuth);
}

// A server that refuses the test's GROUP again and again is asked twice, then left.
TEST(Assistant, AGroupRefusedTwiceIsNotAskedAgain)
{
    AssistantRig r;
    r.serve({"--fault", "GROUP=500"});
    r.a.load();
    ASSERT_TRUE(r.testUntil([&] { return r.server->commandsOf(1).contains("QUIT"); }));
    EXPECT_EQ(r.server->commandsOf(1).filter("GROUP ").size(), 2);
}

TEST(Assistant, ErrorPagesRefusedAndUnknownHost)
{
    AssistantRig r;
    r.a.load();
    // A port nothing listens on (a server's that has stopped): refused.
    quint16 closed;
    {
        TestServer gone({}, false);
        closed = gone.port();
    }
    r.a.serverName = "127.0.0.1";
    r.a.port = QString::number(closed);
    ASSERT_TRUE(r.testUntil([&] { return r.a.vanty.startsWith("Oops.  That was not"); })) << r.a.vanty.toStdString();
    EXPECT_EQ(r.a.vanty, SetupAssistant::errorSay(10061) + "\r\n\r\n(Tried 127.0.0.1, port " + QString::number(closed) + ": "
                             + r.a.errorText + ".)")
        << "the host and port tried";
    EXPECT_TRUE(r.a.errorShown);
    EXPECT_FALSE(r.a.errorText.isEmpty());
    EXPECT_NE(r.a.errorText, "Connecting...");
    EXPECT_FALSE(r.a.nextEnabled);
    EXPECT_EQ(r.a.conn.state(), 0);

    // A name that does not exist; the empty port becomes 119 first (nothing is reached, so
    // a news server on this machine does not matter).
    r.a.back();
    r.a.serverName = "no-such-host.invalid";
    r.a.port = "";
    // A resolver that cannot be asked at all gives the "connected to the internet" page.
    ASSERT_TRUE(r.testUntil([&] {
        return r.a.vanty.startsWith(SetupAssistant::errorSay(11001)) || r.a.vanty.startsWith(SetupAssistant::errorSay(11002));
    })) << r.a.vanty.toStdString();
    EXPECT_EQ(r.a.port, "119");
    EXPECT_EQ(r.a.errorText, "Host not found");
    EXPECT_TRUE(r.a.vanty.endsWith("(Tried no-such-host.invalid, port 119: Host not found.)")) << r.a.vanty.toStdString();
    EXPECT_TRUE(r.a.errorShown);
    EXPECT_FALSE(r.a.nextEnabled);

    // A port that is no port is said before anything is tried.
    r.a.back();
    r.a.serverName = "127.0.0.1";
    r.a.port = "99999x";
    r.a.TestServer();
    EXPECT_TRUE(r.a.vanty.startsWith("Oops.  \"99999x\" is not a port number")) << r.a.vanty.toStdString();
    EXPECT_EQ(r.a.errorText, "Not a port: 99999x");
    EXPECT_TRUE(r.a.conn.isClosed());
    EXPECT_FALSE(r.a.nextEnabled);

    EXPECT_EQ(SetupAssistant::errorNumber(QAbstractSocket::HostNotFoundError, "Host not found"), 11001);
    EXPECT_EQ(SetupAssistant::errorNumber(QAbstractSocket::HostNotFoundError, "Temporary failure in name resolution"), 11002);
    EXPECT_EQ(SetupAssistant::errorNumber(QAbstractSocket::ConnectionRefusedError, "Connection refused"), 10061);
    EXPECT_TRUE(SetupAssistant::errorSay(5).startsWith("Oops.  I don't know about this (5).  Hit the back button"));
}

TEST(Assistant, GroupDownloadFromPageEight)
{
    AssistantRig r;
    r.serve({"--list-extra", "20000"});
    r.core.settings.News_Host = "127.0.0.1";
    r.core.settings.News_Port = QString::number(r.server->port());
    r.a.load();
    r.a.serverName = "127.0.0.1";
    r.a.currentPage = 8;
    r.a.ShowPage();
    bool sawBusy = false;
    QStringList shown;
    QObject::connect(&r.a, &SetupAssistant::changed, [&] {
        if (r.a.downloadBusy) sawBusy = sawBusy || (!r.a.backEnabled && !r.a.nextEnabled);
        if (shown.value(shown.size() - 1) != r.a.dlgText) shown << r.a.dlgText;
    });
    r.a.startGroupDownload();
    ASSERT_TRUE(waitFor([&] { return r.hostGroups.hostGroupsReady && !r.a.downloadBusy; }, 20000)) << r.a.dlgText.toStdString();
    EXPECT_FALSE(shown.filter("Download in progress...  ").isEmpty()) << "the progress goes to the page";
    EXPECT_EQ(shown.filter("Download complete!  HOSTGRPS.TXT (").size(), 1);
    EXPECT_TRUE(sawBusy) << "Back and Next wait for the download";
    EXPECT_TRUE(r.a.backEnabled);
    EXPECT_TRUE(r.a.nextEnabled);
    EXPECT_TRUE(r.hostGroups.statusText(0).startsWith("HOSTGRPS.TXT ready; ")) << "loaded after it";
    r.a.next();
    EXPECT_EQ(r.a.finalLines[2], "3. We downloaded a list of newsgroups.");
}
