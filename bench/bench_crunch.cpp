// In-process crunch of realistic overview bursts into the store: headers per second and
// the cost per header as the store grows to 2,000,000 parts.
#include "engine/Engine.h"
#include "SynthOverview.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include "scan/ScanDriver.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <deque>
#include <thread>
#include <sys/resource.h>

using namespace vt;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? atoi(argv[1]) : 2'000'000;
    const bool aggressive = !(argc > 2 && QByteArray(argv[2]) == "normal");
    const std::vector<QByteArray> lines = benchOverviewLines(total);

    QTemporaryDir dir;
    QuietPrompter prompter;
    Engine engine(AppPaths(dir.path()), prompter);
    AppCore &core = engine.core;
    core.settings.chkAgressiveHeaderCrunch = aggressive;
    core.settings.sldXOVER = 3000;
    NewsgroupTable &groups = engine.groups;
    groups.addGroup("alt.binaries.bench");
    HeaderStore &store = engine.store;
    ScanDriver &scan = engine.scan;

    const int burst = 3000;
    const int marks[] = {100'000, 1'000'000, 2'000'000};
    rusage r0{};
    getrusage(RUSAGE_SELF, &r0);
    QElapsedTimer all, window;
    all.start();
    window.start();
    qint64 windowStart = 0;
    size_t markIdx = 0;
    for (size_t i = 0; i < lines.size();) {
        const size_t end = std::min(lines.size(), i + size_t(burst));
        feedBurst(scan, lines, i, end);
        i = end;
        const qint64 parts = store.totalParts();
        while (markIdx < 3 && parts >= marks[markIdx]) {
            const double ns = double(window.nsecsElapsed()) / double(qint64(i) - windowStart);
            printf("at %7lld parts: %.0f ns/header over the last %lld headers\n", (long long)parts, ns,
                   (long long)(qint64(i) - windowStart));
            windowStart = qint64(i);
            window.restart();
            ++markIdx;
        }
    }
    const double secs = all.nsecsElapsed() / 1e9;
    rusage r1{};
    getrusage(RUSAGE_SELF, &r1);
    auto tv = [](const timeval &a, const timeval &b) { return double(b.tv_sec - a.tv_sec) + double(b.tv_usec - a.tv_usec) / 1e6; };
    printf("cpu during crunch: user %.2f s, system %.2f s, minor page faults %ld\n", tv(r0.ru_utime, r1.ru_utime),
           tv(r0.ru_stime, r1.ru_stime), r1.ru_minflt - r0.ru_minflt);
    printf("crunch (%s yield): %zu headers into %d items / %lld parts in %.2f s = %.0f headers/s\n",
           aggressive ? "aggressive" : "normal", lines.size(), store.itemCount(), (long long)store.totalParts(), secs,
           double(lines.size()) / secs);

    // The same lines as a many-connection scan crunches them: each burst parsed on a
    // parser thread while the one before it is filed here, into a store of its own.
    Engine second(AppPaths(dir.path() + QStringLiteral("/two")), prompter);
    second.groups.addGroup("alt.binaries.bench");
    ScanDriver &scan2 = second.scan;
    scan2.currentGroupKey = 1;
    QObject owner;
    BurstParser parser(&owner);
    std::deque<std::shared_ptr<ParsedBurst>> ahead;
    QElapsedTimer two;
    qint64 waited = 0;   // the filing waiting for the parser
    two.start();
    for (size_t i = 0; i < lines.size() || !ahead.empty();) {
        while (ahead.size() < 4 && i < lines.size()) {
            QByteArray b = "224 overview follows\r\n";
            const size_t end = std::min(lines.size(), i + size_t(burst));
            for (; i < end; ++i) b += lines[i];
            b += ".\r\n";
            ahead.push_back(parser.submit(b, [](ParsedBurst *) {}));
        }
        QElapsedTimer w;
        w.start();
        while (!ahead.front()->done) std::this_thread::sleep_for(std::chrono::microseconds(20));
        waited += w.nsecsElapsed();
        for (const ParsedHeader &h : ahead.front()->lines) scan2.fileHeader(h);
        parser.recycle(std::move(ahead.front()));
        ahead.pop_front();
    }
    const double twoSecs = two.nsecsElapsed() / 1e9;
    // The parser's own CPU time, from its threads' entries under /proc.
    double parseCpu = 0;
    for (const QString &t : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/") + t + QStringLiteral("/comm")), stat(QStringLiteral("/proc/self/task/") + t + QStringLiteral("/stat"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "vt-parse" || !stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray s = stat.readAll();
        const QList<QByteArray> v = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (v.size() > 12) parseCpu += double(v[11].toLongLong() + v[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    printf("the parser's threads spent %.2f s of CPU\n", parseCpu);
    printf("crunch with the parser's %d thread(s) (bursts parsed beside the filing, as a many-connection scan): %zu headers into %d items / %lld parts in "
           "%.2f s = %.0f headers/s; the filing waited for the parser %.2f s\n",
           BurstParser::threadCount(), lines.size(), second.store.itemCount(), (long long)second.store.totalParts(), twoSecs, double(lines.size()) / twoSecs, waited / 1e9);
    return 0;
}
