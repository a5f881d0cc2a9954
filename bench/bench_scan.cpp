// End-to-end scan of one large group from the test server against a plain client in the
// same program that fetches the same XOVER ranges and only reads them. With --latency the
// server answers each command after a delay, as a far server does; the scan keeps the
// next request in flight while it crunches, so it should lose almost nothing to it.
//
//   bench_scan [headers] [burst]     defaults 200000 and 3000
//   bench_scan --link[-stored] [headers [connections...]]   a provider's link (4 MB/s a connection,
//                                    20 ms away), over 1, 4, 8 and 16 scan connections: plain
//                                    and compressed headers, against the links' bound (their
//                                    rate over the bytes a header takes on the wire); stored:
//                                    the server compresses at start-up, not while it sends
//                                    (BENCH_KINDS=plain,deflate,gzip,xzver picks; BENCH_VIEW=1
//                                    keeps the header list following the scan)
//   bench_scan --server HOST:PORT GROUP [connections...]   a real server's group, plain and
//                                    compressed, over each number of scan connections (1)
#include "engine/Engine.h"
#include "LoopGap.h"
#include "Processor.h"
#include "TestSupport.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nntp/Connection.h"
#include "nntp/Session.h"
#include "scan/ScanDriver.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace vt;

namespace {
const QString kGroup = QStringLiteral("alt.binaries.bench");

// Seconds for the whole scan, from connecting to "Scan Complete.", and the longest gap
// between two turns of the event loop (a 1 ms timer notes it).
double scanSeconds(quint16 port, int burst, qint64 *headers, qint64 *longestMs, bool compress = false, qint64 *wire = nullptr,
                   const QString &host = QStringLiteral("127.0.0.1"), const QString &group = kGroup, QStringList *said = nullptr,
                   int connections = 1, qint64 *filed = nullptr)
{
    QTemporaryDir dir;
    QuietPrompter prompter;
    Engine engine(AppPaths(dir.path()), prompter);
    AppCore &core = engine.core;
    core.settings.News_Host = host;
    core.settings.News_Port = QString::number(port);
    core.settings.sldXOVER = burst;
    core.settings.chkCompress = compress;
    core.settings.Scan_Connections = connections;
    core.settings.News_Connections = connections;
    core.settings.chkModeReader = host != QStringLiteral("127.0.0.1") || group != kGroup;
    Session &session = engine.session;
    NewsgroupTable &groups = engine.groups;
    groups.addGroup(group);
    // The scan alone (bench_view and bench_window measure the list), or with the list
    // following every burst as the window shows it (BENCH_VIEW=1).
    engine.view.viewGroupKey = qEnvironmentVariableIntValue("BENCH_VIEW") ? HeaderListModel::AllGroups : HeaderListModel::DisplayOff;
    HeaderStore &store = engine.store;
    bool done = false;
    QObject::connect(&core.log, &OpsLog::statusChanged, [&](const QString &m) {
        done |= m.startsWith("Scan Complete.");
        if (said && (m.contains("ompression") || m.startsWith("Scan Complete."))) *said << m;
    });
    QElapsedTimer t;
    LoopGap gap;
    t.start();
    session.connectForScan();
    test::waitFor([&] { return done; }, 600000);
    const double s = t.nsecsElapsed() / 1e9;
    *longestMs = std::max(*longestMs, gap.longestMs());
    *headers = store.partsReadTotal;
    if (filed) *filed = store.totalParts();
    if (wire) *wire = session.TCP1.bytesReceived() + engine.scan.pool().bytesReceived();
    return done ? s : -1;
}

// The plain client: GROUP, then the same ranges one after the other, each read whole.
double plainSeconds(quint16 port, int burst, int first, int last, qint64 *lines)
{
    Connection c;
    int next = first;
    bool done = false;
    *lines = 0;
    auto request = [&] {
        if (next > last) {
            done = true;
            return;
        }
        c.sendLine("XOVER " + QByteArray::number(next) + '-' + QByteArray::number(next + burst - 1));
        next += burst;
    };
    QObject::connect(&c, &Connection::replyReceived, [&](const Reply &r) {
        if (r.command.isEmpty()) c.sendLine("GROUP " + kGroup.toLatin1());
        else if (r.code == 211) request();
        else if (r.multiline) {
            *lines += r.data.count('\n') - 2;
            request();
        }
    });
    QElapsedTimer t;
    t.start();
    c.connectTo("127.0.0.1", port);
    test::waitFor([&] { return done; }, 600000);
    return done ? t.nsecsElapsed() / 1e9 : -1;
}
} // namespace

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long minorFaults(int who = RUSAGE_SELF)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_minflt;
}

