// npending.dat with 2,000,000 parts: save and load times, the file size, and the start-up
// of the program with that file until its main window answers events.
//   bench_headerfile [parts] [every n-th item in the batch] [small]
#include "engine/Engine.h"
#include "LoopGap.h"
#include "SynthOverview.h"
#include "app/Application.h"
#include "ui/Named.h"
#include "core/AppCore.h"
#include "download/BatchQueue.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include "ui/MainWindow.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace vt;

// CPU spent by the process so far: user, and in the kernel.
static std::pair<double, double> processCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {s(u.ru_utime), s(u.ru_stime)};
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int total = argc > 1 ? atoi(argv[1]) : 2'000'000;
    // Every n-th item in the batch (1: all of them, as after a large NZB or watch list).
    const int batchEvery = argc > 2 ? std::max(1, atoi(argv[2])) : 50;
    // "small": posts of 1 to 12 parts (many items), as a busy group holds them.
    const bool small = argc > 3 && QByteArray(argv[3]) == "small";
    QTemporaryDir dir;
    const QString path = dir.path() + "/npending.dat";
    {
        const std::vector<QByteArray> lines = benchOverviewLines(total, !small);
        QuietPrompter prompter;
        Engine engine(AppPaths(dir.path()), prompter);
        AppCore &core = engine.core;
        core.settings.chkAgressiveHeaderCrunch = false;
        NewsgroupTable &groups = engine.groups;
        groups.addGroup("alt.binaries.bench");
        HeaderStore &store = engine.store;
        ScanDriver &scan = engine.scan;
        for (size_t i = 0; i < lines.size(); i += 3000) feedBurst(scan, lines, i, std::min(lines.size(), i + 3000));
        BatchQueue batch(store);
        for (int i = 1; i <= store.itemCount(); i += batchEvery) batch.AddToBatch(i);
        printf("store: %d items, %lld parts, %d in the batch\n", store.itemCount(), (long long)store.totalParts(),
               batch.batchRows());

        HeaderFile file(store, core.log, prompter);
        // From the third on, each save replaces a backup: the steady state of a session.
        for (int run = 1; run <= 4; ++run) {
            QElapsedTimer t;
            const auto [user0, kernel0] = processCpu();
            t.start();
            file.SaveHeaders(path, &batch);
            const double wall = t.nsecsElapsed() / 1e9;
            const auto [user1, kernel1] = processCpu();
            // What is not CPU is the wait for the disk (the save syncs its file).
            printf("save %d: %.3f s (CPU: %.3f s user, %.3f s in the kernel; waiting for the disk %.3f s)\n", run, wall, user1 - user0,
                   kernel1 - kernel0, std::max(0.0, wall - (user1 - user0) - (kernel1 - kernel0)));
        }
        // The floor this machine sets: the same bytes written in the same chunks to a new
        // file in the same folder and synced, by plain write(); the kernel's share of a save
        // varies here from run to run as much as this does.
        for (int run = 1; run <= 3; ++run) {
            const QByteArray chunk(1 << 20, 'x');
            const qint64 total = QFileInfo(path).size();
            QElapsedTimer t;
            const auto [user0, kernel0] = processCpu();
            t.start();
            const QByteArray plain = QFile::encodeName(path + QStringLiteral(".plain") + QString::number(run % 2));
            const int fd = ::open(plain.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::unlink(plain.constData());
            for (qint64 w = 0; w < total && fd >= 0; w += chunk.size())
                if (::write(fd, chunk.constData(), size_t(std::min<qint64>(chunk.size(), total - w))) < 0) break;
            if (fd >= 0) {
                ::fdatasync(fd);
                ::close(fd);
            }
            const auto [user1, kernel1] = processCpu();
            printf("the same bytes by plain write() %d: %.3f s (%.3f s in the kernel)\n", run, t.nsecsElapsed() / 1e9, kernel1 - kernel0);
        }
        // The save as the window runs it: in steps, with the event loop turning between
        // them (a timer notes the longest gap).
        for (int run = 1; run <= 2; ++run) {
            QElapsedTimer t;
            bool finished = false, ok = false;
            QObject::connect(&file, &HeaderFile::saveFinished, &file, [&](bool good) {
                finished = true;
                ok = good;
            }, Qt::SingleShotConnection);
            LoopGap gap;
            t.start();
            file.startSave(path, &batch);
            while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const qint64 longest = gap.longestMs();
            printf("save in steps %d: %.3f s, %s, longest event-loop step %lld ms\n", run, t.nsecsElapsed() / 1e9,
                   ok ? "written" : "FAILED", (long long)longest);
        }
        printf("file size: %lld bytes (%.1f MB)\n", (long long)QFileInfo(path).size(), QFileInfo(path).size() / 1e6);
        // The batch rebuilt in an engine as the program wires it (the header list follows
        // the batch): item by item, as before, against all at once; and no batch at all.
        struct OneByOne : BatchSink {
            BatchQueue &q;
            explicit OneByOne(BatchQueue &b) : q(b) {}
            void AddToBatch(int i) override { q.AddToBatch(i); }
            void RemoveFromBatch(int i, bool d, bool f) override { q.RemoveFromBatch(i, d, f); }
            int batchRows() const override { return q.batchRows(); }
            int batchPositionOf(int i) const override { return q.batchPositionOf(i); }
            std::vector<int> batchItems() const override { return q.batchItems(); }
        };
        for (int mode = 0; mode < 3; ++mode) {
            QuietPrompter p2;
            Engine e2(AppPaths(dir.path() + "/e2"), p2);
            e2.groups.addGroup("alt.binaries.bench");
            e2.view.viewGroupKey = HeaderListModel::AllGroups;
            OneByOne slow(e2.batch);
            QElapsedTimer t;
            t.start();
            e2.headerFile.LoadHeaders(path, mode == 0 ? nullptr : mode == 1 ? static_cast<BatchSink *>(&slow) : &e2.batch);
            printf("load into the engine %s: %.3f s (%d items, batch %d)\n",
                   mode == 0 ? "without the batch" : mode == 1 ? "with the batch item by item" : "with the batch at once",
                   t.nsecsElapsed() / 1e9, e2.store.itemCount(), e2.batch.batchRows());
            fflush(stdout);
            if (mode == 1 && t.elapsed() > 120000) break;
        }
        for (int run = 1; run <= 3; ++run) {
            HeaderStore loaded;
            BatchQueue b2(loaded);
            HeaderFile reader(loaded, core.log, prompter);
            QElapsedTimer t;
            t.start();
            reader.LoadHeaders(path, &b2);
            printf("load %d: %.3f s (%d items, %lld parts, batch %d)\n", run, t.nsecsElapsed() / 1e9, loaded.itemCount(),
                   (long long)loaded.partsReadTotal, b2.batchRows());
        }
    }

    // The program itself, started in a folder holding that file.
    {
        QFile ini(dir.path() + "/VANTREL.INI");
        ini.open(QIODevice::WriteOnly);
        ini.write("[Options]\r\nNews_Host=news.example\r\nDownload_Path=" + dir.path().toUtf8() + "/dl/\r\n");
        ini.close();
        QuietPrompter prompter;
        QElapsedTimer t;
        t.start();
        Application app(AppPaths(dir.path()), QString(), &prompter);
        app.endProcess = [] {};
        app.start();
        const qint64 shown = t.nsecsElapsed();
        qint64 answered = 0;
        QTimer::singleShot(0, [&] {
            answered = t.nsecsElapsed();
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        printf("start-up: main window shown after %.3f s, answering events after %.3f s (%s, %d items)\n", shown / 1e9,
               answered / 1e9, qPrintable(child<QLabel>(*app.mainWindow(), "lblMCount")->text()), app.store().itemCount());
    }
    return 0;
}
