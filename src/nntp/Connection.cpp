#include "Connection.h"
#include "ReplyKind.h"
#include <QPointer>
#include <QTimer>

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
    // A certificate question is answered later: the handshake waits for it.
    m_sock->setPauseMode(QAbstractSocket::PauseOnSslErrors);
    connect(m_sock.get(), &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
    connect(m_sock.get(), &QTcpSocket::connected, this, [this] {
        m_sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!m_tls) emit connected();
    });
    connect(m_sock.get(), &QSslSocket::encrypted, this, [this] { emit connected(); });
    connect(m_sock.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        // One question per attempt, even when Qt reports the same handshake's errors twice
        // (also once more as the socket is aborted).
        if (m_closing) return;
        if (m_certAnswer == 1) {
            m_sock->ignoreSslErrors();
            return;
        }
        const quint64 attempt = m_attempt;
        m_certErrors = errors;
        if (m_certAnswer == 0) {
            certificateAnswered(attempt, false);
            return;
        }
        if (m_certAnswer == -2) return;
        m_certAnswer = -2;
        if (!certificateCheck) {
            certificateAnswered(attempt, false);
            return;
        }
        QPointer<Connection> self(this);
        certificateCheck(m_host, m_sock->peerCertificate(), errors, [self, attempt](bool yes) {
            if (self) self->certificateAnswered(attempt, yes);
        });
    });
    connect(m_sock.get(), &QTcpSocket::disconnected, this, [this] {
        if (m_closing) return;
        // Replies that arrived with the close are handed on first, whatever the limit.
        onReadyRead(true);
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
                emit socketError(notAccepted(why));
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

// The socket pauses when it reports the errors and goes on (or fails) once resumed, which
// must not happen inside that report: the answer may come at once.
QString Connection::notAccepted(const QList<QSslError> &why) const
{
    QStringList texts;
    for (const QSslError &x : why) texts << x.errorString();
    return QStringLiteral("The certificate of ") + m_host + QStringLiteral(" was not accepted: ") + texts.join(QStringLiteral("; "));
}

void Connection::certificateAnswered(quint64 attempt, bool yes)
{
    if (attempt != m_attempt) return;
    m_certAnswer = yes ? 1 : 0;
    QPointer<Connection> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, attempt, yes] {
            if (!self || attempt != self->m_attempt) return;
            if (yes) {
                self->m_sock->ignoreSslErrors();
                self->m_sock->resume();
                return;
            }
            // Refused: the attempt ends here, as a failed handshake would end it.
            self->m_closing = true;
            self->m_sock->abort();
            self->m_closing = false;
            self->m_error = true;
            emit self->socketError(self->notAccepted(self->m_certErrors));
        },
        Qt::QueuedConnection);
}

void Connection::connectTo(const QString &host, quint16 port, bool tls)
{
    ++m_attempt;
    m_closing = false;
    m_error = false;
    m_damaged = false;
    m_framer.reset();
    resetConversation();
    m_host = host;
    m_tls = tls;
    m_certAnswer = -1;
    if (tls) m_sock->connectToHostEncrypted(host, port);
    else m_sock->connectToHost(host, port);
}

bool Connection::sendLine(const QByteArray &text)
{
    if (!isOpen() || (m_tls && !m_sock->isEncrypted())) return false;
    if (m_readerStep != ReaderStep::None) {
        // Held until reader mode is on, so that replies keep the order of the commands.
        m_repeat.push_back(text);
        return true;
    }
    write(text);
    return true;
}

void Connection::resetConversation()
{
    m_deflate.stop();
    m_hold = false;
    m_inFlight.clear();
    m_greeted = false;
    m_readerStep = ReaderStep::None;
    m_readerAsked = false;
    m_repeat.clear();
}

void Connection::write(const QByteArray &text)
{
    if (text == "MODE READER" || text == "CAPABILITIES") m_readerAsked = true;
    m_inFlight.push_back(text);
    QByteArray line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    m_sock->write(m_deflate.active() ? m_deflate.deflate(line) : line);
    m_sock->flush();   // commands are few and small: send now, also before an exit
}

static bool namesModeReader(const Reply &r) { return replyKind(r.code) == ReplyKind::ReaderModeWanted && r.firstLine().mid(4).trimmed().toUpper().startsWith("MODE-READER"); }

// A reader command refused before reader mode was ever asked for: the server may be in
// transit mode, and CAPABILITIES says so.
static bool mayWantReaderMode(const Reply &r)
{
    const ReplyKind k = replyKind(r.code);
    if (k != ReplyKind::ReaderModeWanted && !(k == ReplyKind::ServerError && r.code == 500) && k != ReplyKind::Refused) return false;
    const qsizetype sp = r.command.indexOf(' ');
    const QByteArray verb = (sp < 0 ? r.command : r.command.left(sp)).toUpper();
    // COMPRESS, XFEATURE or XZVER refused is only compression refused: the session goes on plain.
    return verb != "QUIT" && verb != "AUTHINFO" && verb != "MODE" && verb != "CAPABILITIES" && verb != "COMPRESS" && verb != "XFEATURE"
           && verb != "XZVER";
}

