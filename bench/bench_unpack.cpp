// Unpacking through the program against the same library and tools run by hand, on the
// same files, in turn (the machine is noisy: compare the ratios of one run).
//   bench_unpack --one ARCHIVE FOLDER   one archive through the program, timed
//   bench_unpack [MB]   default 2048: one stored 7z read by libarchive (bsdtar by hand),
//                       and the same split in 200 MB volumes (7zz by hand); then the
//                       split set as a download's post-processing unpacks it (its thread,
//                       progress on the status line), with the event loop's longest step
#include "LoopGap.h"
#include "Processor.h"
#include "decode/Unpack.h"
#include "engine/Engine.h"
#include <QEventLoop>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>
#include <dlfcn.h>
#include <unistd.h>

using namespace vt;

namespace {

double timed(const std::function<bool()> &work)
{
    QElapsedTimer t;
    t.start();
    if (!work()) {
        printf("failed\n");
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e9;
}

bool run(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitCode() == 0;
}

// The time until the files are on disk, for both sides alike.
bool synced(bool ok)
{
    ::sync();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // --one ARCHIVE FOLDER: that archive unpacked once through the program, timed (to run
    // beside a tool by hand, or under strace).
    if (argc > 3 && QByteArray(argv[1]) == "--one") {
        const QString archive = QString::fromLocal8Bit(argv[2]);
        const std::vector<ArchiveSet> sets = findArchives({archive});
        if (sets.empty()) return 1;
        const double s = timed([&] { return synced(unpackArchive(sets.front(), QString::fromLocal8Bit(argv[3])).ok); });
        printf("%s: %.2f s\n", argv[2], s);
        return s > 0 ? 0 : 1;
    }
    const qint64 mb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2048;
    printProcessor();
    QTemporaryDir d;
    const QString src = d.path() + QStringLiteral("/src");
    QDir().mkpath(src);
    {
        // Incompressible data, as a release's video is.
        QFile f(src + QStringLiteral("/movie.mkv"));
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 i = 0; i < mb; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            f.write(block);
        }
    }
    if (!run(src, QStringLiteral("7zz"), {QStringLiteral("a"), QStringLiteral("-bd"), QStringLiteral("-mx=0"), QStringLiteral("../one.7z"),
                                          QStringLiteral("movie.mkv")})
        || !run(src, QStringLiteral("7zz"), {QStringLiteral("a"), QStringLiteral("-bd"), QStringLiteral("-mx=0"), QStringLiteral("-v200m"),
                                             QStringLiteral("../split.7z"), QStringLiteral("movie.mkv")})) {
        printf("7zz could not make the archives (is 7zip installed?)\n");
        return 1;
    }
    QFile::remove(src + QStringLiteral("/movie.mkv"));
    QStringList parts;
    for (const QString &f : QDir(d.path()).entryList({QStringLiteral("split.7z.*")}, QDir::Files, QDir::Name)) parts << d.path() + u'/' + f;
    printf("archives: %lld MB stored 7z, and the same in %lld volumes; %s\n", mb, qint64(parts.size()), qPrintable(unpackLibrary()));
    // Which crc32 the library's checks run on (libuu has a slow one of the same name).
    Dl_info where{};
    if (void *crc = dlsym(RTLD_DEFAULT, "crc32"); crc && dladdr(crc, &where)) printf("crc32 from: %s\n", where.dli_fname);
    // Each run starts with nothing of the last one's waiting to reach the disk: otherwise
    // the second pays for the first's writing.
    auto clean = [&](const QString &out) {
        QDir(out).removeRecursively();
        ::sync();
    };
    std::vector<double> oneRatios, splitRatios;
    const QString out = d.path() + QStringLiteral("/out");
    // Both sides on the same archive, each into an empty folder; which goes first alternates
    // by round, so that the one after a clean pays for it alike. Returns ours over theirs.
    auto race = [&](bool handFirst, const std::function<bool()> &hand, const std::function<bool()> &ours, double *handSecs, double *ourSecs) {
        for (int side = 0; side < 2; ++side) {
            clean(out);
            QDir().mkpath(out);
            if ((side == 0) == handFirst) *handSecs = timed([&] { return synced(hand()); });
            else *ourSecs = timed([&] { return synced(ours()); });
        }
        clean(out);
        return *ourSecs / *handSecs;
    };
    for (int round = 0; round < 4; ++round) {
        double hand = 0, ours = 0;
        oneRatios.push_back(race(
            round % 2 == 0, [&] { return run(out, QStringLiteral("bsdtar"), {QStringLiteral("-xf"), d.path() + QStringLiteral("/one.7z")}); },
            [&] { return unpackArchive({ArchiveKind::SevenZip, {d.path() + QStringLiteral("/one.7z")}}, out).ok; }, &hand, &ours));
        printf("one volume:  bsdtar by hand %.2f s, through the program %.2f s: ratio %.3f (%.0f MB/s)\n", hand, ours, ours / hand,
               double(mb) / ours);
        splitRatios.push_back(race(
            round % 2 == 1, [&] { return run(out, QStringLiteral("7zz"), {QStringLiteral("x"), QStringLiteral("-bd"), QStringLiteral("-y"), parts.front()}); },
            [&] { return unpackArchive({ArchiveKind::SevenZip, parts}, out).ok; }, &hand, &ours));
        printf("%lld volumes: 7zz by hand %.2f s, through the program %.2f s: ratio %.3f (%.0f MB/s)\n", qint64(parts.size()), hand, ours,
               ours / hand, double(mb) / ours);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    printf("median ratios: one volume %.3f, %lld volumes %.3f\n", median(oneRatios), qint64(parts.size()), median(splitRatios));
    // As a download's end hands the volumes on: unpacked on the post-processing thread
    // while the event loop goes on.
    {
        QuietPrompter prompter;
        QTemporaryDir state;
        Engine engine(AppPaths(state.path()), prompter);
        engine.core.settings.chkPar2Verify = true;
        engine.core.settings.chkUnpackKeepArchives = true;
        const QString out = d.path() + QStringLiteral("/movie.mkv");
        QFile::remove(out);
        ::sync();
        QEventLoop loop;
        QString row;
        QObject::connect(&engine.download.par2(), &Par2Sets::setFinished, &loop, [&](const QString &, const QString &status, bool) {
            row = status;
            loop.quit();
        });
        QElapsedTimer t;
        t.start();
        LoopGap gap;
        for (const QString &v : parts) engine.download.par2().fileDecoded(v);
        engine.download.par2().downloadEnded();
        loop.exec();
        ::sync();
        const double post = double(t.nsecsElapsed()) / 1e9;
        printf("post-processing: %s in %.2f s (%.0f MB/s); the event loop's longest step meanwhile %lld ms\n", qPrintable(row), post,
               double(mb) / post, gap.longestMs());
        QFile::remove(out);
    }
    return 0;
}
