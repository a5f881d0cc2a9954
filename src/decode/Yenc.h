#pragma once
// The yEnc decoder: detection, the output name, and decoding of one cached part (placed
// at its offset in the output file) or of a single article.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vt {

// The byte kernels. Both stop before an escape character that ends the input (its pair
// is in the next block) and report how much input they consumed. `out` needs room for
// n + 16 bytes. The fast path gives the same bytes as the scalar one.
size_t yencDecodeScalar(const char *in, size_t n, uint8_t *out, size_t *consumed);
// The fastest kernel this processor has (AVX-512 with VBMI2, else AVX2, SSSE3, SSE2).
size_t yencDecodeFast(const char *in, size_t n, uint8_t *out, size_t *consumed);
// One kernel by name (the best this processor has at most that level), for checks and
// measurements against each other.
enum class YencKernel { Scalar, Sse2, Ssse3, Avx2, Avx512 };
size_t yencDecodeKernel(YencKernel k, const char *in, size_t n, uint8_t *out, size_t *consumed);

// CRC-32 as yEnc's pcrc32/crc32 use it, by the fastest way this processor has.
uint32_t yencCrc32(const void *data, size_t len, uint32_t crc = 0);
// The same by one way at most: zlib alone (the reference the others are checked and
// measured against), 128-bit or 512-bit carry-less multiplication.
enum class CrcKernel { Zlib, Clmul, Vpclmul };
uint32_t yencCrc32Kernel(CrcKernel k, const void *data, size_t len, uint32_t crc = 0);
uint32_t yencCrc32Combine(uint32_t crc1, uint32_t crc2, qint64 len2);

// What a decoded part says about itself; the caller checks the whole file from these.
struct YencPartInfo {
    qint64 begin = 0;          // 1-based offset, 0 when not given
    qint64 decoded = 0;        // bytes written
    uint32_t crc = 0;          // of the bytes written
    std::optional<uint32_t> pcrc32, crc32;
    std::optional<qint64> partSize;    // "=yend size="
    std::optional<qint64> fileSize;    // "=ybegin size="
    QByteArray partText;
    bool multipart = false;    // has "=ypart"
};

// "" when the part's own size and CRC (where the post carries them) match what was
// decoded, else what is wrong ("CRC mismatch", "size mismatch").
QString yencPartProblem(const YencPartInfo &p);

class YencDecoder {
public:
    std::function<void(const QString &, bool record)> log = [](const QString &, bool) {};
    // The part progress bar: value, maximum.
    std::function<void(qint64, qint64)> partProgress;
    // Called after every block written: keeps the download watchdog quiet.
    std::function<void()> activity;
    // When set, a decode ends between two blocks with an error.
    const std::atomic<bool> *cancel = nullptr;
    bool useFastPath = true;
    // A part goes to its "begin=" offset; off, it starts the output file.
    bool placeAtOffset = true;
    // The last failure was the output's (folder not writable, disk full), not the post's.
    bool lastFailureLocal = false;

    bool yEncCheck(const QString &path);
    QByteArray yEncGetFilename(const QString &path);
    QString yEncDecodePart(const QString &in, const QString &out, YencPartInfo *info = nullptr);
    QString yEncDecodeArticle(const QString &in, const QString &out);

private:
    QString decode(const QString &in, const QString &out, bool part, YencPartInfo *info);
    // Kept between parts (see InputFile).
    std::vector<char> m_in;
    std::vector<uint8_t> m_out;
};

} // namespace vt
