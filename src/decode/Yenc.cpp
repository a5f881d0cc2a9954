#include "Yenc.h"
#include "core/Text.h"
#include <limits>
#include <QFile>
#include <cstring>
#include <emmintrin.h>
#include <tmmintrin.h>
#include <immintrin.h>
#include <smmintrin.h>
#include <wmmintrin.h>
#include <zlib.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vt {

namespace {

constexpr qsizetype kWindow = 60000;
constexpr size_t kBlock = 256 * 1024;   // input decoded between two reports (fits in L2 with its output)

// A cache file's bytes, read whole into `buf`, which is kept from part to part: fresh
// blocks of this size would cost a page fault per 4 KB every time. (Mapping the file
// instead measured no faster here, and unmapping it stops every thread of the program.)
class InputFile {
public:
    InputFile(const QString &path, std::vector<char> &buf)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && size_t(st.st_size) + 1 > buf.size()) buf.resize(size_t(st.st_size) + 1);
        size_t got = 0;
        for (;;) {
            if (buf.size() < got + 65536) buf.resize(std::max(buf.size() * 2, got + 65536));
            const ssize_t r = ::read(fd, buf.data() + got, buf.size() - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                m_ok = r == 0;
                break;
            }
            got += size_t(r);
        }
        ::close(fd);
        m_bytes = QByteArray::fromRawData(buf.data(), qsizetype(got));
    }
    bool ok() const { return m_ok; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    bool m_ok = false;
    QByteArray m_bytes;
};

QByteArrayView windowOf(const QByteArray &d) { return QByteArrayView(d.constData(), std::min(d.size(), kWindow)); }

// The value after `key` on one control line, up to a blank or the line end.
std::optional<QByteArrayView> field(QByteArrayView line, QByteArrayView key)
{
    qsizetype p = 0;
    while ((p = line.indexOf(key, p)) >= 0) {
        if (p == 0 || line[p - 1] == ' ') break;
        p += key.size();
    }
    if (p < 0) return std::nullopt;
    p += key.size();
    qsizetype e = p;
    while (e < line.size() && line[e] != ' ' && line[e] != '\r' && line[e] != '\n') ++e;
    return line.sliced(p, e - p);
}

std::optional<qint64> decimal(std::optional<QByteArrayView> v)
{
    if (!v || v->isEmpty()) return std::nullopt;
    qint64 x = 0;
    for (char c : *v) {
        if (c < '0' || c > '9') return std::nullopt;
        if (x < (qint64(1) << 40)) x = x * 10 + (c - '0');
    }
    return x;
}

std::optional<uint32_t> hex32(std::optional<QByteArrayView> v)
{
    if (!v || v->isEmpty() || v->size() > 8) return std::nullopt;
    uint32_t x = 0;
    for (char c : *v) {
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return std::nullopt;
        x = x << 4 | uint32_t(d);
    }
    return x;
}

QByteArrayView lineAt(const QByteArray &d, qsizetype p)
{
    qsizetype e = d.indexOf('\n', p);
    if (e < 0) e = d.size();
    return QByteArrayView(d.constData() + p, e - p);
}

// The first "=ybegin " that starts a line. Header lines never start so, whatever their
// Subject says: the keywords are read from the yEnc lines alone.
qsizetype ybeginAt(QByteArrayView w)
{
    qsizetype p = 0;
    while ((p = w.indexOf("=ybegin ", p)) >= 0) {
        if (p == 0 || w[p - 1] == '\n') return p;
        ++p;
    }
    return -1;
}

// The line after the one at p, when it is an "=ypart " line; -1 otherwise.
qsizetype ypartAfter(const QByteArray &d, qsizetype p)
{
    const qsizetype e = d.indexOf('\n', p);
    if (e < 0) return -1;
    return QByteArrayView(d).sliced(e + 1).startsWith("=ypart ") ? e + 1 : -1;
}

// name= is the last keyword of the =ybegin line and runs to its end, blanks and all.
QByteArray ybeginName(QByteArrayView line)
{
    const qsizetype p = line.indexOf(" name=");
    if (p < 0) return {};
    return line.sliced(p + 6).toByteArray().trimmed();
}