// The refused command and those sent after it (their answers, refusals too, are dropped)
// go out again, ahead of what the session sends meanwhile.
void Connection::holdForRepeat(const QByteArray &refused)
{
    std::vector<QByteArray> again{refused};
    again.insert(again.end(), m_inFlight.begin(), m_inFlight.end());
    again.insert(again.end(), m_repeat.begin(), m_repeat.end());
    m_repeat.swap(again);
}

bool Connection::readerModeStep(Reply &r)
{
    switch (m_readerStep) {
    case ReaderStep::None:
        if (m_readerAsked && !namesModeReader(r)) return true;
        if (namesModeReader(r)) {
            emit notice(QStringLiteral("Server wants MODE READER (") + QString::fromLatin1(r.firstLine())
                        + QStringLiteral("): sending it and repeating ") + QString::fromLatin1(r.command.left(r.command.indexOf(' '))));
            m_readerStep = ReaderStep::SentModeReader;
            holdForRepeat(r.command);
            write("MODE READER");
            return false;
        }
        if (!mayWantReaderMode(r)) return true;
        m_readerStep = ReaderStep::AskedCapabilities;
        m_refusal = r;
        holdForRepeat(r.command);
        write("CAPABILITIES");
        return false;
    case ReaderStep::AskedCapabilities:
        if (r.command == "CAPABILITIES") {
            const QList<QByteArray> caps = replyKind(r.code) == ReplyKind::Capabilities ? r.data.toUpper().split('\n') : QList<QByteArray>();
            bool modeReader = false, reader = false;
            for (const QByteArray &c : caps) {
                const QByteArray w = c.trimmed();
                modeReader |= w == "MODE-READER";
                reader |= w == "READER" || w.startsWith("READER ");
            }
            if (modeReader && !reader) {
                emit notice(QStringLiteral("Server is not in reader mode (CAPABILITIES lists MODE-READER): sending MODE READER"));
                m_readerStep = ReaderStep::SentModeReader;
                write("MODE READER");
                return false;
            }
            // Not a question of reader mode: the refusal stands, and what waited is dropped.
            m_readerStep = ReaderStep::None;
            m_repeat.clear();
            r = m_refusal;
            return true;
        }
        return false;   // a later pipelined command's answer: it is repeated anyway
    case ReaderStep::SentModeReader:
        if (r.command != "MODE READER") return false;
        m_readerStep = ReaderStep::None;
        if (replyKind(r.code) == ReplyKind::Greeting) {
            emit notice(QStringLiteral("Reader mode on: ") + QString::fromLatin1(r.firstLine()));
            std::vector<QByteArray> again;
            again.swap(m_repeat);
            for (const QByteArray &c : again) write(c);
            return false;
        }
        // Refused: the first waiting command gets the refusal as its answer.
        r.command = m_repeat.empty() ? r.command : m_repeat.front();
        m_repeat.clear();
        return true;
    }
    return true;
}

