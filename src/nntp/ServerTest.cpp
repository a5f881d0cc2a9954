#include "ServerTest.h"
#include "ReplyKind.h"

namespace vt {

ServerTest::ServerTest(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(20000);
    connect(&m_timeout, &QTimer::timeout, this, [this] { end(false, QStringLiteral("no answer in 20 seconds")); });
    connect(&m_conn, &Connection::socketError, this, [this](const QString &why) { end(false, why); });
    connect(&m_conn, &Connection::peerClosed, this, [this] { end(false, QStringLiteral("the server closed the connection")); });
    connect(&m_conn, &Connection::replyReceived, this, [this](const Reply &r) {
        if (!m_running || r.multiline) return;
        const QString line = QString::fromLatin1(r.firstLine());
        if (m_greeting.isEmpty()) {
            m_greeting = line;
            if (replyKind(r.code) != ReplyKind::Greeting) return end(false, QStringLiteral("refused: ") + line);
        }
        std::vector<LoginSequence::Action> acts;
        if (!m_login.take(r.code, r.firstLine(), acts)) return end(false, line);
        for (const LoginSequence::Action &a : acts) {
            switch (a.kind) {
            case LoginSequence::Action::Send: m_conn.sendLine(a.line); break;
            case LoginSequence::Action::Ready: return end(true, QStringLiteral("works: ") + m_greeting);
            case LoginSequence::Action::MissingUser: return end(false, QStringLiteral("the server wants a user name"));
            case LoginSequence::Action::MissingPassword: return end(false, QStringLiteral("the server wants a password"));
            default: break;
            }
        }
        const ReplyKind kind = replyKind(r.code);
        if (kind == ReplyKind::LoginRefused || kind == ReplyKind::Refused) end(false, QStringLiteral("login refused: ") + line);
    });
}

void ServerTest::start(const ServerEntry &s)
{
    m_conn.close();
    m_greeting.clear();
    m_running = true;
    m_conn.certificateCheck = certificateCheck;
    m_login.start({false, !s.user.isEmpty(), false, s.user.toLatin1(), s.password.toLatin1()});
    const QString port = s.port.trimmed().isEmpty() ? (s.tls ? QStringLiteral("563") : QStringLiteral("119")) : s.port.trimmed();
    m_timeout.start();
    m_conn.connectTo(s.host.trimmed(), quint16(port.toUInt()), s.tls);
}

void ServerTest::end(bool ok, const QString &text)
{
    if (!m_running) return;
    m_running = false;
    m_timeout.stop();
    if (ok) m_conn.sendLine("QUIT");
    m_conn.close();
    emit finished(ok, text);
}

} // namespace vt
