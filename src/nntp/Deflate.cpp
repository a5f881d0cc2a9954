#include "Deflate.h"
#include <zlib.h>

namespace vt {

struct DeflateLink::Streams {
    z_stream in{}, out{};
};

DeflateLink::DeflateLink() = default;
DeflateLink::~DeflateLink() { stop(); }

void DeflateLink::start()
{
    stop();
    m_z = std::make_unique<Streams>();
    inflateInit2(&m_z->in, -15);
    deflateInit2(&m_z->out, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    m_active = true;
    m_wireIn = m_plainIn = 0;
}

void DeflateLink::stop()
{
    if (m_z) {
        inflateEnd(&m_z->in);
        deflateEnd(&m_z->out);
        m_z.reset();
    }
    m_active = false;
}

bool DeflateLink::inflateInto(const char *data, qsizetype len, ReplyFramer &framer, qint64 limit)
{
    if (!m_active) return false;
    z_stream &z = m_z->in;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(len);
    m_wireIn += len;
    // Overview lines shrink to about a quarter: room for four times the input at first.
    qsizetype room = std::max<qsizetype>(64 * 1024, len * 4);
    for (;;) {
        char *at = framer.appendSpace(room);
        z.next_out = reinterpret_cast<Bytef *>(at);
        z.avail_out = uInt(room);
        const int r = inflate(&z, Z_SYNC_FLUSH);
        const qsizetype made = room - qsizetype(z.avail_out);
        framer.commitAppend(made);
        m_plainIn += made;
        // The stream's end is damage too: the server never ends it while the link is open.
        if (r == Z_STREAM_END || (r != Z_OK && r != Z_BUF_ERROR) || framer.pendingBytes() > limit) return false;
        if (z.avail_out > 0) return true;   // it stopped for want of input: all taken
        room = std::min<qsizetype>(room * 2, 16 * 1024 * 1024);
    }
}

QByteArray DeflateLink::deflate(const QByteArray &text)
{
    QByteArray out;
    if (!m_active) return out;
    z_stream &z = m_z->out;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    z.avail_in = uInt(text.size());
    do {
        const qsizetype old = out.size();
        out.resize(old + text.size() + 64);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + old);
        z.avail_out = uInt(text.size() + 64);
        ::deflate(&z, Z_SYNC_FLUSH);
        out.resize(out.size() - qsizetype(z.avail_out));
    } while (z.avail_out == 0);
    return out;
}

} // namespace vt
