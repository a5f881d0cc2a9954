#include "Xzver.h"
#include "core/Buffers.h"
#include "decode/Yenc.h"
#include <vector>
#include <zlib.h>

namespace vt {

namespace {
bool fail(QString *why, const char *text)
{
    if (why) *why = QString::fromLatin1(text);
    return false;
}

// The number after "key=" in a yEnc line; -1 when it is not there.
qint64 field(const QByteArray &line, const char *key, int base = 10)
{
    const QByteArray k = QByteArray(" ") + key + '=';
    const qsizetype at = line.indexOf(k);
    if (at < 0) return -1;
    bool ok = false;
    const qsizetype from = at + k.size();
    qsizetype to = from;
    while (to < line.size() && line[to] != ' ' && line[to] != '\r') ++to;
    const qint64 v = line.mid(from, to - from).toLongLong(&ok, base);
    return ok ? v : -1;
}
} // namespace

bool xzverToOverview(const QByteArray &reply, QByteArray *overview, QString *why)
{
    const qsizetype statusEnd = reply.indexOf("\r\n");
    if (statusEnd < 0 || !reply.endsWith("\r\n.\r\n")) return fail(why, "not a multi-line reply");
    // The body's lines, dot-stuffing undone; the yEnc lines joined without their ends.
    QByteArray encoded, trailer;
    bool begun = false;
    const qsizetype bodyEnd = reply.size() - 3;
    for (qsizetype at = statusEnd + 2; at < bodyEnd;) {
        qsizetype e = reply.indexOf("\r\n", at);
        if (e < 0 || e > bodyEnd) e = bodyEnd;
        QByteArray line = QByteArray::fromRawData(reply.constData() + at, e - at);
        if (line.startsWith("..")) line = line.mid(1);
        at = e + 2;
        if (!begun) {
            if (line.startsWith("=ybegin ")) begun = true;
            continue;
        }
        if (line.startsWith("=yend")) {
            trailer = line;
            break;
        }
        if (line.startsWith("=ypart ")) continue;
        encoded.append(line);
    }
    if (!begun) return fail(why, "no =ybegin line");
    if (trailer.isEmpty()) return fail(why, "no =yend line");
    std::vector<uint8_t> packed(size_t(encoded.size()) + 64);
    YencState state = YencState::Mid;
    const size_t n = yencDecodeData(yencBestKernel(), encoded.constData(), size_t(encoded.size()), packed.data(), state);
    const qint64 size = field(trailer, "size"), crc = field(trailer, "crc32", 16);
    if (size >= 0 && size != qint64(n)) return fail(why, "size mismatch");
    if (crc >= 0 && uint32_t(crc) != yencCrc32(packed.data(), n)) return fail(why, "CRC mismatch");
    // The overview lines, inflated; then the reply XOVER would have given. They come to
    // some fifteen times what was packed, into a buffer a reader gave back where there is one.
    QByteArray out = reusedBuffer(qsizetype(n) * 16 + 4096, qsizetype(n) * 8);
    out.append(reply.constData(), statusEnd + 2);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = packed.data();
    z.avail_in = uInt(n);
    int r = Z_OK;
    while (r == Z_OK) {
        const qsizetype old = out.size(), room = std::max<qsizetype>(65536, qsizetype(n) * 4);
        out.resize(old + room);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + old);
        z.avail_out = uInt(room);
        r = inflate(&z, Z_NO_FLUSH);
        out.resize(old + room - qsizetype(z.avail_out));
        if (r == Z_BUF_ERROR && z.avail_in == 0) break;   // a stream flushed but not finished
        if (out.size() > (qint64(1) << 30)) r = Z_MEM_ERROR;
    }
    inflateEnd(&z);
    if (r != Z_STREAM_END && r != Z_BUF_ERROR) return fail(why, "the data does not inflate");
    if (out.size() > statusEnd + 2 && !out.endsWith("\r\n")) out += "\r\n";
    out += ".\r\n";
    *overview = std::move(out);
    return true;
}

} // namespace vt
