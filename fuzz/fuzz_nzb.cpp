// NZB files and par2 files from outside. NZB: a file is read whole or refused, within its
// limits, and what was read writes out and reads back to the same document. par2: the
// names, the output reader and the progress reader stay in bounds.
#include "FuzzSupport.h"
#include "decode/Par2.h"
#include "nzb/NzbFile.h"

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
#ifdef FUZZ_PAR2
    const Par2FileInfo info = readPar2File(in);
    FUZZ_CHECK(info.setId.isEmpty() || info.setId.size() == 16);
    FUZZ_CHECK(info.recoveryBlocks >= 0);
    for (const QString &n : info.names) {
        FUZZ_CHECK(!n.endsWith(QChar(0)));
        if (isSafePar2Name(n)) FUZZ_CHECK(!n.startsWith(u'/') && !n.split(u'/').contains(QLatin1String("..")));
    }
    // The choice of volumes from block counts and sizes made of the input.
    std::vector<int> counts;
    std::vector<qint64> sizes;
    for (qsizetype i = 0; i + 1 < std::min<qsizetype>(in.size(), 40); i += 2) {
        counts.push_back(uchar(in[i]));
        sizes.push_back(uchar(in[i + 1]) * 1000 + uchar(in[i]));
    }
    const int needed = in.isEmpty() ? 0 : uchar(in[0]) * 4;
    int got = 0;
    for (size_t k : chooseRecoveryVolumes(needed, counts, sizes)) got += counts.at(k);
    int all = 0;
    for (int c : counts) all += c;
    FUZZ_CHECK(needed <= 0 || all < needed || got >= needed);
    const Par2Report r = parsePar2Output(in);
    FUZZ_CHECK(r.blocksNeeded >= 0 && r.blocksUsed >= 0);
    QString what;
    (void)lastPar2Percent(in, &what);
    (void)par2VolumeBlocks(QString::fromLatin1(in));
#else
    const NzbLimits limits{1 << 20, 5000, 1000};
    const NzbParse p = parseNzb(in, limits);
    if (!p.ok) {
        FUZZ_CHECK(!p.error.isEmpty() && p.doc.files.empty());
        return 0;
    }
    size_t segments = 0;
    for (const NzbFileEntry &f : p.doc.files) {
        FUZZ_CHECK(!f.segments.empty());
        for (size_t k = 0; k < f.segments.size(); ++k) {
            FUZZ_CHECK(isUsableMessageId(f.segments[k].messageId));
            FUZZ_CHECK(f.segments[k].number >= 1 && f.segments[k].number <= limits.maxSegmentsPerFile);
            FUZZ_CHECK(k == 0 || f.segments[k - 1].number < f.segments[k].number);
        }
        segments += f.segments.size();
    }
    FUZZ_CHECK(segments <= size_t(limits.maxSegments));
    const NzbParse back = parseNzb(writeNzb(p.doc), NzbLimits{});
    FUZZ_CHECK(back.ok);
    FUZZ_CHECK(back.doc.files.size() == p.doc.files.size());
    for (size_t i = 0; i < p.doc.files.size(); ++i) {
        const NzbFileEntry &a = p.doc.files[i], &b = back.doc.files[i];
        FUZZ_CHECK(a.segments.size() == b.segments.size());
        FUZZ_CHECK(a.groups.size() == b.groups.size());
        for (size_t k = 0; k < a.segments.size(); ++k) FUZZ_CHECK(a.segments[k].messageId == b.segments[k].messageId);
    }
#endif
    return 0;
}
