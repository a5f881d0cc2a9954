// The header store's heap, measured (glibc's mallinfo2: every byte the program holds from
// malloc, in small blocks and large ones), per part, with the group's headers filed as the
// scan files them: at 2,000,000 and 10,000,000 parts by default. The lines come in chunks
// of a million, each made and dropped before the next, so only the store is counted.
//   bench_store [small] [parts...]     small: posts of 1 to 12 parts, a busy group's mix;
//                                      else as bench_headerfile's (half 1,000-part posts)
#include "Processor.h"
#include "SynthOverview.h"
#include "core/AppCore.h"
#include "engine/Engine.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>

using namespace vt;

static size_t heapBytes()
{
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    printProcessor();
    std::vector<int> counts;
    const bool small = argc > 1 && QByteArray(argv[1]) == "small";
    for (int i = small ? 2 : 1; i < argc; ++i) counts.push_back(atoi(argv[i]));
    if (counts.empty()) counts = {2'000'000, 10'000'000};
    for (const int total : counts) {
        QTemporaryDir dir;
        QuietPrompter prompter;
        Engine engine(AppPaths(dir.path()), prompter);
        engine.groups.addGroup("alt.binaries.bench");
        const size_t before = heapBytes();
        qint64 crunchNs = 0;
        constexpr int kChunk = 1'000'000;
        for (int first = 1, chunk = 0; first <= total; first += kChunk, ++chunk) {
            // A chunk's own seed: chunks do not repeat each other's posts.
            const std::vector<QByteArray> lines = benchOverviewLines(std::min(kChunk, total - first + 1), !small, first, 3 + uint64_t(chunk));
            QElapsedTimer t;
            t.start();
            engine.scan.groupFirst = 1;
            for (size_t i = 0; i < lines.size(); i += 3000) feedBurst(engine.scan, lines, i, std::min(lines.size(), i + 3000));
            crunchNs += t.nsecsElapsed();
        }
        const size_t after = heapBytes();
        const qint64 parts = engine.store.totalParts();
        printf("%s posts, %lld parts in %d items: store heap %.1f MB = %.1f bytes a part; crunched at %.0f headers/s\n", small ? "small" : "large", (long long)parts,
               engine.store.itemCount(), double(after - before) / 1e6, double(after - before) / double(std::max<qint64>(parts, 1)),
               double(parts) / (double(crunchNs) / 1e9));
        fflush(stdout);
    }
    return 0;
}
