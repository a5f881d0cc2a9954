// Connections over TLS against the test server in its TLS mode: a verified certificate
// through scan and download, an untrusted one refused and then accepted once, and a plain
// server reached with TLS on.
#include "DownloadRig.h"
#include "Posts.h"
#include "TlsCertificates.h"
#include "core/Settings.h"
#include "groups/HostGroupList.h"
#include "setup/SetupAssistant.h"
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

const TlsCertificates &certs()
{
    static TlsCertificates c;
    return c;
}

} // namespace

TEST(Tls, VerifiedServerScanAndDownload)
{
    ASSERT_TRUE(certs().ok) << "openssl could not make the test certificates";
    certs().trustCa();
    TestServer server({"--tls", certs().signedPair(), "--group", "alt.binaries.tls:1:40", "--yenc-only"});
    DownloadRig r(server.port());
    r.core.settings.chkSSL = true;
    ASSERT_TRUE(r.scanGroup("alt.binaries.tls")) << r.logged.join('\n').toStdString();
    EXPECT_GT(r.store.itemCount(), 0);
    const int queued = r.queue([](const HeaderItem &it) { return it.declaredTotal > 0 && int(it.parts.size()) == it.declaredTotal; });
    ASSERT_GT(queued, 0);
    ASSERT_TRUE(r.download());
    EXPECT_EQ(r.processed.rowCount(), queued);
    EXPECT_EQ(r.logged.filter("Decode successful").size(), queued) << r.logged.join('\n').toStdString();
    EXPECT_TRUE(r.prompter.questions.isEmpty()) << "a verified certificate asks nothing";
    EXPECT_TRUE(r.core.settings.acceptedCertificates.isEmpty());
}

TEST(Tls, UntrustedCertificateRefusedThenAcceptedOnce)
{
    ASSERT_TRUE(certs().ok);
    TestServer server({"--tls", certs().selfPair(), "--group", "alt.test:10:5", "--list-extra", "50"});
    test::StoreRig r;
    QuietPrompter &prompter = r.prompter;
    prompter.setAnswer(false);
    AppCore &core = r.core;
    HostGroupList &list = r.engine.hostGroups;
    core.settings.News_Host = "127.0.0.1";
    core.settings.News_Port = QString::number(server.port());
    core.settings.chkSSL = true;
    auto fetch = [&] {
        QFile::remove(list.filePath());
        EXPECT_TRUE(list.download());
        return waitFor([&] { return !list.downloading(); }, 8000);
    };

    ASSERT_TRUE(fetch()) << "refused: no hang";
    ASSERT_EQ(prompter.questions.size(), 1) << prompter.questions.join("\n---\n").toStdString();
    const QString q = prompter.questions[0];
    EXPECT_TRUE(q.startsWith("The certificate of the news server 127.0.0.1 cannot be trusted: ")) << q.toStdString();
    EXPECT_TRUE(q.contains("self signed", Qt::CaseInsensitive) || q.contains("self-signed", Qt::CaseInsensitive)) << q.toStdString();
    EXPECT_TRUE(q.contains("Fingerprint (SHA-256): "));
    EXPECT_TRUE(list.statusText(0).contains("The certificate of 127.0.0.1 was not accepted")) << list.statusText(0).toStdString();
    EXPECT_FALSE(QFile::exists(list.filePath())) << "the session did not go on";
    EXPECT_TRUE(core.settings.acceptedCertificates.isEmpty());

    // Yes once: the list arrives, and the fingerprint is kept for this host.
    prompter.setAnswer(true);
    ASSERT_TRUE(fetch());
    EXPECT_EQ(prompter.questions.size(), 2);
    EXPECT_TRUE(list.hostGroupsReady) << list.statusText(0).toStdString();
    const QString fp = core.settings.acceptedCertificates.value("127.0.0.1");
    const QList<QSslCertificate> self = QSslCertificate::fromPath(certs().path("self.pem"));
    ASSERT_EQ(self.size(), 1);
    EXPECT_EQ(fp, QString::fromLatin1(self[0].digest(QCryptographicHash::Sha256).toHex(':').toUpper()));
    EXPECT_TRUE(q.contains(fp));

    // Later connections go through without a question, also after a restart of the program.
    ASSERT_TRUE(fetch());
    EXPECT_EQ(prompter.questions.size(), 2);
    core.settingsFile.SaveSettings(core.settings);
    Settings again;
    core.settingsFile.LoadSettings(again);
    EXPECT_TRUE(again.chkSSL);
    EXPECT_EQ(again.acceptedCertificates.value("127.0.0.1"), fp);
    EXPECT_EQ(again.acceptedCertificates.size(), 1);
}

