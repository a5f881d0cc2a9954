#include "SingleInstance.h"
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace vt {

namespace {
// A message is its length (quint32) and the argument list; the answer is one byte.
constexpr char kTaken = 'K';
constexpr quint32 kMaxMessage = 1 << 20;
} // namespace

SingleInstance::SingleInstance(const QString &stateFolder, QObject *parent)
    : QObject(parent), m_name(serverName(stateFolder))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString &stateFolder)
{
    const QString canonical = QFileInfo(stateFolder).canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? QDir::cleanPath(stateFolder) : canonical).toUtf8();
    const QString id = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return runtime + QStringLiteral("/vantrel-") + id;
    // Qt puts a bare name in the temporary folder: the user id keeps users apart.
    return QStringLiteral("vantrel-") + QString::number(::getuid()) + u'-' + id;
}

SingleInstance::HandOff SingleInstance::handOff(const QStringList &arguments, int timeoutMs)
{
    QLocalSocket s;
    s.connectToServer(m_name);
    if (!s.waitForConnected(timeoutMs)) return HandOff::NobodyRunning;   // or only a stale socket
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out << arguments;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(payload.size());
    }
    message += payload;
    s.write(message);
    if (!s.waitForBytesWritten(timeoutMs) || !s.waitForReadyRead(timeoutMs) || s.read(1) != QByteArray(1, kTaken))
        return HandOff::NoAnswer;
    return HandOff::Taken;
}

bool SingleInstance::listen()
{
    if (m_server) return true;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // handOff found nobody answering: what is there is left from a crash.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    return true;
}

void SingleInstance::onConnection()
{
    while (QLocalSocket *s = m_server->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, s] {
            if (s->bytesAvailable() < 4) return;
            quint32 len = 0;
            QDataStream(s->peek(4)) >> len;
            if (len > kMaxMessage) {
                s->abort();
                return;
            }
            if (s->bytesAvailable() < qint64(4 + len)) return;
            s->read(4);
            QStringList arguments;
            QDataStream in(s->read(len));
            in >> arguments;
            if (in.status() != QDataStream::Ok) {
                s->abort();
                return;
            }
            s->write(QByteArray(1, kTaken));
            s->flush();
            s->disconnectFromServer();
            emit argumentsReceived(arguments);
        });
    }
}

} // namespace vt