void Connection::close()
{
    ++m_attempt;
    m_certAnswer = -1;
    m_closing = true;
    if (m_sock->state() == QAbstractSocket::ConnectedState) m_sock->flush();
    m_sock->abort();
    m_framer.reset();
    resetConversation();
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

void Connection::onReadyRead(bool all)
{
    // Under a limit the socket buffers a little and the rest waits in the system, so that
    // the server slows down rather than this process filling up.
    // A deflated stream is read a little at a time too: what arrives for many connections
    // at once inflates to many times its size, and one turn of the event loop would
    // otherwise inflate all of it.
    const bool limited = m_limiter && m_limiter->limited() && !all;
    constexpr qint64 kLimitedBuffer = 256 * 1024, kDeflatedBuffer = 32 * 1024;
    const qint64 buffer = limited ? kLimitedBuffer : m_deflate.active() ? kDeflatedBuffer : 0;
    if (m_sock->readBufferSize() != buffer) m_sock->setReadBufferSize(buffer);
    qint64 avail = m_sock->bytesAvailable();
    if (avail <= 0) return;
    if (limited) {
        avail = m_limiter->take(avail);
        if (avail < m_sock->bytesAvailable() && !m_readQueued) {
            // The rest is read when the limit allows: the socket says nothing more of it.
            m_readQueued = true;
            QPointer<Connection> self(this);
            QTimer::singleShot(m_limiter->waitMs(), this, [self] {
                if (!self) return;
                self->m_readQueued = false;
                self->onReadyRead();
            });
        }
        if (avail <= 0) return;
    }
    qint64 got = 0;
    if (m_deflate.active()) {
        QByteArray wire(avail, Qt::Uninitialized);
        got = m_sock->read(wire.data(), avail);
        if (got <= 0) return;
        m_received += got;
        if (!takeWireBytes(wire.constData(), got)) return;
    } else {
        char *at = m_framer.appendSpace(avail);
        got = m_sock->read(at, avail);
        m_framer.commitAppend(got);
        if (got <= 0) return;
        m_received += got;
    }
    if (m_framer.pendingBytes() > pendingLimit()) {
        const QByteArray command = m_inFlight.empty() ? QByteArrayLiteral("the greeting") : m_inFlight.front();
        const QString why = QStringLiteral("The reply to ") + QString::fromLatin1(command.left(command.indexOf(' ') > 0 ? command.indexOf(' ') : command.size()))
                            + QStringLiteral(" passed ") + QString::number(pendingLimit() / (1024 * 1024.0), 'f', 1)
                            + QStringLiteral(" MB without ending: the server sends more than was asked");
        close();
        emit socketError(why);
        return;
    }
    QPointer<Connection> self(this);
    emit dataArrived(m_framer.pendingBytes());
    if (self) deliver();
}

void Connection::startCompression()
{
    m_deflate.start();
    // What came with the 206 beyond it is already compressed.
    const QByteArray rest = m_framer.takeRest();
    if (!rest.isEmpty() && !takeWireBytes(rest.constData(), rest.size())) return;
    if (m_framer.pendingBytes() > 0 && !m_deliverQueued) {
        m_deliverQueued = true;
        QMetaObject::invokeMethod(this, &Connection::deliver, Qt::QueuedConnection);
    }
}

bool Connection::takeWireBytes(const char *data, qsizetype len)
{
    if (m_deflate.inflateInto(data, len, m_framer, pendingLimit())) return true;
    close();
    m_damaged = true;
    emit socketError(QStringLiteral("The compressed stream from ") + m_host + QStringLiteral(" is damaged"));
    return false;
}

qint64 Connection::replyLimit(const QByteArray &command)
{
    const qsizetype sp = command.indexOf(' ');
    const QByteArray verb = (sp < 0 ? command : command.left(sp)).toUpper();
    constexpr qint64 MB = 1024 * 1024;
    if (verb == "XOVER" || verb == "OVER" || verb == "XZVER") {
        // A line of an overview is a few hundred bytes; 4 KB each is generous.
        const QByteArray range = sp < 0 ? QByteArray() : command.mid(sp + 1).trimmed();
        const qsizetype dash = range.indexOf('-');
        bool okA = false, okB = false;
        const qint64 a = range.left(dash).toLongLong(&okA), b = dash < 0 ? a : range.mid(dash + 1).toLongLong(&okB);
        const qint64 lines = okA && (dash < 0 || okB) && b >= a ? std::min<qint64>(b - a + 1, 10'000'000) : 100'000;
        return lines * 4096 + 64 * 1024;
    }
    if (verb == "ARTICLE" || verb == "BODY" || verb == "HEAD") return 64 * MB;
    if (verb == "LIST" || verb == "NEWGROUPS") return 512 * MB;
    return 16 * MB;
}

// What the replies being received and waiting may hold together: the sum of their limits.
qint64 Connection::pendingLimit() const
{
    qint64 sum = 64 * 1024;   // the greeting, a status line
    for (const QByteArray &c : m_inFlight) sum += replyLimit(c);
    return sum;
}

// One reply per turn of the event loop: a read that brought several large replies (two
// overview bursts asked for ahead) does not hold the loop for all of them at once.
void Connection::setHold(bool on)
{
    m_hold = on;
    if (!on && !m_deliverQueued && m_framer.pendingBytes() > 0) {
        m_deliverQueued = true;
        QMetaObject::invokeMethod(this, &Connection::deliver, Qt::QueuedConnection);
    }
}

void Connection::deliver()
{
    m_deliverQueued = false;
    m_framer.setInflateLimit(pendingLimit());
    QPointer<Connection> self(this);
    Reply r;
    while (!m_hold && m_framer.next(r)) {
        if (!m_greeted) {
            m_greeted = true;
        } else {
            r.command = m_inFlight.empty() ? QByteArray() : m_inFlight.front();
            if (!m_inFlight.empty()) m_inFlight.pop_front();
            if (!readerModeStep(r)) continue;
        }
        const bool large = r.data.size() > kLargeReply;
        emit replyReceived(r);
        // A handler may have closed us; the framer was reset then and yields nothing more.
        if (!self || m_hold) return;
        if (large) {
            if (!m_deliverQueued && m_framer.pendingBytes() > 0) {
                m_deliverQueued = true;
                QMetaObject::invokeMethod(this, &Connection::deliver, Qt::QueuedConnection);
            }
            return;
        }
    }
    if (m_framer.damaged()) {
        close();
        m_damaged = true;
        emit socketError(QStringLiteral("The compressed stream from ") + m_host + QStringLiteral(" is damaged"));
        return;
    }
    if (m_streaming) {
        QByteArray piece;
        if (m_framer.takeReceived(piece) > 0) emit bodyReceived(piece);
    }
}

bool loginAgain(LoginSequence &login, Connection &c)
{
    std::vector<LoginSequence::Action> la;
    login.take(480, "480", la);
    for (const LoginSequence::Action &l : la) {
        if (l.kind == LoginSequence::Action::Send) c.sendLine(l.line);
        else if (l.kind == LoginSequence::Action::MissingUser || l.kind == LoginSequence::Action::MissingPassword) return false;
    }
    return true;
}

} // namespace vt
