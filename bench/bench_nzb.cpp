// NZB import and par2 runs.
//   bench_nzb [segments]         import of an NZB file of that many segments (default
//                                100,000: about 70 GB of post), its time and memory
//   bench_nzb --par2 [MB]        verify and repair of a par2 set of that size (default 500)
//                                through the program's par2 runner and by hand, same files
#include "decode/Par2.h"
#include "download/BatchQueue.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbImport.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

using namespace vt;

namespace {

qint64 rssKB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:")) return l.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

int importBench(int segments)
{
    // Files of 100 segments of 700 KB, as index sites list a large post: par2 files last.
    NzbDocument doc;
    const int perFile = 100;
    for (int f = 0; f * perFile < segments; ++f) {
        NzbFileEntry e;
        e.poster = "poster@example.com (Poster)";
        e.date = 1700000000 + f;
        const QByteArray name = "big.post.part" + QByteArray::number(f + 1).rightJustified(3, '0') + ".rar";
        const int n = std::min(perFile, segments - f * perFile);
        e.subject = "[" + QByteArray::number(f + 1) + "/" + QByteArray::number(segments / perFile) + "] - \"" + name
                    + "\" yEnc (1/" + QByteArray::number(n) + ")";
        e.groups << "alt.binaries.test" << "alt.binaries.backup";
        for (int k = 1; k <= n; ++k)
            e.segments.push_back({716800, k, "part" + QByteArray::number(k) + "of" + QByteArray::number(n) + "." + QByteArray::number(f)
                                                  + "$abcdefghijkl@news.example.com"});
        doc.files.push_back(std::move(e));
    }
    QTemporaryDir dir;
    const QString path = dir.path() + "/big.nzb";
    if (!writeNzbFile(path, doc, nullptr)) return 1;
    const qint64 bytes = QFileInfo(path).size();
    doc = {};
    double best = 1e9;
    qint64 memory = 0;
    for (int run = 0; run < 3; ++run) {
        const qint64 before = rssKB();
        QElapsedTimer t;
        t.start();
        HeaderStore store;
        BatchQueue batch(store);
        NzbCatalog catalog;
        const NzbImport r = importNzbFile(path, store, batch, catalog);
        const double secs = double(t.nsecsElapsed()) / 1e9;
        memory = std::max(memory, rssKB() - before);
        if (!r.ok || r.segments != segments) {
            fprintf(stderr, "import failed: %s\n", qPrintable(r.message));
            return 1;
        }
        best = std::min(best, secs);
    }
    printf("NZB import: %d segments (%.1f GB of post) in %.1f MB of NZB: %.3f s (best of 3), memory +%.1f MB\n", segments,
           double(segments) * 716800 / 1e9, double(bytes) / 1e6, best, double(memory) / 1024.0);
    return 0;
}

double timeByHand(const QString &dir, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(Par2Run::program(), args);
    p.waitForFinished(-1);
    p.readAll();
    return double(t.nsecsElapsed()) / 1e9;
}

double timeRunner(Par2Run::Mode mode, const QString &index, int *updates)
{
    Par2Run run;
    QEventLoop loop;
    *updates = 0;
    QObject::connect(&run, &Par2Run::progress, [&](const QString &, double) { ++*updates; });
    QObject::connect(&run, &Par2Run::finished, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    run.start(mode, index, {}, false);
    loop.exec();
    return double(t.nsecsElapsed()) / 1e9;
}

void damage(const QString &file, int blocks, qint64 blockSize)
{
    QFile f(file);
    f.open(QIODevice::ReadWrite);
    for (int b = 0; b < blocks; ++b) {
        f.seek((f.size() / (blocks + 1)) * (b + 1) / blockSize * blockSize);
        f.write(QByteArray(int(blockSize), 'x'));
    }
}

int par2Bench(int mb)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench_par2-XXXXXX"));
    const QString d = dir.path();
    const int files = 5;
    const qint64 each = qint64(mb) * 1024 * 1024 / files;
    QStringList names;
    for (int i = 0; i < files; ++i) {
        QFile f(d + QStringLiteral("/data%1.bin").arg(i));
        f.open(QIODevice::WriteOnly);
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (qint64 w = 0; w < each; w += chunk.size()) {
            QRandomGenerator g(quint32(w + i));
            g.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
            f.write(chunk);
        }
        names << f.fileName();
    }
    const qint64 blockSize = 512 * 1024;
    QElapsedTimer t;
    t.start();
    QProcess create;
    create.setWorkingDirectory(d);
    create.start(Par2Run::program(), QStringList{"create", "-q", "-q", "-s" + QString::number(blockSize), "-r3", "set.par2"} + names);
    create.waitForFinished(-1);
    printf("par2 set of %d MB (5 files, 3%% recovery) made in %.1f s\n", mb, double(t.nsecsElapsed()) / 1e9);
    const QString index = d + "/set.par2";
    int updates = 0;
    // Each pair runs by hand first, then through the runner, on the same state of files.
    for (int round = 0; round < 2; ++round) {
        const double hand = timeByHand(d, {"verify", index});
        const double ours = timeRunner(Par2Run::Mode::Verify, index, &updates);
        printf("verify, whole set:   by hand %.2f s, through the program %.2f s: ratio %.3f (%d progress updates)\n", hand, ours,
               ours / hand, updates);
    }
    for (int round = 0; round < 2; ++round) {
        damage(names[1], 8, blockSize);
        const double hand = timeByHand(d, {"repair", "-q", index});
        damage(names[1], 8, blockSize);
        const double ours = timeRunner(Par2Run::Mode::Repair, index, &updates);
        printf("repair, 8 blocks:    by hand %.2f s, through the program %.2f s: ratio %.3f (%d progress updates)\n", hand, ours,
               ours / hand, updates);
        for (const QString &n : QDir(d).entryList({"*.1", "*.2", "*.3"})) QFile::remove(d + '/' + n);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--par2")) return par2Bench(args.size() > 2 ? args[2].toInt() : 500);
    return importBench(args.size() > 1 ? args[1].toInt() : 100000);
}
