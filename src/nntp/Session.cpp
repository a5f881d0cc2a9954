#include "Session.h"
#include "ReplyKind.h"
#include "Overview.h"
#include <QCryptographicHash>
#include <QSslCertificate>
#include "../core/AppCore.h"
#include "../core/Text.h"

namespace vt {

static QString latin(const QByteArray &b) { return QString::fromLatin1(b); }

static QByteArray lineOf(const Reply &r)
{
    QByteArray l = r.firstLine();
    return l;
}

Session::Session(AppCore &core, QObject *parent) : QObject(parent), m_core(core)
{
    Timerbot1.setInterval(1000);
    connect(&Timerbot1, &QTimer::timeout, this, [this] { watchdogTick(1); });

    connect(&TCP1, &Connection::replyReceived, this, &Session::onScanReply);
    connect(&TCP1, &Connection::dataArrived, this, [this](qsizetype pending) {
        m_scanActivity = QDateTime::currentDateTimeUtc();
        if (scanStage == ScanStage::Overview && TCP1.receivingMultiline() && m_scan)
            log(QStringLiteral("Downloading header burst: ") + m_scan->currentGroupName() + QStringLiteral(", ")
                    + QString::number(overviewBuffer.size() + pending) + QStringLiteral(" bytes"),
                false);
    });
    connect(&TCP1, &Connection::peerClosed, this, [this] { peerClosed(1); });
    connect(&TCP1, &Connection::socketError, this, [this](const QString &t) { socketError(1, t); });
    TCP1.certificateCheck = certificateCheck();
    connect(&TCP1, &Connection::notice, this, [this](const QString &t) { log(t); });
}

// A certificate that does not verify goes through only when the user accepted exactly this
// one for this host, now or before. A refusal is asked again on the next connection: the
// session waits for the user rather than going on. While the question is open the
// connections go on (watchdogs, restarts); every attempt that meets the same certificate
// meanwhile waits for the same answer instead of asking again.
Connection::CertificateCheckFn Session::certificateCheck()
{
    return [this](const QString &host, const QSslCertificate &cert, const QList<QSslError> &errors,
                  Connection::CertificateAnswer answer) {
        Settings &s = m_core.settings;
        const QString fp = QString::fromLatin1(cert.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
        if (!cert.isNull() && s.acceptedCertificates.value(host) == fp) return answer(true);
        QStringList why;
        for (const QSslError &e : errors) why << e.errorString();
        const QString reason = why.join(QStringLiteral("; "));
        if (cert.isNull()) {
            log(QStringLiteral("Certificate of ") + host + QStringLiteral(" refused: ") + reason);
            return answer(false);
        }
        const QString key = host + QLatin1Char(' ') + fp;
        auto waiting = m_certificateQuestions.find(key);
        if (waiting != m_certificateQuestions.end()) {
            waiting->second.push_back(std::move(answer));
            return;
        }
        m_certificateQuestions[key].push_back(std::move(answer));
        m_core.prompter.askYesNo(
            QStringLiteral("The certificate of the news server ") + host + QStringLiteral(" cannot be trusted: ") + reason
                + QStringLiteral("\r\n\r\nFingerprint (SHA-256): ") + fp + QStringLiteral("\r\n\r\nAccept this certificate for ") + host
                + QStringLiteral(" and connect anyway?"),
            this, [this, key, host, fp, reason](bool yes) {
                if (yes) {
                    m_core.settings.acceptedCertificates.insert(host, fp);
                    log(QStringLiteral("Certificate of ") + host + QStringLiteral(" accepted: ") + fp);
                } else {
                    log(QStringLiteral("Certificate of ") + host + QStringLiteral(" refused: ") + reason);
                }
                auto waiters = std::move(m_certificateQuestions[key]);
                m_certificateQuestions.erase(key);
                for (auto &a : waiters) a(yes);
            });
    };
}

void Session::log(const QString &msg, bool record) { m_core.LogOp(msg, record); }

// Work of our own (a crunch step) counts as activity, and restarts the trickle window: a
// reply held while we crunch is not a server that trickles.
void Session::noteActivity(ConnectionId c, const QDateTime &at)
{
    if (c != ConnectionId::Scan) return;
    m_scanActivity = at;
    m_windowAt = at;
    m_windowBytes = TCP1.bytesReceived();
}

void Session::dropScanReplies()
{
    scanReplyBuffer.clear();
    overviewBuffer.clear();
}

void Session::setFeature(int c, FeatureEndpoint ep)
{
    if (c < 3 || c > 6) return;
    if (ep.conn) {
        ep.conn->certificateCheck = certificateCheck();
        QObject::disconnect(ep.conn, &Connection::notice, this, nullptr);
        connect(ep.conn, &Connection::notice, this, [this](const QString &t) { log(t); });
    }
    m_features[size_t(c - 3)] = std::move(ep);
}

Connection *Session::connFor(int c)
{
    if (c == 1) return &TCP1;
    if (c >= 3 && c <= 6) return m_features[size_t(c - 3)].conn;
    return nullptr;
}


void Session::sendOn(int c, const QByteArray &text)
{
    if (c == 1) sendScan(text);
    else if (Connection *f = connFor(c)) f->sendLine(text);
}

// ---- connecting and closing ----

void Session::connectForScan()
{
    Settings &s = m_core.settings;
    if (trimBlanks(s.News_Port).isEmpty()) s.News_Port = QStringLiteral("119");
    if (trimBlanks(s.News_Host).isEmpty()) {
        m_core.prompter.askYesNo(QStringLiteral("You have not entered a news server name!\r\n  Would you like to run the setup assistant?"),
                                 this, [this](bool yes) {
                                     if (yes && showSetupAssistant) showSetupAssistant();
                                 });
        return;
    }
    if (!m_scan || !m_scan->hasGroups()) {
        m_core.prompter.message(QStringLiteral(
            "Before scanning, you need to specify some newsgroups.  \r\rUsually you do this from the Options menu / Newsgroups tab / Add button, but this time I'll pop it up for you.\n To get started fast, use the newsgroup search engines or type in a group name."));
        if (showAddNewsgroup) showAddNewsgroup();
        return;
    }
    if (!TCP1.isClosed()) {
        log(QStringLiteral("Connection Error, please wait..."));
        closeConnection(1);
    }
    m_scan->clearOverviewRangeStart();
    m_quitSentOnScan = false;
    if (s.chkResetNewOnScan && m_core.countdown.active()) m_scan->resetNewFlags();
    m_core.countdown.clearActive();
    LoginSequence::Options login = loginOptions(s.chkModeReader);
    login.compress = s.chkCompress && !m_plainOnly.contains(scanServer());
    m_xzver = false;
    scanLogin.start(login);
    m_core.ui.setScanEnabled(false);
    quint16 port = 0;
    if (!portNumber(s.News_Port, &port)) {
        // Cut to 16 bits it would be another port, tried without a word.
        m_core.ui.setScanEnabled(true);
        m_core.prompter.message(badPortText(s.News_Port));
        return;
    }
    if (!TCP1.isClosed()) {
        log(QStringLiteral("Connection Error..."));
        return;
    }
    m_scanActivity = QDateTime::currentDateTimeUtc();
    Timerbot1.start(1000);
    m_watchdogArmed = true;
    TCP1.connectTo(trimBlanks(s.News_Host), port, s.chkSSL);
    log(QStringLiteral("Connecting..."));
    scanReplyBuffer.clear();
}

QString Session::badPortText(const QString &port)
{
    return QStringLiteral("The news server port \"") + port + QStringLiteral("\" is not a number from 1 to 65535: check the port in the login dialog.");
}

QString Session::scanServer() const
{
    const Settings &s = m_core.settings;
    return trimBlanks(s.News_Host) + u':' + trimBlanks(s.News_Port);
}

LoginSequence::Options Session::loginOptions(bool modeReader) const
{
    const Settings &s = m_core.settings;
    return {modeReader, s.chkAuth, s.chkSlave, s.User_Name.toLatin1(), s.password.toLatin1()};
}

bool Session::connectFeature(Connection &conn, const std::function<void(const QString &)> &status)
{
    Settings &s = m_core.settings;
    if (trimBlanks(s.News_Port).isEmpty()) s.News_Port = QStringLiteral("119");
    if (trimBlanks(s.News_Host).isEmpty()) {
        m_core.prompter.message(QStringLiteral("Enter News Server name by pressing SCAN on main screen, and then try again.\r\r"
                                               "  This is usually 'news.(hostname).net' or something similar.  Contact your "
                                               "system admin if you are unsure."));
        return false;
    }
    if (!conn.isClosed()) {
        status(QStringLiteral("Connection Error, please wait..."));
        conn.close();
    }
    quint16 port = 0;
    if (!portNumber(s.News_Port, &port)) {
        status(badPortText(s.News_Port));
        return false;
    }
    conn.connectTo(trimBlanks(s.News_Host), port, s.chkSSL);
    status(QStringLiteral("Connecting..."));
    return true;
}

void Session::closeConnection(int n)
{
    m_watchdogArmed = false;
    if (n != 1) return;
    TCP1.close();
    Timerbot1.stop();
    reportState(n);
}

void Session::reportState(int n)
{
    // The socket is closed synchronously, so one further close is the most that can be needed.
    ++m_reportDepth;
    if (n == 1) {
        const int st = TCP1.state();
        const QString text = socketStateText(st);
        scanStage = ScanStage::Idle;
        if (!text.isEmpty()) log(text);
        if (st > 0 && m_reportDepth < 3) closeConnection(1);
        m_core.ui.resetScanBars();
        m_core.ui.setScanEnabled(true);
    }
    --m_reportDepth;
}

void Session::disconnect(int n)
{
    if (n == 1) {
        m_watchdogArmed = false;
        m_quitSentOnScan = true;
        sendScan("QUIT");
        m_core.ui.resetScanBars();
        if (!downloadRunning()) m_core.ui.setScanEnabled(true);
        Timerbot1.stop();
        closeConnection(1);
    }
}

// ---- receiving ----

void Session::onScanReply(const Reply &r)
{
    m_scanActivity = QDateTime::currentDateTimeUtc();
    if (!TCP1.isOpen()) {
        disconnect(1);
        return;
    }
    if (m_quitSentOnScan && replyKind(r.code) == ReplyKind::Goodbye) {
        log(latin(lineOf(r).mid(3)) + QStringLiteral("  (disconnected)"));
        closeConnection(1);
        return;
    }
    if (m_scan && m_scan->dropStaleReply(r.command)) return;
    scanReplyBuffer += r.data;
    if (scanStage == ScanStage::Overview) {
        QByteArray lines;
        QString why;
        switch (overviewAnswer(r, r.command.startsWith("XZVER"), &lines, &why)) {
        case OverviewAnswer::Nothing:
            // Nothing in the range asked for (past the group's end, or a gap): no burst to wait for.
            scanReplyBuffer.clear();
            if (m_scan) m_scan->onNoOverview(lineOf(r));
            return;
        case OverviewAnswer::Damaged:
            log(QStringLiteral("The compressed stream from ") + TCP1.host() + QStringLiteral(" is damaged (") + why + u')');
            scanOnPlain();
            return;
        case OverviewAnswer::Lines:
            overviewBuffer += lines;
            log(QStringLiteral("Header burst downloaded: ") + (m_scan ? m_scan->currentGroupName() : QString())
                + QStringLiteral(", ") + QString::number(overviewBuffer.size()) + QStringLiteral(" bytes"));
            scanReplyBuffer.clear();
            if (m_scan) m_scan->onBurst(overviewBuffer);
            return;
        case OverviewAnswer::Other: break;
        }
    }

    switch (login(ConnectionId::Scan, scanLogin, r, [this](const QString &t) { log(t); })) {
    case LoginStep::Ready:
        scanReplyBuffer.clear();
        if (m_scan) m_scan->ScanHeaders(false);
        return;
    case LoginStep::Taken: scanReplyBuffer.clear(); return;
    case LoginStep::NotMine: break;
    }
    const QByteArray line = lineOf(r);
    switch (replyKind(r.code)) {
    case ReplyKind::GroupLost:
        if (m_scan) m_scan->onGroupLost();
        break;
    case ReplyKind::NoSuchNumber:
        log(QStringLiteral("423 no such article number in this group"));
        if (m_scan) m_scan->ScanHeaders(true);
        break;
    case ReplyKind::SlaveOk:
        log(latin(line));
        if (m_scan) m_scan->ScanHeaders(false);
        break;
    case ReplyKind::Stat:
    case ReplyKind::Head: break;
    case ReplyKind::GroupSelected:
        if (m_scan) m_scan->onGroupSelected(line);
        break;
    case ReplyKind::Overview: log(latin(scanReplyBuffer)); break;
    case ReplyKind::NoSuchGroup:
        if (m_scan) m_scan->onNoSuchGroup(line);
        break;
    case ReplyKind::Goodbye:
        log(latin(line) + QStringLiteral("  (disconnected)"));
        closeConnection(1);
        break;
    default:
        if (isServerError(replyKind(r.code))) serverError(1, line);
        else notUnderstood(1, r);
        break;
    }
}

// A reply the engine has no entry for is said as such: never taken for silence.
void Session::notUnderstood(int n, const Reply &r)
{
    const QByteArray line = r.firstLine();
    log(QStringLiteral("Reply not understood on the scan connection: ") + latin(line.left(200)));
    // A refusal of any kind (4xx, 5xx) ends the conversation as a server error does.
    if (r.code >= 400 && r.code < 600) serverError(n, line);
}

Session::LoginStep Session::login(int c, LoginSequence &seq, const Reply &r, const std::function<void(const QString &)> &say,
                                 const std::function<void(const QByteArray &)> &greeted)
{
    if (r.multiline) return LoginStep::NotMine;
    std::vector<LoginSequence::Action> acts;
    if (!seq.take(r.code, r.firstLine(), acts)) return LoginStep::NotMine;
    bool ready = false;
    for (const LoginSequence::Action &a : acts) {
        switch (a.kind) {
        case LoginSequence::Action::Send: sendOn(c, a.line); break;
        case LoginSequence::Action::Say: say(latin(a.line)); break;
        case LoginSequence::Action::Greeted:
            if (greeted) greeted(a.line);
            else say(latin(a.line));
            if (c == 1) {
                restartWatchdog(c);
                m_core.connectionWorks();
            }
            break;
        case LoginSequence::Action::Ready: ready = true; break;
        case LoginSequence::Action::MissingUser: credentialMissing(c, false); return LoginStep::Taken;
        case LoginSequence::Action::MissingPassword: credentialMissing(c, true); return LoginStep::Taken;
        case LoginSequence::Action::Compressed:
            if (Connection *conn = connFor(c)) conn->startCompression();
            say(QStringLiteral("Compression on (COMPRESS DEFLATE): headers come deflated"));
            break;
        case LoginSequence::Action::GzipReplies:
            if (Connection *conn = connFor(c)) conn->acceptGzipReplies();
            say(QStringLiteral("Compression on (XFEATURE COMPRESS GZIP): headers come compressed"));
            break;
        case LoginSequence::Action::XzverKnown:
            if (c == 1) m_xzver = true;
            say(QStringLiteral("Compression on (XZVER): headers come compressed"));
            break;
        case LoginSequence::Action::NotCompressed:
            if (c == 1) m_plainOnly.insert(scanServer());
            say(QStringLiteral("No compression (the server answered ") + latin(a.line.left(80)) + QStringLiteral("): headers come plain"));
            break;
        }
    }
    return ready ? LoginStep::Ready : LoginStep::Taken;
}

// The server answered: the watchdog counts from here.
void Session::restartWatchdog(int)
{
    m_scanActivity = QDateTime::currentDateTimeUtc();
    Timerbot1.start(1000);
    m_watchdogArmed = true;
}

void Session::serverError(int n, const QByteArray &line)
{
    log(latin(line));
    if (n == 1) {
        m_core.ui.resetScanBars();
        m_core.ui.setScanEnabled(true);
    }
    closeConnection(n);
    if (m_core.settings.chkRestart500) {
        log(QStringLiteral("critical server error detected.  Emergency restart pending..."));
        emergencyRestart(n, latin(line));
    } else {
        m_core.prompter.message(QStringLiteral("Error: ") + latin(line));
    }
}

void Session::peerClosed(int n)
{
    Timerbot1.stop();
    log(QStringLiteral("Server closed connection"));
    m_core.sounds.PlaySound(QStringLiteral("vtv018.wav"));
    if (m_core.settings.chkRestart500) emergencyRestart(n, QStringLiteral("Server closed connection"));
    else if (m_scan) m_scan->abortScan(false);
}

// Damage in the compressed stream: the scan goes on at once without compression, from the
// last burst filed.
void Session::scanOnPlain()
{
    m_plainOnly.insert(scanServer());
    log(QStringLiteral("Scanning on without compression"));
    closeConnection(1);
    QTimer::singleShot(0, this, &Session::connectForScan);
}

void Session::socketError(int n, const QString &text)
{
    log(text);
    Connection *c = connFor(n);
    if (n == 1 && TCP1.compressionDamaged()) {
        scanOnPlain();
        return;
    }
    if (c && c->certificateRefused()) {
        // The user said no to this server's certificate: reconnecting would only ask again.
        endSessionAfterLoginError(n);
        return;
    }
    // Never greeted: no server there, a wrong port or host. What to check is said once.
    const bool atTheDoor = n == 1 && scanLogin.stage() == LoginSequence::Stage::Greeting;
    emergencyRestart(n, text);
    if (atTheDoor && m_core.countdown.active()) m_core.connectionTrouble(AppCore::connectionFailure(text, scanServer()));
}

// ---- login ----

void Session::endSessionAfterLoginError(int c)
{
    if (c == 1) {
        m_core.ui.resetScanBars();
        m_core.ui.setScanEnabled(true);
        disconnect(1);
    } else {
        sendOn(c, "QUIT");
    }
}

// The server wants a user name or password that is not set: said (in the assistant's
// own words there), and the session ends.
void Session::credentialMissing(int c, bool password)
{
    FeatureEndpoint *fe = (c >= 3 && c <= 6) ? &m_features[size_t(c - 3)] : nullptr;
    if (c == 6 && fe && fe->status) {
        fe->status(QStringLiteral("Error, server wanted password, but you have not supplied it.  Hit the back button and enter this information."));
    } else {
        const QString msg = password ? QStringLiteral("Error, server wanted password, but you have not supplied it.")
                                     : QStringLiteral("Error, server wanted username, but you have not supplied it.");
        m_core.prompter.message(msg);
        log(msg);
    }
    endSessionAfterLoginError(c);
}

// ---- watchdog and restart ----

void Session::watchdogTick(int n)
{
    QTimer &t = Timerbot1;
    if (!m_watchdogArmed) {
        t.stop();
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 elapsed = m_scanActivity.msecsTo(now) / 1000;
    const int timeout = m_core.settings.sldTimeout;
    if (elapsed > timeout) {
        log(QStringLiteral("WARNING: Server not responding -- ") + QString::number(timeout)
            + QStringLiteral(" second timeout triggered, closing connection"));
        emergencyRestart(n, QStringLiteral("Server not responding"));
        return;
    }
    // A reply that keeps trickling in without an end is silence too: under 1 KB a second
    // over the whole timeout while something is asked for.
    const qint64 got = TCP1.bytesReceived();
    if (TCP1.commandsInFlight() == 0 || !m_windowAt.isValid()) {
        m_windowAt = now;
        m_windowBytes = got;
    } else if (m_windowAt.secsTo(now) > timeout) {
        const bool trickling = got - m_windowBytes < 1024 * qint64(timeout);
        m_windowAt = now;
        m_windowBytes = got;
        if (trickling) {
            log(QStringLiteral("WARNING: Server not responding -- ") + QString::number(timeout)
                + QStringLiteral(" second timeout triggered (a reply trickling in without an end), closing connection"));
            emergencyRestart(n, QStringLiteral("Server not responding"));
        }
    }
}

void Session::emergencyRestart(int n, const QString &why)
{
    if (n != 1 || downloadRunning()) return;
    scanReplyBuffer.clear();
    closeConnection(n);
    if (!m_core.settings.chkAllowRestart) return;
    m_core.ui.setStatusLight(0);
    scanReplyBuffer.clear();
    scanInProgress = false;
    m_core.ui.resetAllBars();
    m_core.countdown.start(why.isEmpty() ? QString() : AppCore::connectionFailure(why, scanServer()));
    log(QStringLiteral("Emergency Reconnect in") + num(m_core.countdown.value()) + QStringLiteral(" seconds."));
}

} // namespace vt
