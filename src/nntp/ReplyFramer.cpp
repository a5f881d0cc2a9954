#include "ReplyFramer.h"
#include "core/Buffers.h"
#include <cstring>
#include <zlib.h>

namespace vt {

struct ReplyFramer::Inflater {
    z_stream z{};
    Inflater() { inflateInit2(&z, 15 + 32); }   // zlib or gzip, by its header
    ~Inflater() { inflateEnd(&z); }
};

ReplyFramer::ReplyFramer() = default;
ReplyFramer::~ReplyFramer() = default;
ReplyFramer::ReplyFramer(ReplyFramer &&) noexcept = default;
ReplyFramer &ReplyFramer::operator=(ReplyFramer &&) noexcept = default;

QByteArray Reply::firstLine() const
{
    const qsizetype e = data.indexOf("\r\n");
    return e < 0 ? data : data.left(e);
}

bool ReplyFramer::isMultilineCode(int code)
{
    switch (code) {
    case 100: case 101: case 215: case 220: case 221: case 222: case 224: case 225:
    case 230: case 231: case 282:
        return true;
    default:
        return false;
    }
}

void ReplyFramer::reset()
{
    m_buf.clear();
    m_pos = m_scan = m_bodyFrom = 0;
    m_state = State::StatusLine;
    m_z.reset();
    m_gzipOn = m_damaged = false;
    m_gzipReply.clear();
}

QByteArray ReplyFramer::takeRest()
{
    QByteArray rest = m_buf.mid(m_pos);
    reset();
    return rest;
}

void ReplyFramer::feed(const char *data, qsizetype len)
{
    if (len <= 0) return;
    if (m_pos == m_buf.size()) {
        // Nothing pending: start afresh instead of growing a buffer of consumed bytes.
        m_buf.clear();
        m_pos = m_scan = m_bodyFrom = 0;
    }
    m_buf.append(data, len);
}

char *ReplyFramer::appendSpace(qsizetype n)
{
    if (m_pos == m_buf.size()) {
        m_buf.resize(0);
        m_pos = m_scan = m_bodyFrom = 0;
    }
    const qsizetype old = m_buf.size();
    if (m_buf.capacity() < old + n) m_buf.reserve(std::max(old + n, m_buf.capacity() * 2));
    m_buf.resize(old + n);
    m_appendAt = old;
    return m_buf.data() + old;
}

void ReplyFramer::commitAppend(qsizetype written)
{
    m_buf.resize(m_appendAt + std::max<qsizetype>(0, written));
}

static int parseCode(const char *p, qsizetype n)
{
    if (n < 3) return -1;
    for (int i = 0; i < 3; ++i)
        if (p[i] < '0' || p[i] > '9') return -1;
    return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

static qsizetype findFrom(const QByteArray &buf, qsizetype from, const char *needle, size_t nlen)
{
    if (from >= buf.size()) return -1;
    const void *hit = memmem(buf.constData() + from, size_t(buf.size() - from), needle, nlen);
    return hit ? qsizetype(static_cast<const char *>(hit) - buf.constData()) : -1;
}

// The first CR LF "." CR LF at or after `from`. Walking the line ends with memchr is several
// times faster than memmem over article bodies, whose lines are about 128 bytes.
static qsizetype findTerminator(const QByteArray &buf, qsizetype from)
{
    const char *d = buf.constData();
    const qsizetype n = buf.size();
    for (qsizetype k = from + 1; k + 3 < n;) {
        const void *nl = memchr(d + k, '\n', size_t(n - 3 - k));
        if (!nl) return -1;
        k = static_cast<const char *>(nl) - d;
        if (d[k - 1] == '\r' && d[k + 1] == '.' && d[k + 2] == '\r' && d[k + 3] == '\n') return k - 1;
        ++k;
    }
    return -1;
}

bool ReplyFramer::next(Reply &out)
{
    if (m_damaged) return false;
    if (m_state == State::GzipBody) return gzipStep(out);
    for (;;) {
        if (m_state == State::StatusLine) {
            const qsizetype e = findFrom(m_buf, std::max(m_scan, m_pos), "\r\n", 2);
            if (e < 0) {
                m_scan = std::max(m_pos, m_buf.size() - 1);
                return false;
            }
            m_code = parseCode(m_buf.constData() + m_pos, e - m_pos);
            if (!isMultilineCode(m_code)) {
                out.code = m_code;
                out.multiline = false;
                out.data = m_buf.mid(m_pos, e + 2 - m_pos);
                m_pos = m_scan = e + 2;
                compact();
                return true;
            }
            if (m_gzipOn) {
                static const QByteArray mark("[COMPRESS=GZIP]");
                const QByteArray line = QByteArray::fromRawData(m_buf.constData() + m_pos, e - m_pos);
                if (line.toUpper().contains(mark)) {
                    m_state = State::GzipBody;
                    // Replies of one kind come in similar sizes: room for one like the last.
                    m_gzipReply = reusedBuffer(m_lastGzipSize + m_lastGzipSize / 8, m_lastGzipSize);
                    m_gzipReply.append(m_buf.constData() + m_pos, e + 2 - m_pos);
                    m_z = std::make_unique<Inflater>();
                    m_gzipEnded = false;
                    m_pos = m_scan = e + 2;
                    return gzipStep(out);
                }
            }
            m_state = State::Body;
            // An empty body ends right after the status line: its CR LF is the terminator's.
            m_bodyFrom = e;
            m_scan = e;
        }
        const qsizetype t = findTerminator(m_buf, std::max(m_scan, m_bodyFrom));
        if (t < 0) {
            m_scan = std::max(m_bodyFrom, m_buf.size() - 4);
            return false;
        }
        const qsizetype end = t + 5;
        out.code = m_code;
        out.multiline = true;
        if (m_pos == 0 && m_buf.size() - end < end) {
            // The usual case: the reply leaves with the buffer, and only what came after it
            // (the start of a pipelined next reply, usually the smaller part) is copied.
            // Replies of one kind come in similar sizes: room for the next one saves
            // growing it step by step, in a buffer a reader gave back where there is one.
            QByteArray rest = end > 65536 ? reusedBuffer(end + end / 8, end + end / 16) : QByteArray();
            rest.append(m_buf.constData() + end, m_buf.size() - end);
            out.data = std::move(m_buf);
            out.data.truncate(end);
            m_buf = std::move(rest);
            m_pos = m_scan = m_bodyFrom = 0;
        } else {
            out.data = m_buf.mid(m_pos, end - m_pos);
            m_pos = m_scan = end;
            compact();
        }
        m_state = State::StatusLine;
        return true;
    }
}

// The compressed body: inflated as it comes; once its stream ends, the terminator is the
// end of what it gave or the three bytes after it.
bool ReplyFramer::gzipStep(Reply &out)
{
    if (!m_gzipEnded) {
        z_stream &z = m_z->z;
        z.next_in = reinterpret_cast<Bytef *>(m_buf.data() + m_pos);
        z.avail_in = uInt(m_buf.size() - m_pos);
        int r = Z_OK;
        while (z.avail_in > 0 && r == Z_OK && m_gzipReply.size() <= m_inflateLimit) {
            const qsizetype old = m_gzipReply.size(), room = std::max<qsizetype>(65536, qsizetype(z.avail_in) * 4);
            m_gzipReply.resize(old + room);
            z.next_out = reinterpret_cast<Bytef *>(m_gzipReply.data() + old);
            z.avail_out = uInt(room);
            r = inflate(&z, Z_NO_FLUSH);
            m_gzipReply.resize(old + room - qsizetype(z.avail_out));
            if (r == Z_BUF_ERROR) r = Z_OK;   // no progress possible until more comes
            if (r == Z_OK && z.avail_out > 0) break;
        }
        m_pos = m_buf.size() - qsizetype(z.avail_in);
        m_scan = m_pos;
        if ((r != Z_OK && r != Z_STREAM_END) || m_gzipReply.size() > m_inflateLimit) {
            m_damaged = true;
            return false;
        }
        if (r != Z_STREAM_END) {
            compact();
            return false;
        }
        m_gzipEnded = true;
        m_z.reset();
    }
    const qsizetype status = m_gzipReply.indexOf("\r\n") + 2;
    const bool inside = m_gzipReply.endsWith("\r\n.\r\n") || (m_gzipReply.size() == status + 3 && m_gzipReply.endsWith(".\r\n"));
    if (!inside) {
        if (m_buf.size() - m_pos < 3) return false;
        if (memcmp(m_buf.constData() + m_pos, ".\r\n", 3) != 0) {
            m_damaged = true;
            return false;
        }
        m_pos += 3;
        m_gzipReply += ".\r\n";
    }
    out.code = m_code;
    out.multiline = true;
    m_lastGzipSize = m_gzipReply.size();
    out.data = std::move(m_gzipReply);
    m_gzipReply = QByteArray();
    m_state = State::StatusLine;
    m_scan = m_bodyFrom = m_pos;
    compact();
    return true;
}

qsizetype ReplyFramer::takeReceived(QByteArray &out)
{
    if (m_state != State::Body) return 0;
    const qsizetype upto = m_buf.size() - 4;
    if (upto <= m_pos) return 0;
    const qsizetype n = upto - m_pos;
    out.append(m_buf.constData() + m_pos, n);
    m_pos = upto;
    m_scan = std::max(m_scan, m_pos);
    m_bodyFrom = std::max(m_bodyFrom, m_pos);
    compact();
    return n;
}

void ReplyFramer::compact()
{
    if (m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = m_scan = m_bodyFrom = 0;
    } else if (m_pos > 65536 && m_pos * 2 > m_buf.size()) {
        m_buf.remove(0, m_pos);
        m_scan -= m_pos;
        m_bodyFrom = std::max<qsizetype>(0, m_bodyFrom - m_pos);
        m_pos = 0;
    }
}

} // namespace vt