// What a process has spent so far (user and system), from /proc.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> v = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return v.size() > 12 ? double(v[11].toLongLong() + v[12].toLongLong()) / double(sysconf(_SC_CLK_TCK)) : 0;
}

// Plain and compressed over a provider's link, over 1 to 16 connections: headers a second,
// against what the links can carry at the bytes each header takes on the wire.
// stored: the server compresses its overviews at start-up, as a provider's own hardware
// would, so that these two cores measure the reader alone.
int linkBench(int total, const std::vector<int> &counts, bool stored)
{
    const double rate = 4'000'000;
    const std::pair<const char *, const char *> kinds[] = {
        {"plain XOVER", nullptr}, {"COMPRESS DEFLATE", "--compress"}, {"XFEATURE COMPRESS GZIP", "--xfeature-gzip"}, {"XZVER", "--xzver"}};
    // BENCH_KINDS=plain,deflate,gzip,xzver: only those.
    const QByteArray only = qgetenv("BENCH_KINDS");
    const char *keys[] = {"plain", "deflate", "gzip", "xzver"};
    for (const int n : counts)
        for (size_t k = 0; k < std::size(kinds); ++k) {
            const auto &[name, offer] = kinds[k];
            if (!only.isEmpty() && !only.split(',').contains(keys[k])) continue;
            // The server keeps only the overviews: its memory must not crowd the reader's on
            // this one machine.
            QStringList args{"--group", kGroup + ":1:" + QString::number(total), "--rate", QString::number(rate), "--latency", "20", "--overview-only"};
            if (offer) args << offer;
            if (offer && stored) args << "--precompress";
            qint64 headers = 0, longest = 0, wire = 0, filed = 0;
            MeteredApp::takeLongestMs();
            double s = 0, client = 0, serverCpu = 0;
            long faults = 0, mainFaults = 0;
            double mainCpu = 0;
            {
                test::TestServer server(args, false, 600000);
                // The server runs on the same two cores: what each side spent during the
                // scan says which is the limit.
                const double clientBefore = cpuSeconds(RUSAGE_SELF), serverBefore = processCpuSeconds(server.pid());
                const long faultsBefore = minorFaults(), mainFaultsBefore = minorFaults(RUSAGE_THREAD);
                const double mainBefore = cpuSeconds(RUSAGE_THREAD);
                s = scanSeconds(server.port(), 3000, &headers, &longest, offer != nullptr, &wire, QStringLiteral("127.0.0.1"), kGroup, nullptr, n, &filed);
                client = cpuSeconds(RUSAGE_SELF) - clientBefore;
                faults = minorFaults() - faultsBefore;
                // The filing's thread is the scan's limit: what it spent, and the pages it
                // faulted in itself rather than found warmed.
                mainCpu = cpuSeconds(RUSAGE_THREAD) - mainBefore;
                mainFaults = minorFaults(RUSAGE_THREAD) - mainFaultsBefore;
                serverCpu = processCpuSeconds(server.pid()) - serverBefore;
            }
            const double perHeader = double(wire) / double(std::max<qint64>(headers, 1));
            QByteArray stepWhat;
            const double step = MeteredApp::takeLongestMs(&stepWhat);
            const double bound = n * rate / perHeader;
            printf("%2d connection(s), %s%s: %lld headers (%lld parts filed) in %.2f s = %.0f headers/s; %.1f bytes a header on the wire; link bound %.0f "
                   "headers/s; ratio %.3f; longest gap between event-loop turns %lld ms, longest step %.1f ms of CPU (%s); CPU: client %.2f s (%.0f headers a client CPU second), "
                   "server %.2f s; client page faults %ld; the filing's thread %.2f s of CPU and %ld page faults\n",
                   n, name, offer && stored ? " (stored)" : "", (long long)headers, (long long)filed, s, double(headers) / s, perHeader, bound, double(headers) / s / bound, (long long)longest, step, stepWhat.constData(), client,
                   double(headers) / std::max(client, 1e-9), serverCpu, faults, mainCpu, mainFaults);
            fflush(stdout);
        }
    return 0;
}

