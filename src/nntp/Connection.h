#pragma once
// One NNTP connection: a socket that buffers bytes and hands complete replies on, each
// with the command it answers. The session decides what replies mean; the one thing
// answered here is a server that wants reader mode first ("401 MODE-READER", or a
// refusal that CAPABILITIES explains): MODE READER is sent and the commands repeated,
// on every connection alike.
#include "Deflate.h"
#include "LoginSequence.h"
#include "ReplyFramer.h"
#include "core/RateLimiter.h"
#include <QObject>
#include <QSslSocket>
#include <deque>
#include <functional>
#include <memory>

namespace vt {

// The scan and feature connections by what they are for; the numbers are the ones the log
// names (downloads run on the pool's own numbered connections).
enum class ConnectionId { Scan = 1, HostGroups = 3, Viewer = 4, Preview = 5, Assistant = 6 };

// The ten connection states and their texts.
QString socketStateText(int state);

class Connection : public QObject {
    Q_OBJECT
public:
    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    // tls: the whole conversation encrypted from the first byte (NNTP over TLS, port 563).
    void connectTo(const QString &host, quint16 port, bool tls = false);
    bool encrypted() const { return m_sock->isEncrypted(); }
    // The last attempt stopped because its certificate was not accepted.
    bool certificateRefused() const { return m_certAnswer == 0; }
    // Asked when the server's certificate cannot be verified. The handshake waits (the
    // event loop runs on) until `answer` is called: true goes on regardless, false fails
    // the attempt. An answer for an attempt that is over by then is dropped.
    using CertificateAnswer = std::function<void(bool)>;
    using CertificateCheckFn =
        std::function<void(const QString &host, const QSslCertificate &cert, const QList<QSslError> &errors, CertificateAnswer answer)>;
    CertificateCheckFn certificateCheck;
    // Sends text + CR LF when connected (state 7); otherwise drops it.
    bool sendLine(const QByteArray &text);
    // Commands sent and not yet answered.
    qsizetype commandsInFlight() const { return qsizetype(m_inFlight.size()); }
    // Closes at once, after handing queued bytes to the system.
    void close();
    int state() const;          // 0..9, as socketStateText() names them
    bool isOpen() const { return state() == 7; }      // "Connected": commands go out
    bool isClosed() const { return state() == 0; }    // "Connection Closed"

    // COMPRESS DEFLATE was answered 206 (the reply just handed on): from its next byte on
    // both directions are deflated.
    void startCompression();
    // XFEATURE COMPRESS GZIP was answered 290: overviews marked so are inflated.
    void acceptGzipReplies() { m_framer.acceptGzipReplies(true); }
    bool compressed() const { return m_deflate.active() || m_framer.gzipReplies(); }
    const QString &host() const { return m_host; }
    // The connection ended because the compressed stream could not be read.
    bool compressionDamaged() const { return m_damaged; }
    // Since compression started: bytes on the wire, and what they gave.
    qint64 compressedIn() const { return m_deflate.wireIn(); }
    qint64 inflatedIn() const { return m_deflate.plainIn(); }
    QSslSocket *socket() { return m_sock.get(); }
    qint64 bytesReceived() const { return m_received; }
    qsizetype pendingBytes() const { return m_framer.pendingBytes(); }
    bool receivingMultiline() const { return m_framer.inMultiline(); }
    // Multi-line replies are handed on as they arrive (bodyReceived), not held until complete.
    void setStreaming(bool on) { m_streaming = on; }
    // Holds back complete replies (they are handed on, in order, once released): the
    // reader is still busy with the last one over several turns of the event loop.
    void setHold(bool on);
    // Reads no faster than the limiter allows (shared with other connections); the server
    // is held back by the socket's own flow control meanwhile.
    void setRateLimiter(RateLimiter *l) { m_limiter = l; }
    // The most one reply may hold, by what it answers: an overview by the articles asked
    // for, an article by the sizes Usenet carries. A server that sends more is cut off
    // (socketError says why), never held in memory.
    static qint64 replyLimit(const QByteArray &command);

signals:
    void replyReceived(const vt::Reply &reply);
    void dataArrived(qsizetype pendingBytes);   // after every chunk, before its replies
    void connected();
    void peerClosed();
    void socketError(const QString &description);
    void bodyReceived(const QByteArray &bytes);   // streaming: a piece of the reply in progress
    void notice(const QString &text);             // what the connection did on its own, for the log

private:
    void onReadyRead(bool all = false);
    qint64 pendingLimit() const;
    RateLimiter *m_limiter = nullptr;
    bool m_readQueued = false;
    void deliver();
    static constexpr qsizetype kLargeReply = 64 * 1024;
    bool m_deliverQueued = false;
    bool m_hold = false;
    void write(const QByteArray &text);
    void resetConversation();
    // False when the reply was taken here (reader mode being switched on).
    bool readerModeStep(Reply &r);
    void holdForRepeat(const QByteArray &refused);
    std::unique_ptr<QSslSocket> m_sock;
    QString m_host;
    bool m_tls = false;
    int m_certAnswer = -1;   // this attempt's answer about the certificate, -1 not asked, -2 asking
    quint64 m_attempt = 0;   // counts connects and closes: a late answer finds its attempt over
    void certificateAnswered(quint64 attempt, bool yes);
    QString notAccepted(const QList<QSslError> &why) const;
    QList<QSslError> m_certErrors;
    ReplyFramer m_framer;
    DeflateLink m_deflate;
    bool m_damaged = false;
    bool takeWireBytes(const char *data, qsizetype len);   // false: the stream is damaged
    bool m_closing = false;
    bool m_error = false;
    bool m_streaming = false;
    qint64 m_received = 0;

    std::deque<QByteArray> m_inFlight;
    bool m_greeted = false;
    enum class ReaderStep { None, AskedCapabilities, SentModeReader } m_readerStep = ReaderStep::None;
    bool m_readerAsked = false;       // MODE READER or CAPABILITIES already sent on this connection
    Reply m_refusal;                  // the reply CAPABILITIES is asked to explain
    std::vector<QByteArray> m_repeat; // commands to send again once in reader mode
};

// A login asked for in the middle of the work (480): what the login sends goes out on c.
// False when it wants a user name or password that is not set.
bool loginAgain(LoginSequence &login, Connection &c);

} // namespace vt
