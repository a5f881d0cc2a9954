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
    std::vector<uint8_t> a(size + 64), b(size + 64);
    size_t usedB = 0;
    const size_t nb = yencDecodeScalar(in, size, b.data(), &usedB);
    for (YencKernel k : {YencKernel::Sse2, YencKernel::Ssse3, YencKernel::Avx2, YencKernel::Avx512}) {
        size_t usedA = 0;
        const size_t na = yencDecodeKernel(k, in, size, a.data(), &usedA);
        FUZZ_CHECK(na == nb && usedA == usedB && usedA <= size && na <= size);
        FUZZ_CHECK(std::equal(a.begin(), a.begin() + qsizetype(na), b.begin()));
    }
    const uint32_t crc = yencCrc32Kernel(CrcKernel::Zlib, data, size);
    FUZZ_CHECK(yencCrc32Kernel(CrcKernel::Clmul, data, size) == crc && yencCrc32Kernel(CrcKernel::Vpclmul, data, size) == crc);

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
