// yEnc: every decode kernel against memcpy of the same bytes; CRC-32 by 512-bit and
// 128-bit carry-less multiplication against zlib; a 50 MB article by uuenview decoded with
// its CRC, against sabyenc3 on the same bytes (bench/sabyenc_bench.py, skipped when the
// module is missing); and a 100 MB multi-part post from its cache files into the output
// file through the decode driver, fast and scalar, with the longest event-loop step.
#include "LoopGap.h"
#include "Processor.h"
#include "Posts.h"
#include "Synth.h"
#include "core/Prompter.h"
#include <QDir>
#include <QTemporaryDir>
#include "core/AppCore.h"
#include "download/Decoder.h"
#include "download/DecodeQueue.h"
#include "decode/Yenc.h"
#include "download/ArticleText.h"
#include <QProcess>
#include <memory>
#include "download/BatchQueue.h"
#include "download/PartCache.h"
#include "download/DirectWrite.h"
#include <QThread>
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

namespace {

// One 50 MB single-part article as uuenview encodes it (tabs, blanks and leading dots
// escaped too), in the form the server sends it: status line, CR LF, dot-stuffed, with
// its terminator. Our decode with CRC against sabyenc3's on the same bytes, both writing
// into fresh memory as a download would.
void againstSabyenc(const QString &dirPath)
{
    const qint64 size = 50'000'000;
    std::mt19937_64 rng(7);
    QByteArray file(size, Qt::Uninitialized);
    for (qint64 i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = rng();
        memcpy(file.data() + i, &v, 8);
    }
    const QString binPath = dirPath + "/article.bin";
    QFile bin(binPath);
    if (!bin.open(QIODevice::WriteOnly) || bin.write(file) != size) return;
    bin.close();
    QProcess uuenview;
    uuenview.setWorkingDirectory(dirPath);
    uuenview.start("uuenview", {"-y", "article.bin"});
    QByteArray encoded;
    const char *encoder = "uuenview";
    if (uuenview.waitForFinished(60000) && uuenview.exitCode() == 0) {
        encoded = uuenview.readAllStandardOutput();
    } else {
        encoder = "our test encoder (no uuenview)";
        char trailer[64];
        snprintf(trailer, sizeof trailer, "=yend size=%lld crc32=%08x\r\n", (long long)size,
                 synth::crc32(file.constData(), size_t(size)));
        encoded = "=ybegin line=128 size=" + QByteArray::number(size) + " name=article.bin\r\n"
                  + QByteArray::fromStdString(synth::yencEncode(file.constData(), size_t(size))) + trailer;
    }
    const QByteArray article = "222 0 <bench@vantrel> body\r\n" + test::onTheWire(encoded);
    const QString artPath = dirPath + "/article.nntp";
    QFile art(artPath);
    if (!art.open(QIODevice::WriteOnly) || art.write(article) != article.size()) return;
    art.close();

    // Ours: the body as the part cache holds it (status line gone, dots undone), and from
    // the article itself with that cleaning counted.
    const QByteArray stored = StripArticle(article);
    const qsizetype head = stored.indexOf("\r\n", stored.indexOf("=ybegin ")) + 2;
    const qsizetype yend = stored.lastIndexOf("\r\n=yend") + 2;
    std::vector<uint8_t> warm(size_t(stored.size()) + 64);
    const uint32_t wantCrc = synth::crc32(file.constData(), size_t(size));
    // Seconds since `t` started, taken before the result is checked.
    auto decodeWithCrc = [&](const QElapsedTimer &t, const QByteArray &text, qsizetype from, qsizetype to, bool *ok,
                             bool fresh = true) {
        const size_t n = size_t(to - from);
        // Fresh pages, as a new file's would be; or memory used before.
        std::unique_ptr<uint8_t[]> mem(fresh ? new uint8_t[n + 64] : nullptr);
        uint8_t *const out = fresh ? mem.get() : warm.data();
        size_t i = 0, o = 0;
        uint32_t crc = 0;
        YencState st = YencState::LineStart;
        while (i < n) {
            const size_t len = std::min<size_t>(256 * 1024, n - i), at = o;
            o += yencDecodeData(yencBestKernel(), text.constData() + from + i, len, out + o, st);
            crc = yencCrc32(out + at, o - at, crc);
            i += len;
        }
        const double s = t.nsecsElapsed() / 1e9;
        *ok = o == size_t(size) && memcmp(out, file.constData(), o) == 0 && crc == wantCrc;
        return s;
    };
    double bestStored = 1e9, bestWire = 1e9, bestWarm = 1e9, bestRaw = 1e9, bestRawWarm = 1e9, bestRawAvx2 = 1e9;
    bool okStored = false, okWire = false, okWarm = false, okRaw = false, okRawWarm = false, okRawAvx2 = false;
    // One pass over the article as it came: dots, terminator, escapes and CRC together,
    // into fresh memory or into a buffer kept from article to article.
    YencBuffer kept;
    auto onePass = [&](YencBuffer &out, bool *ok, YencKernel k = yencBestKernel()) {
        QElapsedTimer t;
        t.start();
        YencPartInfo info;
        const QString why = yencDecodeRaw(article, out, info, k);
        const double s = t.nsecsElapsed() / 1e9;
        *ok = why.isEmpty() && info.decoded == size && memcmp(out.data(), file.constData(), size_t(size)) == 0
              && info.crc == wantCrc;
        return s;
    };
    for (int rep = 0; rep < 5; ++rep) {
        QElapsedTimer t;
        t.start();
        bestStored = std::min(bestStored, decodeWithCrc(t, stored, head, yend - 2, &okStored));
        t.start();
        bestWarm = std::min(bestWarm, decodeWithCrc(t, stored, head, yend - 2, &okWarm, false));
        QByteArray wire = article;
        wire.detach();
        t.start();
        const QByteArray body = StripArticle(std::move(wire));
        const qsizetype h = body.indexOf("\r\n", body.indexOf("=ybegin ")) + 2;
        bestWire = std::min(bestWire, decodeWithCrc(t, body, h, body.lastIndexOf("\r\n=yend"), &okWire));
        YencBuffer fresh;
        bestRaw = std::min(bestRaw, onePass(fresh, &okRaw));
        bestRawWarm = std::min(bestRawWarm, onePass(kept, &okRawWarm));
        bestRawAvx2 = std::min(bestRawAvx2, onePass(kept, &okRawAvx2, YencKernel::Avx2));
    }
    double bestCopy = 1e9;
    for (int rep = 0; rep < 5; ++rep) {
        QElapsedTimer t;
        t.start();
        memcpy(warm.data(), stored.constData(), size_t(stored.size()));
        bestCopy = std::min(bestCopy, t.nsecsElapsed() / 1e9);
    }
    printf("memcpy of the article's bytes into memory used before: %.2f GB/s\n", stored.size() / bestCopy / 1e9);
    for (int k = 0; k <= int(yencBestKernel()); ++k) {
        double best = 1e9;
        for (int rep = 0; rep < 3; ++rep) {
            QElapsedTimer t;
            t.start();
            YencState st = YencState::LineStart;
            yencDecodeData(YencKernel(k), stored.constData() + head, size_t(yend - 2 - head), warm.data(), st);
            best = std::min(best, t.nsecsElapsed() / 1e9);
        }
        printf("  kernel %s on it: %.2f GB/s\n", yencKernelName(YencKernel(k)), (yend - head) / best / 1e9);
    }
    const double ours = article.size() / bestStored / 1e9, oursWire = article.size() / bestWire / 1e9,
                 oursRaw = article.size() / bestRaw / 1e9, oursRawWarm = article.size() / bestRawWarm / 1e9,
                 oursRawAvx2 = article.size() / bestRawAvx2 / 1e9;
    auto right = [](bool ok) { return ok ? "bytes and CRC right" : "WRONG"; };
    printf("article of %.1f MB by %s: decode with CRC %.2f GB/s of article bytes (%s); with status line, dot-stuffing "
           "and terminator undone first %.2f GB/s (%s); into memory used before %.2f GB/s (%s)\n",
           article.size() / 1e6, encoder, ours, right(okStored), oursWire, right(okWire), article.size() / bestWarm / 1e9,
           right(okWarm));
    printf("one pass over the article as it came (kernel %s): %.2f GB/s into fresh memory (%s), %.2f GB/s into a kept "
           "buffer (%s)\n",
           yencKernelName(yencBestKernel()), oursRaw, right(okRaw), oursRawWarm, right(okRawWarm));
    printf("one pass with the %s kernel into a kept buffer: %.2f GB/s (%s)\n", yencKernelName(YencKernel::Avx2),
           oursRawAvx2, right(okRawAvx2));

    QProcess py;
    const QString script = QStringLiteral(VANTREL_BENCH_DIR "/sabyenc_bench.py");
    // Debian's module is in the system interpreter's path.
    py.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3", {script, artPath});
    if (!py.waitForFinished(120000)) {
        printf("sabyenc3: skipped, the script did not finish\n");
        return;
    }
    const QByteArray said = py.readAllStandardOutput().trimmed();
    printf("%s\n", said.constData());
    const qsizetype at = said.indexOf("GB/s");
    if (said.startsWith("sabyenc3 ") && at > 0) {
        const double theirs = said.left(at).split(' ').at(said.left(at).split(' ').size() - 2).toDouble();
        if (theirs > 0)
            printf("ours / sabyenc3: %.2f decode with CRC of cleaned text, %.2f cleaning first then decoding; one pass "
                   "%.2f into fresh memory, %.2f into a kept buffer (%.2f with the AVX2 kernel)\n",
                   ours / theirs, oursWire / theirs, oursRaw / theirs, oursRawWarm / theirs, oursRawAvx2 / theirs);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    printProcessor();
    printf("yEnc kernel: %s\n", yencKernelName(yencBestKernel()));
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
        double copyBest = 1e9;
        for (int rep = 0; rep < 4; ++rep) {
            QElapsedTimer t;
            t.start();
            memcpy(out.data(), enc.data(), enc.size());
            copyBest = std::min(copyBest, t.nsecsElapsed() / 1e9);
        }
        const double copyRate = double(enc.size()) / copyBest / 1e9;
        printf("memcpy of the same bytes: %.2f GB/s\n", copyRate);
        for (int k = 0; k <= int(yencBestKernel()); ++k) {
            size_t got = 0;
            double s = 1e9;
            for (int rep = 0; rep < 4; ++rep) {
                QElapsedTimer t;
                t.start();
                YencState st = YencState::LineStart;
                got = yencDecodeData(YencKernel(k), enc.data(), enc.size(), out.data(), st);
                s = std::min(s, t.nsecsElapsed() / 1e9);
            }
            const double rate = double(enc.size()) / s / 1e9;
            printf("kernel %-13s: %.2f GB/s of encoded input, %.2f of memcpy (%zu -> %zu bytes)\n",
                   yencKernelName(YencKernel(k)), rate, rate / copyRate, enc.size(), got);
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
        const double vp = rate([&](const char *p, size_t n) { c ^= yencCrc32Kernel(CrcKernel::Vpclmul, p, n); });
        const double fast = rate([&](const char *p, size_t n) { c ^= yencCrc32Kernel(CrcKernel::Clmul, p, n); });
        const double zlib = rate([&](const char *p, size_t n) { c ^= yencCrc32Kernel(CrcKernel::Zlib, p, n); });
        const double copy = rate([&](const char *p, size_t n) { memcpy(sink.data(), p, n); c ^= uint32_t(sink[n / 2]); });
        printf("crc32: 512-bit folding %.2f GB/s, 128-bit folding %.2f GB/s, zlib %.2f GB/s (best/zlib %.2fx); memcpy "
               "%.2f GB/s (best crc/memcpy %.2f) [%08x]\n",
               vp, fast, zlib, vp / zlib, copy, vp / copy, c);
    }

    QTemporaryDir dir;
    againstSabyenc(dir.path());
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
    std::vector<QByteArray> wires;
    for (int copy = 0; copy <= 2 * rounds; ++copy) {
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
        // The same as the server sends it, for the last item: decoded on arrival.
        wires.push_back("220 0 <x> article\r\n" + test::onTheWire(text));
        for (int item : items) {
            if (item == items.back()) continue;
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

    // On the decode thread, as the program runs it, with a timer on this one that notes the
    // longest gap between two turns of the event loop.
    DecodeQueue queue(decoder);
    auto sameAsPosted = [&](const ProcessedEntry &e) {
        QFile out(e.fileName);
        return out.open(QIODevice::ReadOnly) && QCryptographicHash::hash(out.readAll(), QCryptographicHash::Sha1) == want;
    };
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
        decodeEnd = 0;
        LoopGap gap;
        t.start();
        bool finished = false;
        QObject::connect(&queue, &DecodeQueue::finished, &queue, [&] { finished = true; }, Qt::SingleShotConnection);
        queue.enqueue(items[size_t(n)]);
        while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double all = t.nsecsElapsed() / 1e9, s = decodeEnd;
        const qint64 longest = gap.longestMs();
        best[fast] = std::min(best[fast], s);
        bestAll[fast] = std::min(bestAll[fast], all);
        const ProcessedEntry &e = processed.entry(processed.rowCount() - 1);
        const bool same = sameAsPosted(e);
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

    // Decoded on arrival: every part as the server sends it to the workers, as fast as they
    // take them; then the decode that checks the parts and names the file, which is all that
    // is left once the last article is in.
    const int item = items.back();
    DirectWriter &writer = cache.direct();
    int back = 0, written = 0;
    writer.setHandler(&writer, [&](DirectWriter::Result r) {
        ++back;
        written += r.outcome == DirectWriter::Outcome::Written;
    });
    qint64 wireBytes = 0;
    t.start();
    for (int k = 1; k <= parts; ++k) {
        wireBytes += wires[size_t(k - 1)].size();
        writer.submit(&writer, quint64(k), cache.directPaths(item), k, false, wires[size_t(k - 1)]);
    }
    while (back < parts) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double arrival = t.nsecsElapsed() / 1e9;
    bool finished = false;
    QObject::connect(&queue, &DecodeQueue::finished, &queue, [&] { finished = true; }, Qt::SingleShotConnection);
    t.start();
    queue.enqueue(item);
    while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double tail = t.nsecsElapsed() / 1e9;
    const ProcessedEntry &e = processed.entry(processed.rowCount() - 1);
    const bool same = sameAsPosted(e);
    printf("decoded on arrival (%d workers, kernel %s): %d/%d parts in %.3f s = %.2f GB/s of article bytes; from the last "
           "article to the file named %.1f ms (%s, bytes %s)\n",
           QThread::idealThreadCount(), yencKernelName(yencBestKernel()), written, parts, arrival, wireBytes / arrival / 1e9, tail * 1e3,
           qPrintable(e.status), same ? "identical" : "DIFFER");
    return 0;
}
