#pragma once
// A connection's two directions deflated, as COMPRESS DEFLATE (RFC 8054) has them: raw
// deflate streams, the sender flushing after each command or reply so that nothing waits
// in the compressor. It touches no socket: bytes in, bytes out.
#include "ReplyFramer.h"
#include <QByteArray>
#include <memory>

namespace vt {

class DeflateLink {
public:
    DeflateLink();
    ~DeflateLink();
    void start();
    void stop();
    bool active() const { return m_active; }
    // What the server sent, inflated into the framer; false when the stream is damaged or
    // the framer would hold more than limit (a small stream that inflates without end).
    bool inflateInto(const char *data, qsizetype len, ReplyFramer &framer, qint64 limit = qint64(1) << 30);
    // A command (with its line end) as it goes on the wire.
    QByteArray deflate(const QByteArray &text);
    // Bytes that came in, and what they gave, since start().
    qint64 wireIn() const { return m_wireIn; }
    qint64 plainIn() const { return m_plainIn; }

private:
    struct Streams;
    std::unique_ptr<Streams> m_z;
    bool m_active = false;
    qint64 m_wireIn = 0, m_plainIn = 0;
};

} // namespace vt
