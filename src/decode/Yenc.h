#pragma once
// The yEnc decoder: detection, the output name, and decoding of one cached part (placed
// at its offset in the output file) or of a single article.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vt {

// The byte kernels. Every kernel gives the scalar one's bytes, states and stops, however
// the input is cut; a kernel above what the processor has runs as the best it has.
enum class YencKernel { Scalar, Sse2, Ssse3, Avx2, Avx512 };
YencKernel yencBestKernel();
const char *yencKernelName(YencKernel k);

// Where decoding stands between two pieces of input.
enum class YencState : uint8_t {
    Mid,         // inside a line
    LineStart,   // after CR LF (a body starts here)
    Cr,          // after a CR
    Escape,      // after '=': the next byte is escaped
    Dot,         // raw: after a dot that starts a line
    DotCr,       // raw: after a line's lone dot and CR
};
enum class YencStop : uint8_t {
    None,
    End,       // raw: the line of a lone dot that ends the article (consumed)
    Control,   // raw: "=y", a control line starts (both bytes consumed); the caller reads it
};
struct YencStep {
    size_t consumed = 0, produced = 0;
    YencStop stop = YencStop::None;
};
// Decodes up to n bytes of encoded lines into `out` (room for n + 64 bytes). With `raw`
// the input is as the server sends it: a dot that starts a line is dropped, the lone dot's
// line ends it and "=y" stops at a control line, in the same pass. Without, it is data alone
// (cleaned text between the control lines): all n bytes decode, "=y" as an escaped 'y'.
YencStep yencDecode(YencKernel k, const char *in, size_t n, uint8_t *out, YencState &state, bool raw);
// The same without `raw`, all n bytes: how many came out.
size_t yencDecodeData(YencKernel k, const char *in, size_t n, uint8_t *out, YencState &state);

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
    std::optional<qint64> end; // "=ypart end=" (1-based, inclusive)
    QByteArray partText;
    QByteArray name;           // "=ybegin name="
    bool multipart = false;    // has "=ypart"
};

// "" when the part's own size and CRC (where the post carries them) match what was
// decoded, else what is wrong ("CRC mismatch", "size mismatch").
QString yencPartProblem(const YencPartInfo &p);

// Bytes a decode writes before anything reads them: growing it touches no memory.
template <class T>
struct UninitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    template <class U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
};
using YencBuffer = std::vector<uint8_t, UninitAllocator<uint8_t>>;

// A yEnc article as the server sends it (status line, dot-stuffed body, its terminator),
// decoded in one pass into the start of `out` (grown when short, never shrunk; the count
// is `info.decoded`), its keywords, size and CRC in `info`. "" or what is wrong with it (its own size and CRC checked).
QString yencDecodeRaw(QByteArrayView raw, YencBuffer &out, YencPartInfo &info,
                      YencKernel kernel = yencBestKernel());

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