TEST(Tls, PlainServerWithTlsOnFailsClearly)
{
    TestServer server({"--group", "alt.test:10:5"});
    DownloadRig r(server.port());
    r.core.settings.chkSSL = true;
    HostGroupList &list = r.engine.hostGroups;
    ASSERT_TRUE(list.download());
    ASSERT_TRUE(waitFor([&] { return !list.downloading(); }, 8000)) << "no hang";
    EXPECT_TRUE(list.statusText(0).startsWith("Error: TLS handshake with 127.0.0.1 failed (")) << list.statusText(0).toStdString();
    EXPECT_TRUE(list.statusText(0).endsWith("); is this the server's TLS port?"));

    // The scan connection says the same and stops.
    r.groups.addGroup("alt.test");
    r.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return r.logged.filter("TLS handshake with 127.0.0.1 failed").size() > 0; }, 8000))
        << r.logged.join('\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return r.session.TCP1.state() == 0 || r.session.TCP1.state() == 9; }, 8000));

    // The port follows the switch.
    EXPECT_EQ(portAfterTlsSwitch("119", true), "563");
    EXPECT_EQ(portAfterTlsSwitch("563", false), "119");
    EXPECT_EQ(portAfterTlsSwitch("8119", true), "8119");
}

TEST(Tls, AssistantTestsTheServerOverTls)
{
    ASSERT_TRUE(certs().ok);
    certs().trustCa();
    TestServer server({"--tls", certs().signedPair(), "--group", "alt.test:10:5"});
    DownloadRig r(server.port());
    r.core.settings.chkSSL = false;
    SetupAssistant &a = r.engine.assistant;
    a.load();
    a.port = "119";
    a.setUseSsl(true);
    EXPECT_EQ(a.port, "563");
    a.serverName = "127.0.0.1";
    a.port = QString::number(server.port());
    a.currentPage = 3;
    a.next();
    ASSERT_TRUE(waitFor([&] { return a.errorText == "Server verified."; }, 8000)) << a.vanty.toStdString();
    EXPECT_TRUE(r.core.settings.chkSSL) << "handed over with the server";
    EXPECT_TRUE(r.prompter.questions.isEmpty());

    // A plain server with TLS on: the page says why.
    TestServer plain({"--group", "alt.test:10:5"});
    a.back();
    a.port = QString::number(plain.port());
    a.next();
    ASSERT_TRUE(waitFor([&] { return a.errorText.startsWith("TLS handshake with 127.0.0.1 failed ("); }, 8000))
        << a.errorText.toStdString();
    EXPECT_TRUE(a.vanty.startsWith("Oops.  I don't know about this ("));
}

TEST(Tls, RefusedCertificateEndsTheScanWithoutRestart)
{
    ASSERT_TRUE(certs().ok);
    TestServer server({"--tls", certs().selfPair(), "--group", "alt.test:10:5"});
    DownloadRig r(server.port());
    r.core.settings.chkSSL = true;
    r.core.settings.chkAllowRestart = true;
    r.prompter.setAnswer(false);
    r.groups.addGroup("alt.test");
    r.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return r.logged.filter("The certificate of 127.0.0.1 was not accepted").size() == 1; }, 8000))
        << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.prompter.questions.size(), 1);
    EXPECT_TRUE(r.core.ui.scanEnabled());
    EXPECT_EQ(r.logged.filter("Emergency Reconnect").size(), 0) << "no reconnect that would only ask again";
    EXPECT_EQ(r.session.TCP1.state(), 0);
}

// The question is answered while the event loop goes on: a restart in the meantime meets
// the same certificate and waits for the same answer, and only the live attempt goes on.
TEST(Tls, TheCertificateQuestionWaitsWhileTheSessionGoesOn)
{
    ASSERT_TRUE(certs().ok);
    TestServer server({"--tls", certs().selfPair(), "--group", "alt.test:10:5"});
    DownloadRig r(server.port());
    r.core.settings.chkSSL = true;
    r.core.settings.chkAllowRestart = true;
    r.prompter.setDeferred(true);
    r.prompter.setAnswer(true);
    r.groups.addGroup("alt.test");
    int reported = 0;
    QObject::connect(r.session.TCP1.socket(), &QSslSocket::sslErrors, [&] { ++reported; });
    r.session.connectForScan();
    ASSERT_TRUE(waitFor([&] { return r.prompter.pendingCount() == 1; }, 8000)) << r.logged.join('\n').toStdString();
    bool ticked = false;
    QTimer::singleShot(20, [&] { ticked = true; });
    ASSERT_TRUE(waitFor([&] { return ticked; })) << "timers run while the question is open";
    EXPECT_EQ(r.session.TCP1.state(), 7) << "the attempt waits, neither dropped nor going on";

    r.session.emergencyRestart(ConnectionId::Scan);
    const int firstAttempt = reported;   // Qt reports the errors again as the socket is aborted
    r.core.countdown.cancel();
    r.session.connectForScan();   // what the countdown's end does
    ASSERT_TRUE(waitFor([&] { return reported > firstAttempt; }, 8000)) << "the second attempt met the certificate";
    EXPECT_EQ(r.prompter.questions.size(), 1) << "the second attempt did not ask again";

    EXPECT_EQ(r.prompter.answerPending(), 1);
    ASSERT_TRUE(waitFor([&] { return r.store.itemCount() > 0 && !r.session.scanInProgress; }, 8000)) << r.logged.join('\n').toStdString();
    EXPECT_TRUE(r.session.TCP1.encrypted() || r.session.TCP1.state() == 0);
    EXPECT_FALSE(r.core.settings.acceptedCertificates.value("127.0.0.1").isEmpty());
    EXPECT_EQ(r.logged.filter("was not accepted").size(), 0) << r.logged.join('\n').toStdString();
}
