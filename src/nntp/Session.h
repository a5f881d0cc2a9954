#pragma once
// The NNTP session engine: the scan connection (1) and the four feature connections
// (3..6); sending, connecting, closing; the greeting and login order; the scan's reply
// table; server errors; the scan's watchdog and emergency restart. Downloads run on the
// download engine's own connections (FetchPool).
#include "Connection.h"
#include "LoginSequence.h"
#include <QDateTime>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <vector>

namespace vt {

class AppCore;

// Where the scan connection is: nothing asked, GROUP sent, the group selected, an overview
// range asked for.
enum class ScanStage { Idle, GroupAsked, GroupSelected, Overview };

// The scan driver, as the session sees it.
class ScanHandler {
public:
    virtual ~ScanHandler() = default;
    virtual void ScanHeaders(bool advance) = 0;
    virtual void onGroupSelected(const QByteArray &reply) = 0;   // "211 " on the scan connection
    virtual void onNoSuchGroup(const QByteArray &reply) = 0;     // "411 "
    virtual void onGroupLost() = 0;                              // "421 ": keep the mark, next group
    virtual void onBurst(const QByteArray &burst) = 0;           // complete overview burst
    virtual void onNoOverview(const QByteArray &reply) = 0;      // 420/423: nothing in the range
    // A reply to a request made ahead that turned out not to be needed: dropped.
    virtual bool dropStaleReply(const QByteArray &command) = 0;
    virtual void abortScan(bool byUser) = 0;
    virtual bool hasGroups() const = 0;
    virtual QString currentGroupName() const = 0;
    virtual void resetNewFlags() = 0;
    virtual void clearOverviewRangeStart() = 0;
};

// A feature window's connection as the session sees it (3..6).
struct FeatureEndpoint {
    Connection *conn = nullptr;
    std::function<void(const QString &)> status;   // assistant's label; empty: log instead
};

class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(AppCore &core, QObject *parent = nullptr);

    void setScanHandler(ScanHandler *h) { m_scan = h; }
    // Whether a batch download runs (a scan restart waits for it).
    std::function<bool()> downloadRunning = [] { return false; };
    void setFeature(ConnectionId c, FeatureEndpoint ep) { setFeature(int(c), std::move(ep)); }   // the four features

    // What connect-for-scan opens when it has no host or no groups.
    std::function<void()> showSetupAssistant;
    std::function<void()> showAddNewsgroup;

    // Sending.
    void sendScan(const QByteArray &text) { TCP1.sendLine(text); }
    void sendOn(ConnectionId c, const QByteArray &text) { sendOn(int(c), text); }

    void connectForScan();
    // A feature window's opening: port default, host check (with the message), a stale
    // connection closed, then connect. False when no server is set.
    bool connectFeature(Connection &conn, const std::function<void(const QString &)> &status);

    // The check of a server certificate that does not verify, for every connection of the
    // program: a fingerprint accepted once goes through, another is asked about.
    Connection::CertificateCheckFn certificateCheck();

    // What a port that is no port (not a number from 1 to 65535) is called.
    static QString badPortText(const QString &port);
    // The login as the settings ask for it.
    LoginSequence::Options loginOptions(bool modeReader) const;
    // One reply through a connection's login: what it sends goes out on connection c, what
    // it says goes to say (the greeting to greeted, when given), a missing user name or
    // password ends the session with the message. Ready: the connection's own work starts.
    enum class LoginStep { NotMine, Taken, Ready };
    LoginStep login(ConnectionId c, LoginSequence &seq, const Reply &r, const std::function<void(const QString &)> &say,
                    const std::function<void(const QByteArray &)> &greeted = {})
    {
        return login(int(c), seq, r, say, greeted);
    }
    // Closes at once.
    void closeConnection(ConnectionId c) { closeConnection(int(c)); }
    // Says goodbye (QUIT) and closes.
    void disconnect(ConnectionId c) { disconnect(int(c)); }
    void reportState(ConnectionId c) { reportState(int(c)); }

    void watchdogTick(ConnectionId c) { watchdogTick(int(c)); }
    void emergencyRestart(ConnectionId c) { emergencyRestart(int(c)); }

    // The last sign of life on the scan connection: what its watchdog measures.
    void noteActivity(ConnectionId c, const QDateTime &at = QDateTime::currentDateTimeUtc());
    QDateTime lastActivity(ConnectionId) const { return m_scanActivity; }
    bool watchdogArmed() const { return m_watchdogArmed; }
    void armWatchdog(bool on) { m_watchdogArmed = on; }
    QTimer &watchdogTimer(ConnectionId) { return Timerbot1; }
    // QUIT went out: the connection only waits for its goodbye.
    bool quitSent(ConnectionId) const { return m_quitSentOnScan; }
    // A scan starts afresh: nothing of an earlier reply is kept.
    void dropScanReplies();

    Connection TCP1;

    // Overviews come compressed on the scan connection (by any of the three kinds); XZVER is
    // the command that asks for them, where that is the kind.
    bool scanCompressed() const { return TCP1.compressed() || m_xzver; }
    QByteArray overviewVerb() const { return m_xzver ? QByteArrayLiteral("XZVER") : QByteArrayLiteral("XOVER"); }

    // Where the scan is, shared with its driver.
    ScanStage scanStage = ScanStage::Idle;
    bool scanInProgress = false;

    AppCore &core() { return m_core; }

private:
    LoginSequence scanLogin;
    QByteArray scanReplyBuffer;
    QByteArray overviewBuffer;
    QDateTime m_scanActivity;
    // Servers (host:port) whose headers come plain: compression refused or damaged there.
    QSet<QString> m_plainOnly;
    QString scanServer() const;
    bool m_xzver = false;   // the scan connection asks for overviews with XZVER
    void scanOnPlain();
    QDateTime m_windowAt;       // the watchdog's last look at what came
    qint64 m_windowBytes = 0;
    bool m_watchdogArmed = false;
    bool m_quitSentOnScan = false;
    QTimer Timerbot1;   // the scan's watchdog
    // The same by number (1..6), as the session's tables use them.
    void setFeature(int c, FeatureEndpoint ep);
    void sendOn(int c, const QByteArray &text);
    LoginStep login(int c, LoginSequence &seq, const Reply &r, const std::function<void(const QString &)> &say,
                    const std::function<void(const QByteArray &)> &greeted);
    void closeConnection(int n);
    void disconnect(int n);
    void reportState(int n);
    void watchdogTick(int n);
    // why: what happened, shown with the countdown ("Connection refused by host:port").
    void emergencyRestart(int n, const QString &why = {});
    void onScanReply(const Reply &r);
    void restartWatchdog(int n);
    void serverError(int n, const QByteArray &line);
    void peerClosed(int n);
    void socketError(int n, const QString &text);
    void log(const QString &msg, bool record = true);
    void notUnderstood(int n, const Reply &r);
    Connection *connFor(int c);
    void endSessionAfterLoginError(int c);
    void credentialMissing(int c, bool password);

    // Open certificate questions by host and fingerprint, with the attempts that wait.
    std::map<QString, std::vector<Connection::CertificateAnswer>> m_certificateQuestions;

    AppCore &m_core;
    ScanHandler *m_scan = nullptr;
    std::array<FeatureEndpoint, 4> m_features;
    int m_reportDepth = 0;
};

} // namespace vt
