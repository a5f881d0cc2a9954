// yEnc from outside, as a part file, a whole article and raw encoded data: every kernel
// agrees with the scalar one byte for byte, every CRC with zlib's, and a part never makes its output larger than the size= it
// declares (or than the data it holds when it declares none).
#include "FuzzSupport.h"
#include "decode/Yenc.h"
#include <QFileInfo>
#include <algorithm>
#include <vector>

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *in = reinterpret_cast<const char *>(data);
    // Every kernel against the byte rule, cleaned and raw, the input cut in two where its
    // first byte says: the same bytes, stops and states.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    auto run = [&](YencKernel k, bool raw, std::vector<uint8_t> &out, std::vector<size_t> &trace) {
        YencState st = YencState::LineStart;
        size_t i = 0, o = 0;
        while (i < size) {
            const size_t end = i < cut ? cut : size;
            const YencStep s = yencDecode(k, in + i, end - i, out.data() + o, st, raw);
            FUZZ_CHECK(s.consumed > 0 && s.consumed <= end - i && s.produced <= s.consumed);
            i += s.consumed;
            o += s.produced;
            trace.push_back(i * 4 + size_t(s.stop));
        }
        trace.push_back(size_t(st));
        return o;
    };
    for (bool raw : {false, true}) {
        std::vector<uint8_t> a(size + 64), b(size + 64);
        std::vector<size_t> ta, tb;
        const size_t nb = run(YencKernel::Scalar, raw, b, tb);
        for (YencKernel k : {YencKernel::Sse2, YencKernel::Ssse3, YencKernel::Avx2, YencKernel::Avx512}) {
            ta.clear();
            const size_t na = run(k, raw, a, ta);
            FUZZ_CHECK(na == nb && ta == tb && std::equal(a.begin(), a.begin() + qsizetype(na), b.begin()));
        }
    }
    const uint32_t crc = yencCrc32Kernel(CrcKernel::Zlib, data, size);
    FUZZ_CHECK(yencCrc32Kernel(CrcKernel::Clmul, data, size) == crc && yencCrc32Kernel(CrcKernel::Vpclmul, data, size) == crc);

    // As an article from the server, in one pass: never more than its text, nor past the
    // file's declared size when it has one and says it is fine.
    static YencBuffer buf;
    YencPartInfo raw;
    const bool fine = yencDecodeRaw(QByteArrayView(in, qsizetype(size)), buf, raw).isEmpty();
    FUZZ_CHECK(raw.decoded <= qint64(size));
    if (fine && raw.fileSize) FUZZ_CHECK(std::max<qint64>(raw.begin - 1, 0) + raw.decoded <= *raw.fileSize);

    static YencDecoder dec;
    const QString part = fuzz::scratch() + "/part.uue", out = fuzz::scratch() + "/out.bin";
    const QByteArray d(in, qsizetype(size));
    fuzz::writeFile(part, d);
    QFile::remove(out);
    YencPartInfo info;
    dec.yEncDecodePart(part, out, &info);
    const qint64 written = QFileInfo(out).size();
    if (info.fileSize) FUZZ_CHECK(written <= std::max<qint64>(*info.fileSize, 0));
    else FUZZ_CHECK(written <= qint64(size));
    FUZZ_CHECK(info.decoded <= qint64(size));

    // The same bytes as a whole single-part article.
    QFile::remove(out);
    dec.yEncDecodeArticle(part, out);
    FUZZ_CHECK(QFileInfo(out).size() <= std::max<qint64>(qint64(size), info.fileSize ? *info.fileSize : 0));
    return 0;
}