// The first "=yend" in [from, n), or -1. Encoded data holds '=' every few dozen bytes
// but "=y" only in control lines, so pairs are tested 32 at a time.
__attribute__((target("avx2"))) qsizetype findYendAvx2(const char *d, qsizetype from, qsizetype n)
{
    const __m256i eq = _mm256_set1_epi8('='), y = _mm256_set1_epi8('y');
    qsizetype i = from;
    for (; i + 33 <= n; i += 32) {
        const __m256i a = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(d + i)), eq);
        const __m256i b = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(d + i + 1)), y);
        uint32_t m = uint32_t(_mm256_movemask_epi8(_mm256_and_si256(a, b)));
        while (m) {
            const qsizetype at = i + __builtin_ctz(m);
            if (n - at >= 5 && memcmp(d + at, "=yend", 5) == 0) return at;
            m &= m - 1;
        }
    }
    const void *hit = i < n ? memmem(d + i, size_t(n - i), "=yend", 5) : nullptr;
    return hit ? static_cast<const char *>(hit) - d : -1;
}

const bool kHaveAvx2Search = __builtin_cpu_supports("avx2");

qsizetype findYend(const char *d, qsizetype from, qsizetype n)
{
    if (kHaveAvx2Search) return findYendAvx2(d, from, n);
    // memmem: Qt's search of a short needle walks a part of this size byte by byte.
    const void *hit = from < n ? memmem(d + from, size_t(n - from), "=yend", 5) : nullptr;
    return hit ? static_cast<const char *>(hit) - d : -1;
}

// Every keyword from its own line: =ybegin (part, size, name) at `yb` and the =ypart line
// after it (begin, end). `start` is where the data begins.
QString readHead(QByteArrayView d, qsizetype yb, YencPartInfo &pi, qsizetype *start)
{
    const QByteArray text = QByteArray::fromRawData(d.data(), d.size());
    const QByteArrayView begin = lineAt(text, yb);
    const qsizetype nameAt = begin.indexOf(" name=");
    const QByteArrayView beforeName = begin.first(nameAt >= 0 ? nameAt : begin.size());
    if (const auto p = field(beforeName, "part=")) pi.partText = p->toByteArray();
    const qsizetype yp = ypartAfter(text, yb);
    pi.multipart = yp >= 0;
    if (yp >= 0) {
        const QByteArrayView line = lineAt(text, yp);
        const std::optional<qint64> b = decimal(field(line, "begin="));
        if (!b || *b < 1) return QStringLiteral("=ypart without a valid begin=");
        pi.begin = *b;
        pi.end = decimal(field(line, "end="));
    }
    pi.name = ybeginName(begin);
    pi.fileSize = decimal(field(beforeName, "size="));
    const qsizetype head = text.indexOf("\r\n", yp >= 0 ? yp : yb);
    if (head < 0) return QStringLiteral("no data");
    *start = head + 2;
    return {};
}

void readTrailer(QByteArrayView trailer, YencPartInfo &pi)
{
    pi.partSize = decimal(field(trailer, "size="));
    pi.pcrc32 = hex32(field(trailer, "pcrc32="));
    pi.crc32 = hex32(field(trailer, "crc32="));
}

// Offsets and sizes are the post's word: bounded by the file's own declared size, so a
// damaged or hostile begin= cannot make the file (or the gap before a part) any larger.
QString placeProblem(const YencPartInfo &pi, qint64 at)
{
    if (pi.multipart && pi.begin > 0 && !pi.fileSize) return QStringLiteral("part without the file's size=");
    if (pi.fileSize && at >= std::max<qint64>(*pi.fileSize, 1)) return QStringLiteral("part begins beyond the file's size");
    if (pi.fileSize && pi.partSize && at + *pi.partSize > *pi.fileSize)
        return QStringLiteral("part claims more than the file's size");
    return {};
}

} // namespace

namespace {

// CRC-32 (the bit-reflected polynomial 0xEDB88320 of zlib and yEnc) by folding with
// carry-less multiplication: four 128-bit lanes folded 64 bytes at a time, then into one,
// then a Barrett reduction to 32 bits. Takes the CRC register as it is (not inverted) and
// a length of at least 64, a multiple of 16. The constants are x^(k) mod P for the fold
// distances, in the reflected domain.
inline __m128i load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// One lane moved 128 bits on (its two halves multiplied by the fold constants) and the next
// block added.
__attribute__((target("sse4.1,pclmul"))) inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

// The last 16-byte blocks folded into `x` one at a time, then 128 bits to 64 and Barrett
// to 32.
__attribute__((target("sse4.1,pclmul"))) uint32_t crcFinish(__m128i x1, const uint8_t *buf, size_t len)
{
    alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    while (len >= 16) {
        x1 = fold(x1, k, load(buf));
        buf += 16;
        len -= 16;
    }
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

__attribute__((target("sse4.1,pclmul"))) uint32_t crcFold(const uint8_t *buf, size_t len, uint32_t crc)
{
    alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    __m128i x1 = _mm_xor_si128(load(buf), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(buf + 16), x3 = load(buf + 32), x4 = load(buf + 48);
    buf += 64;
    len -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k1k2));
    while (len >= 64) {
        x1 = fold(x1, k, load(buf));
        x2 = fold(x2, k, load(buf + 16));
        x3 = fold(x3, k, load(buf + 32));
        x4 = fold(x4, k, load(buf + 48));
        buf += 64;
        len -= 64;
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    x1 = fold(x1, k, x2);
    x1 = fold(x1, k, x3);
    x1 = fold(x1, k, x4);
    return crcFinish(x1, buf, len);
}

#define VT_VPCLMUL "avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,sse4.1"

// Four 128-bit lanes per register moved on at once.
__attribute__((target(VT_VPCLMUL))) inline __m512i fold512(__m512i x, __m512i k, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x11), _mm512_clmulepi64_epi128(x, k, 0x00), next, 0x96);
}

