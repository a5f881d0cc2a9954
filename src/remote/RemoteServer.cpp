#include "RemoteServer.h"
#include "WebPage.h"
#include "engine/Engine.h"
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <sys/socket.h>

namespace vt {

namespace {
// The HTTP server keeps a request in the socket's buffer until it has parsed it whole,
// reading all that has come at each readyRead. This one's readyRead runs first and counts
// what came since the last answer: past the limit the request is answered 413 and the
// connection closed. The buffer stops a little past the limit, so memory stays bounded
// whatever the request says of its length.
class BoundedSocket : public QTcpSocket {
public:
    BoundedSocket(qint64 limit, QObject *parent) : QTcpSocket(parent)
    {
        setReadBufferSize(limit + 64 * 1024);
        // A connection that sends nothing for a minute (a request left half-sent, or an
        // idle one kept open) goes: callers cannot hold connections open at no cost.
        m_idle.setSingleShot(true);
        m_idle.setInterval(kIdleMs);
        connect(&m_idle, &QTimer::timeout, this, &QTcpSocket::abort);
        m_idle.start();
        connect(this, &QTcpSocket::readyRead, this, [this, limit] {
            m_idle.start();
            m_since += bytesAvailable();
            if (m_over || m_since <= limit) return;
            m_over = true;
            refuse();
        });
    }

private:
    // The HTTP server lets go of the connection; what still comes is read and dropped, the
    // answer goes and the sending side closes, so the caller reads the answer before the
    // connection ends (closing with its bytes unread would reset it and lose the answer).
    void refuse()
    {
        disconnect(this, &QTcpSocket::readyRead, nullptr, nullptr);
        auto drop = [this] {
            if (isTransactionStarted()) commitTransaction();
            skip(bytesAvailable());
        };
        drop();
        connect(this, &QTcpSocket::readyRead, this, drop);
        const QByteArray body = "{\"status\":false,\"error\":\"The request is larger than the limit\"}";
        const QByteArray answer = "HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        QTcpSocket::writeData(answer.constData(), answer.size());
        connect(this, &QTcpSocket::bytesWritten, this, [this] {
            if (bytesToWrite() == 0) ::shutdown(int(socketDescriptor()), SHUT_WR);
        });
        // A caller that never stops sending is cut off.
        QTimer::singleShot(10000, this, [this] { abort(); });
    }

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        m_idle.start();
        m_since = 0;   // an answer: the next request counts afresh
        return QTcpSocket::writeData(data, len);
    }

    static constexpr int kIdleMs = 60000;
    QTimer m_idle;
    qint64 m_since = 0;
    bool m_over = false;
};
} // namespace

class RemoteServer::Listener : public QTcpServer {
public:
    Listener(RemoteServer &owner) : QTcpServer(&owner), m_owner(owner) {}

protected:
    void incomingConnection(qintptr fd) override
    {
        auto *s = new BoundedSocket(m_owner.m_maxRequest, this);
        s->setSocketDescriptor(fd);
        addPendingConnection(s);
    }

private:
    RemoteServer &m_owner;
};

RemoteServer::RemoteServer(Engine &engine, SabApi &api, QObject *parent) : QAbstractHttpServer(parent), m_engine(engine), m_api(api) {}

RemoteServer::~RemoteServer() = default;

quint16 RemoteServer::start()
{
    if (m_listener) return m_port;
    const Settings &s = m_engine.core.settings;
    QHostAddress address;
    if (!address.setAddress(s.Remote_Address)) address = QHostAddress::LocalHost;
    m_listener = new Listener(*this);
    if (!m_listener->listen(address, quint16(s.Remote_Port))) {
        m_engine.core.LogOp(QStringLiteral("Remote control: cannot listen on %1 port %2: %3")
                                .arg(address.toString())
                                .arg(s.Remote_Port)
                                .arg(m_listener->errorString()),
                            true);
        delete m_listener;
        m_listener = nullptr;
        return 0;
    }
    bind(m_listener);
    m_port = m_listener->serverPort();
    m_api.apiKey();
    m_engine.core.LogOp(QStringLiteral("Remote control on http://%1:%2/").arg(address.toString()).arg(m_port), true);
    return m_port;
}

bool RemoteServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    QHttpServerResponder responder = makeResponder(request, socket);
    const QByteArray method = request.method() == QHttpServerRequest::Method::Post ? "POST"
                              : request.method() == QHttpServerRequest::Method::Get ? "GET"
                                                                                    : "OTHER";
    if (method == "OTHER") {
        responder.write(QByteArray("{\"status\":false,\"error\":\"GET or POST\"}"), "application/json",
                        QHttpServerResponder::StatusCode::MethodNotAllowed);
        return true;
    }
    // The web page's user name and password, when the user set them (HTTP Basic).
    const Settings &set = m_engine.core.settings;
    const QString peer = request.remoteAddress().toString();
    bool signedIn = false;
    const QByteArray auth = request.value("Authorization");
    if (!set.Remote_User.isEmpty() && auth.startsWith("Basic ")) {
        if (m_api.waiting(peer)) {
            responder.write(QByteArray("{\"status\":false,\"error\":\"Too many wrong tries: wait\"}"), "application/json",
                            QHttpServerResponder::StatusCode::TooManyRequests);
            return true;
        }
        signedIn = sameSecret((set.Remote_User + u':' + set.Remote_Password).toUtf8(), QByteArray::fromBase64(auth.mid(6).trimmed()));
        if (signedIn) m_api.rightTry(peer);
        else m_api.wrongTry(peer);
    }
    if (path == QLatin1String("/api") || path == QLatin1String("/api/") || path == QLatin1String("/sabnzbd/api")) {
        HttpCall call;
        call.signedIn = signedIn;
        call.method = method;
        for (const auto &[k, v] : QUrlQuery(request.url()).queryItems(QUrl::FullyDecoded)) call.query.append({k, v});
        call.contentType = request.value("Content-Type");
        call.body = request.body();
        call.peer = request.remoteAddress().toString();
        call.apiKeyHeader = request.value("X-Api-Key");
        const HttpAnswer a = m_api.handle(call);
        responder.write(a.body, {{"Content-Type", a.contentType}, {"Cache-Control", "no-store"}},
                        QHttpServerResponder::StatusCode(a.status));
        return true;
    }
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        if (!set.Remote_User.isEmpty() && !signedIn) {
            responder.write(QByteArray("Sign in with the user name and password of the options."),
                            {{"Content-Type", "text/plain; charset=utf-8"}, {"WWW-Authenticate", "Basic realm=\"Vantrel\", charset=\"UTF-8\""}},
                            QHttpServerResponder::StatusCode::Unauthorized);
            return true;
        }
        responder.write(webPage(), {{"Content-Type", "text/html; charset=utf-8"},
                                    {"Content-Security-Policy", "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'"},
                                    {"Cache-Control", "no-store"}});
        return true;
    }
    return false;
}

void RemoteServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    makeResponder(request, socket).write(QByteArray("{\"status\":false,\"error\":\"not found\"}"), "application/json",
                                         QHttpServerResponder::StatusCode::NotFound);
}

} // namespace vt