// A real server's group, scanned plain and then compressed: the bytes on the wire.
int serverBench(const QString &hostPort, const QString &group, const std::vector<int> &connections)
{
    const QString host = hostPort.section(u':', 0, 0);
    const quint16 port = quint16(hostPort.section(u':', 1, 1).toUInt());
    for (const int n : connections)
        for (const bool compress : {false, true}) {
            qint64 headers = 0, longest = 0, wire = 0;
            QStringList said;
            const double s = scanSeconds(port, 3000, &headers, &longest, compress, &wire, host, group, &said, n);
            printf("%s %s, %d connection(s), %s: %lld headers in %.2f s = %.0f headers/s, %lld bytes on the wire (%.0f a header), "
                   "longest event-loop step %lld ms\n",
                   qPrintable(hostPort), qPrintable(group), n, compress ? "asked for compression" : "plain", (long long)headers, s,
                   double(headers) / s, (long long)wire, double(wire) / double(std::max<qint64>(headers, 1)), (long long)longest);
            for (const QString &m : said) printf("  log: %s\n", qPrintable(m));
        }
    return 0;
}

int main(int argc, char **argv)
{
    MeteredApp app(argc, argv);
    printProcessor();
    if (argc > 3 && QByteArray(argv[1]) == "--server") {
        std::vector<int> counts;
        for (int i = 4; i < argc; ++i) counts.push_back(atoi(argv[i]));
        if (counts.empty()) counts = {1};
        return serverBench(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), counts);
    }
    if (argc > 1 && QByteArray(argv[1]).startsWith("--link")) {
        std::vector<int> counts;
        for (int i = 3; i < argc; ++i) counts.push_back(atoi(argv[i]));
        if (counts.empty()) counts = {1, 4, 8, 16};
        return linkBench(argc > 2 ? atoi(argv[2]) : 400'000, counts, QByteArray(argv[1]) == "--link-stored");
    }
    const int total = argc > 1 ? atoi(argv[1]) : 200'000;
    const int burst = argc > 2 ? atoi(argv[2]) : 3000;
    for (const int latency : {20, 0}) {
        QStringList args{"--group", kGroup + ":1:" + QString::number(total)};
        if (latency) args << "--latency" << QString::number(latency);
        test::TestServer server(args, false);
        double bestScan = 1e9, bestPlain = 1e9;
        qint64 headers = 0, lines = 0, longest = 0;
        for (int run = 0; run < 3; ++run) {
            const double p = plainSeconds(server.port(), burst, 1, total, &lines);
            const double s = scanSeconds(server.port(), burst, &headers, &longest);
            if (p > 0) bestPlain = std::min(bestPlain, p);
            if (s > 0) bestScan = std::min(bestScan, s);
        }
        printf("latency %2d ms, bursts of %d: scan %lld headers in %.3f s = %.0f headers/s; plain client %lld lines in %.3f s = %.0f "
               "lines/s; ratio %.3f; longest event-loop step %lld ms\n",
               latency, burst, (long long)headers, bestScan, double(headers) / bestScan, (long long)lines, bestPlain,
               double(lines) / bestPlain, (double(headers) / bestScan) / (double(lines) / bestPlain), (long long)longest);
    }
    return 0;
}