// The same with 512-bit carry-less multiplication: four registers folded 256 bytes at a
// time, into one, its four lanes into one, then the 128-bit finish. `len` is at least 256.
__attribute__((target(VT_VPCLMUL))) uint32_t crcFoldVp(const uint8_t *buf, size_t len, uint32_t crc)
{
    __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(buf), _mm512_maskz_set1_epi32(1, int(crc)));
    __m512i x1 = _mm512_loadu_si512(buf + 64), x2 = _mm512_loadu_si512(buf + 128), x3 = _mm512_loadu_si512(buf + 192);
    buf += 256;
    len -= 256;
    const __m512i k2048 = _mm512_setr_epi64(0x011542778a, 0x01322d1430, 0x011542778a, 0x01322d1430, 0x011542778a,
                                            0x01322d1430, 0x011542778a, 0x01322d1430);
    while (len >= 256) {
        x0 = fold512(x0, k2048, _mm512_loadu_si512(buf));
        x1 = fold512(x1, k2048, _mm512_loadu_si512(buf + 64));
        x2 = fold512(x2, k2048, _mm512_loadu_si512(buf + 128));
        x3 = fold512(x3, k2048, _mm512_loadu_si512(buf + 192));
        buf += 256;
        len -= 256;
    }
    const __m512i k512 = _mm512_setr_epi64(0x0154442bd4, 0x01c6e41596, 0x0154442bd4, 0x01c6e41596, 0x0154442bd4,
                                           0x01c6e41596, 0x0154442bd4, 0x01c6e41596);
    x1 = fold512(x0, k512, x1);
    x2 = fold512(x1, k512, x2);
    x3 = fold512(x2, k512, x3);
    while (len >= 64) {
        x3 = fold512(x3, k512, _mm512_loadu_si512(buf));
        buf += 64;
        len -= 64;
    }
    // Lanes 0, 1 and 2 moved on by 384, 256 and 128 bits onto lane 3.
    const __m512i kl = _mm512_setr_epi64(0x003db1ecdc, 0x0174359406, 0x00f1da05aa, 0x015a546366, 0x01751997d0,
                                         0x00ccaa009e, 0, 0);
    const __m512i t = _mm512_xor_si512(_mm512_clmulepi64_epi128(x3, kl, 0x00), _mm512_clmulepi64_epi128(x3, kl, 0x11));
    __m128i x = _mm512_maskz_extracti32x4_epi32(0xF, x3, 3);
    x = _mm_ternarylogic_epi64(x, _mm512_maskz_extracti32x4_epi32(0xF, t, 0), _mm512_maskz_extracti32x4_epi32(0xF, t, 1), 0x96);
    x = _mm_xor_si128(x, _mm512_maskz_extracti32x4_epi32(0xF, t, 2));
    return crcFinish(x, buf, len);
}

const bool kHaveVpclmul = __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f")
                          && __builtin_cpu_supports("avx512vl");
const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");

} // namespace

uint32_t yencCrc32Kernel(CrcKernel k, const void *data, size_t len, uint32_t crc)
{
    const auto *p = static_cast<const uint8_t *>(data);
    if (k != CrcKernel::Zlib && kHaveClmul && len >= 64) {
        const size_t bulk = len & ~size_t(15);
        crc = k == CrcKernel::Vpclmul && kHaveVpclmul && bulk >= 256 ? ~crcFoldVp(p, bulk, ~crc) : ~crcFold(p, bulk, ~crc);
        p += bulk;
        len -= bulk;
    }
    return uint32_t(crc32_z(crc, p, len));
}

