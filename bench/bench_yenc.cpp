// yEnc decode of a 100 MB multi-part post from its cache files into the output file,
// through the decode driver, with the fast and the scalar kernel; the kernels alone; and
// the longest stretch without the event loop during a decode.
#include "Synth.h"
#include "core/Prompter.h"
#include <QDir>
#include <QTemporaryDir>
#include "core/AppCore.h"
#include "core/Yield.h"
#include "decode/DecodeDriver.h"
#include "decode/Yenc.h"
#include "download/BatchQueue.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace vt;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 fileBytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100'000'000;
    const qint64 partBytes = 768'000;
    const int parts = int((fileBytes + partBytes - 1) / partBytes);

    std::mt19937_64 rng(42);
    QByteArray file(fileBytes, Qt::Uninitialized);
    for (qint64 i = 0; i + 8 <= fileBytes; i += 8) {
        const uint64_t v = rng();
        memcpy(file.data() + i, &v, 8);
    }
    const QByteArray want = QCryptographicHash::hash(file, QCryptographicHash::Sha1);

    // Kernels alone, on one part's worth of encoded text at a time.
    {
        const std::string enc = synth::yencEncode(file.constData(), size_t(std::min<qint64>(fileBytes, 16'000'000)));
        std::vector<uint8_t> out(enc.size() + 64);
        const char *names[] = {"scalar", "sse2", "ssse3", "avx2", "avx512"};
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer t;
            t.start();
            size_t used = 0, got = 0;
            for (int rep = 0; rep < 4; ++rep) got = yencDecodeKernel(YencKernel(k), enc.data(), enc.size(), out.data(), &used);
            const double s = t.nsecsElapsed() / 1e9 / 4;
            printf("kernel %-6s: %.2f GB/s of encoded input (%zu -> %zu bytes)\n", names[k], double(enc.size()) / s / 1e9,
                   enc.size(), got);
        }
    }

    // CRC-32 over one part's worth at a time (in cache), carry-less multiplication against
    // zlib, with memcpy of the same bytes as the limit.
    {
        const qsizetype chunk = 768'000;
        const int reps = 200;
        std::vector<char> sink(static_cast<size_t>(chunk));
        auto rate = [&](auto &&fn) {
            double best = 1e9;
            for (int run = 0; run < 3; ++run) {
                QElapsedTimer t;
                t.start();
                for (int rep = 0; rep < reps; ++rep) fn(file.constData() + (rep % 8) * 64, size_t(chunk));
                best = std::min(best, t.nsecsElapsed() / 1e9);
            }
            return double(chunk) * reps / best / 1e9;
        };
        uint32_t c = 0;
        const double fast = rate([&](const char *p, size_t n) { c ^= yencCrc32(p, n); });
        const double zlib = rate([&](const char *p, size_t n) { c ^= yencCrc32Zlib(p, n); });
        const double copy = rate([&](const char *p, size_t n) { memcpy(sink.data(), p, n); c ^= uint32_t(sink[n / 2]); });
        printf("crc32: folding %.2f GB/s, zlib %.2f GB/s (%.2fx); memcpy %.2f GB/s (crc/memcpy %.2f) [%08x]\n", fast, zlib,
               fast / zlib, copy, fast / copy, c);
    }

    QTemporaryDir dir;
    QuietPrompter prompter(true);
    AppCore core(AppPaths(dir.path()), prompter);
    core.settings.Download_Path = dir.path() + "/dl/";
    core.settings.Cache_Path = dir.path() + "/cache/";
    core.settings.chkSaveDecodes = true;
    QDir().mkpath(core.settings.Download_Path);
    NewsgroupTable groups(core.log, prompter, core.ui);
    groups.addGroup("alt.binaries.bench");
    const quint8 key = quint8(groups.rowKey(1));
    HeaderStore store;
    BatchQueue batch(store, &groups, &core.log);
    ProcessedList processed;
    PartCache cache(core.settings, groups, store);
    Decoder decoder(core, store, groups, batch, processed, cache);

    // Items with the same cached parts: three rounds of each kernel, taken in turns.
    const int rounds = 3;
    qint64 encoded = 0;
    std::vector<int> items;
    for (int copy = 0; copy < 2 * rounds; ++copy) {
        const QByteArray name = "bench" + QByteArray::number(copy) + ".bin [xx/" + QByteArray::number(parts).rightJustified(7, '0') + "]";
        for (int k = 1; k <= parts; ++k)
            store.maketree(name, "bench.bin (" + QByteArray::number(k) + "/" + QByteArray::number(parts) + ")", copy * 100000 + k,
                           QByteArray::number(parts), QByteArray::number(partBytes), key, "p", "", "<x>");
        items.push_back(store.itemCount());
    }
    for (int k = 1; k <= parts; ++k) {
        const qint64 begin = (k - 1) * partBytes + 1, end = std::min(fileBytes, k * partBytes);
        QByteArray text = "Subject: bench.bin (" + QByteArray::number(k) + "/" + QByteArray::number(parts)
                          + ")\r\nFrom: p\r\n\r\n=ybegin part=" + QByteArray::number(k) + " total=" + QByteArray::number(parts)
                          + " line=128 size=" + QByteArray::number(fileBytes) + " name=bench.bin\r\n=ypart begin="
                          + QByteArray::number(begin) + " end=" + QByteArray::number(end) + "\r\n";
        const char *slice = file.constData() + begin - 1;
        const size_t len = size_t(end - begin + 1);
        text += QByteArray::fromStdString(synth::yencEncode(slice, len));
        char tail[128];
        snprintf(tail, sizeof tail, "=yend size=%zu part=%d pcrc32=%08x%s\r\n", len, k, synth::crc32(slice, len),
                 k == parts ? (" crc32=" + QByteArray::number(synth::crc32(file.constData(), size_t(fileBytes)), 16).rightJustified(8, '0')).constData() : "");
        text += tail;
        encoded += text.size();
        for (int item : items) {
            QFile f(cache.PartCacheFile(item, k));
            if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
                fprintf(stderr, "cannot write the cache\n");
                return 1;
            }
        }
    }
    file.clear();
    // The parts were downloaded long before the decode: their writeback is done.
    ::sync();
    printf("post: %d parts, %.1f MB decoded, %.1f MB of cache files\n", parts, fileBytes / 1e6, encoded / 1e6);

    // The event loop as the program runs it, with a timer that notes the longest gap.
    setYieldHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    double best[2] = {1e9, 1e9}, bestAll[2] = {1e9, 1e9};
    // The decode ends where the finishing step starts removing the cache files.
    QElapsedTimer t;
    double decodeEnd = 0;
    QObject::connect(&core.log, &OpsLog::statusChanged, [&](const QString &m) {
        if (decodeEnd == 0 && m.startsWith("Removing uue file: ")) decodeEnd = t.nsecsElapsed() / 1e9;
    });
    for (int n = 0; n < 2 * rounds; ++n) {
        const bool fast = n % 2 == 0;
        decoder.yenc.useFastPath = fast;
        QElapsedTimer gap;
        decodeEnd = 0;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, gap.elapsed());
            gap.restart();
        });
        tick.start();
        gap.start();
        t.start();
        decoder.DecodeItem(items[size_t(n)]);
        const double all = t.nsecsElapsed() / 1e9, s = decodeEnd;
        tick.stop();
        best[fast] = std::min(best[fast], s);
        bestAll[fast] = std::min(bestAll[fast], all);
        const ProcessedEntry &e = processed.entry(processed.rowCount() - 1);
        QFile out(e.fileName);
        out.open(QIODevice::ReadOnly);
        const bool same = QCryptographicHash::hash(out.readAll(), QCryptographicHash::Sha1) == want;
        printf("decode %-6s: %.3f s, %.2f GB/s of encoded input (with removing the cache files %.3f s), %s, bytes %s, "
               "longest event-loop step %lld ms\n",
               fast ? "fast" : "scalar", s, encoded / s / 1e9, all, qPrintable(e.status), same ? "identical" : "DIFFER",
               (long long)longest);
        QFile::remove(e.fileName);
    }
    printf("best of %d: fast %.2f GB/s, scalar %.2f GB/s of encoded input (fast/scalar %.2f); with the finishing step "
           "fast %.2f GB/s, scalar %.2f GB/s\n",
           rounds, encoded / best[1] / 1e9, encoded / best[0] / 1e9, best[0] / best[1], encoded / bestAll[1] / 1e9,
           encoded / bestAll[0] / 1e9);
    setYieldHook({});
    return 0;
}
