#include "Connection.h"
#include <QPointer>

namespace vt {

QString socketStateText(int state)
{
    static const char *texts[] = {"Connection Closed", "Open", "Listening", "Connection pending", "Resolving Host",
                                  "Host resolved", "Connecting", "Connected", "Peer is closing the connection",
                                  "TCP Error"};
    if (state < 0 || state > 9) return {};
    return QString::fromLatin1(texts[state]);
}

Connection::Connection(QObject *parent) : QObject(parent), m_sock(std::make_unique<QSslSocket>())
{
    m_sock->setReadBufferSize(0);
    connect(m_sock.get(), &QTcpSocket::readyRead, this, &Connection::onReadyRead);
    connect(m_sock.get(), &QTcpSocket::connected, this, [this] {
        m_sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!m_tls) emit connected();
    });
    connect(m_sock.get(), &QSslSocket::encrypted, this, [this] { emit connected(); });
    connect(m_sock.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        // Qt may report the same handshake's errors twice: one answer per attempt.
        if (m_certAnswer < 0) m_certAnswer = certificateCheck && certificateCheck(m_host, m_sock->peerCertificate(), errors) ? 1 : 0;
        if (m_certAnswer == 1) m_sock->ignoreSslErrors();
    });
    connect(m_sock.get(), &QTcpSocket::disconnected, this, [this] {
        if (m_closing) return;
        // Replies that arrived with the close are handed on first.
        onReadyRead();
        emit peerClosed();
    });
    connect(m_sock.get(), &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (m_closing || e == QAbstractSocket::RemoteHostClosedError) return;
        m_error = true;
        if (m_tls && e == QAbstractSocket::SslHandshakeFailedError) {
            const QList<QSslError> why = m_sock->sslHandshakeErrors();
            if (why.isEmpty()) {
                // Mostly a plain server on this port: say so instead of the library's words alone.
                emit socketError(QStringLiteral("TLS handshake with ") + m_host + QStringLiteral(" failed (") + m_sock->errorString()
                                 + QStringLiteral("); is this the server's TLS port?"));
            } else {
                QStringList texts;
                for (const QSslError &x : why) texts << x.errorString();
                emit socketError(QStringLiteral("The certificate of ") + m_host + QStringLiteral(" was not accepted: ") + texts.join(QStringLiteral("; ")));
            }
            return;
        }
        emit socketError(m_sock->errorString());
    });
}

Connection::~Connection()
{
    // Going away is not a peer close: say nothing to anyone.
    m_closing = true;
    QObject::disconnect(m_sock.get(), nullptr, this, nullptr);
    m_sock->abort();
}

void Connection::connectTo(const QString &host, quint16 port, bool tls)
{
    m_closing = false;
    m_error = false;
    m_framer.reset();
    m_host = host;
    m_tls = tls;
    m_certAnswer = -1;
    if (tls) m_sock->connectToHostEncrypted(host, port);
    else m_sock->connectToHost(host, port);
}

bool Connection::sendLine(const QByteArray &text)
{
    if (state() != 7 || (m_tls && !m_sock->isEncrypted())) return false;
    QByteArray line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    m_sock->write(line);
    m_sock->flush();   // commands are few and small: send now, also before an exit
    return true;
}

void Connection::close()
{
    m_closing = true;
    if (m_sock->state() == QAbstractSocket::ConnectedState) m_sock->flush();
    m_sock->abort();
    m_framer.reset();
    m_error = false;
    m_closing = false;
}


int Connection::state() const
{
    if (m_error) return 9;
    switch (m_sock->state()) {
    case QAbstractSocket::UnconnectedState: return 0;
    case QAbstractSocket::HostLookupState: return 4;
    case QAbstractSocket::ConnectingState: return 6;
    case QAbstractSocket::ConnectedState: return 7;
    case QAbstractSocket::BoundState: return 1;
    case QAbstractSocket::ListeningState: return 2;
    case QAbstractSocket::ClosingState: return 8;
    }
    return 0;
}

void Connection::onReadyRead()
{
    const qint64 avail = m_sock->bytesAvailable();
    if (avail <= 0) return;
    char *at = m_framer.appendSpace(avail);
    const qint64 got = m_sock->read(at, avail);
    m_framer.commitAppend(got);
    if (got <= 0) return;
    m_received += got;
    QPointer<Connection> self(this);
    emit dataArrived(m_framer.pendingBytes());
    Reply r;
    while (self && m_framer.next(r)) {
        emit replyReceived(r);
        // A handler may have closed us; the framer was reset then and yields nothing more.
    }
    if (self && m_streaming) {
        QByteArray piece;
        if (m_framer.takeReceived(piece) > 0) emit bodyReceived(piece);
    }
}

} // namespace vt