uint32_t yencCrc32(const void *data, size_t len, uint32_t crc) { return yencCrc32Kernel(CrcKernel::Vpclmul, data, len, crc); }

uint32_t yencCrc32Combine(uint32_t crc1, uint32_t crc2, qint64 len2) { return uint32_t(crc32_combine(crc1, crc2, len2)); }

bool YencDecoder::yEncCheck(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("yEncCheck Error: ") + f.errorString(), true);
        return false;
    }
    const QByteArray w = f.read(kWindow);
    if (ybeginAt(w) < 0) return false;
    log(QStringLiteral("yEnc Internal Decoder: yEnc Encoding detected..."), true);
    return true;
}

QByteArray YencDecoder::yEncGetFilename(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("yEncCheck Error: ") + f.errorString(), true);
        return {};
    }
    const QByteArray w = f.read(kWindow);
    const qsizetype yb = ybeginAt(w);
    if (yb < 0) return {};
    const QByteArray name = ybeginName(lineAt(w, yb));
    if (name.isEmpty()) log(QStringLiteral("yEncGetFilename: no filename!"), true);
    return name;
}

QString YencDecoder::yEncDecodePart(const QString &in, const QString &out, YencPartInfo *info)
{
    return decode(in, out, true, info);
}

QString YencDecoder::yEncDecodeArticle(const QString &in, const QString &out) { return decode(in, out, false, nullptr); }

QString YencDecoder::decode(const QString &in, const QString &outPath, bool part, YencPartInfo *info)
{
    log(part ? QStringLiteral("yEnc Internal Decoder: loading...") : QStringLiteral("yEnc Internal Decoder: decoding..."),
        false);
    const QString err = QStringLiteral("yEnc decoder Error:");
    lastFailureLocal = false;
    auto localFault = [&](const QString &why) {
        lastFailureLocal = true;
        return err + u' ' + why;
    };
    const InputFile file(in, m_in);
    if (!file.ok()) return err + QStringLiteral(" cannot read ") + in;
    const QByteArray &d = file.bytes();
    const QByteArrayView w = windowOf(d);
    const qsizetype yb = ybeginAt(w);
    if (yb < 0) return part ? QStringLiteral("yEnc decoder: no =ybegin") : QStringLiteral("yEnc decoder Error: no ybegin=!");

    YencPartInfo local;
    YencPartInfo &pi = info ? *info : local;
    pi = YencPartInfo{};
    qsizetype start = 0;
    if (const QString why = readHead(d, yb, pi, &start); !why.isEmpty()) return err + u' ' + why;
    if (part) log(QStringLiteral("yDecoding (") + outPath + QStringLiteral(") part: ") + QString::fromLatin1(pi.partText), true);
    const qsizetype yend = findYend(d.constData(), start, d.size());
    if (yend < 0) return err + QStringLiteral(" no =yend");
    const qsizetype stop = yend - 2;
    if (stop <= start) return err + QStringLiteral(" no data");
    readTrailer(lineAt(d, yend), pi);
    const qint64 at = placeAtOffset && pi.begin > 0 ? pi.begin - 1 : 0;
    if (const QString why = placeProblem(pi, at); !why.isEmpty()) return err + u' ' + why;
    const qint64 room = pi.fileSize ? *pi.fileSize - at : std::numeric_limits<qint64>::max();

    QFile out(outPath);
    if (!out.open(QIODevice::ReadWrite)) {
        // A name the file system refuses is the post's, not the folder's: that item fails
        // alone and the run goes on.
        const int e = errno;
        if (e == ENAMETOOLONG || e == EILSEQ || e == EINVAL) return err + QStringLiteral(" the file system refuses the name: ") + out.errorString();
        return localFault(fileErrorText(outPath, out.errorString(), e));
    }
    if (at > out.size()) {
        // A gap before this part: byte 254 up to its offset.
        out.seek(out.size());
        const QByteArray fill(qsizetype(std::min<qint64>(at - out.size(), 1 << 20)), char(254));
        while (out.size() < at) {
            const qint64 want = std::min<qint64>(fill.size(), at - out.size());
            if (out.write(fill.constData(), want) != want) return localFault(fileErrorText(outPath, out.errorString(), errno));
            if (activity) activity();
        }
    }
    if (out.pos() != at && !out.seek(at)) return localFault(fileErrorText(outPath, out.errorString(), errno));

    const char *src = d.constData() + start;
    const size_t n = size_t(stop - start);
    if (partProgress && part) partProgress(0, qint64(n));
    std::vector<uint8_t> &buf = m_out;
    if (buf.size() < std::min(n, kBlock) + 64) buf.resize(std::min(n, kBlock) + 64);
    size_t i = 0;
    uint32_t crc = 0;
    qint64 written = 0;
    const YencKernel kernel = useFastPath ? yencBestKernel() : YencKernel::Scalar;
    YencState state = YencState::LineStart;
    while (i < n) {
        const size_t len = std::min(kBlock, n - i);
        const size_t o = yencDecodeData(kernel, src + i, len, buf.data(), state);
        if (written + qint64(o) > room) return err + QStringLiteral(" more data than the file's size");
        if (o && out.write(reinterpret_cast<const char *>(buf.data()), qint64(o)) != qint64(o))
            return localFault(fileErrorText(outPath, out.errorString(), errno));
        crc = yencCrc32(buf.data(), o, crc);
        written += qint64(o);
        i += len;
        // An escape that ends the data has nothing to pair with.
        if (i == n && state == YencState::Escape) return err + QStringLiteral(" escape character at the end of the data");
        if (partProgress && part) partProgress(qint64(i), qint64(n));
        if (activity) activity();
        if (cancel && cancel->load()) return err + QStringLiteral(" cancelled");
    }
    // What is still buffered must reach the file: a full disk shows here, not at close.
    if (!out.flush()) return localFault(fileErrorText(outPath, out.errorString(), errno));
    pi.decoded = written;
    pi.crc = crc;
    if (!part) {
        const QString problem = yencPartProblem(pi);
        if (!problem.isEmpty()) return err + u' ' + problem;
    }
    return {};
}

QString yencPartProblem(const YencPartInfo &p)
{
    if (p.partSize && *p.partSize != p.decoded) return QStringLiteral("size mismatch");
    const std::optional<uint32_t> want = p.pcrc32 ? p.pcrc32 : p.multipart ? std::nullopt : p.crc32;
    if (want && *want != p.crc) return QStringLiteral("CRC mismatch");
    return {};
}

QString yencDecodeRaw(QByteArrayView raw, YencBuffer &out, YencPartInfo &pi, YencKernel kernel)
{
    pi = YencPartInfo{};
    const QByteArray d = QByteArray::fromRawData(raw.data(), raw.size());
    const qsizetype yb = ybeginAt(d);
    if (yb < 0) return QStringLiteral("no =ybegin");
    qsizetype start = 0;
    if (const QString why = readHead(d, yb, pi, &start); !why.isEmpty()) return why;
    const qint64 at = pi.begin > 0 ? pi.begin - 1 : 0;
    // The output is never longer than its text; a part is never longer than its file.
    const size_t n = size_t(d.size() - start);
    const size_t cap = pi.fileSize ? size_t(std::max<qint64>(*pi.fileSize - at, 0)) : n;
    // Never more than the text (nor do the kernels' stores pass it). Kept from article to
    // article: only growing it touches new memory.
    if (out.size() < n + 64) out.resize(n + 64);
    YencState st = YencState::LineStart;
    size_t i = 0, o = 0;
    uint32_t crc = 0;
    bool ended = false;
    while (i < n && !ended) {
        // Blocks that stay in the cache for their CRC.
        const size_t len = std::min(kBlock, n - i), from = o;
        if (o > cap) return QStringLiteral("more data than the file's size");
        const YencStep s = yencDecode(kernel, d.constData() + start + qsizetype(i), len, out.data() + o, st, true);
        i += s.consumed;
        o += s.produced;
        if (s.stop == YencStop::Control) {
            const qsizetype y = start + qsizetype(i) - 2;
            if (QByteArrayView(d).sliced(y).startsWith("=yend")) {
                readTrailer(lineAt(d, y), pi);
                ended = true;
            } else {
                out[o++] = uint8_t('y' - 106);
            }
        } else if (s.stop == YencStop::End) {
            return QStringLiteral("no =yend");
        }
        crc = yencCrc32(out.data() + from, o - from, crc);
    }
    if (!ended) return QStringLiteral("no =yend");
    pi.decoded = qint64(o);
    pi.crc = crc;
    if (const QString why = placeProblem(pi, at); !why.isEmpty()) return why;
    if (pi.fileSize && at + pi.decoded > *pi.fileSize) return QStringLiteral("more data than the file's size");
    if (pi.end && *pi.end - pi.begin + 1 != pi.decoded) return QStringLiteral("begin= and end= disagree with the part's size");
    return yencPartProblem(pi);
}

} // namespace vt
