// A 500 MB batch from the test server over loopback on the one download connection:
// receipt, cache files and decode, end to end. Also the peak memory against the article
// size, and the longest stretch without the event loop.
#include "DownloadRig.h"
#include "TlsCertificates.h"
#include "Synth.h"
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

using namespace vt;
using namespace vt::test;

namespace {

qint64 statusKB(const char *key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (l.startsWith(key)) return l.mid(int(strlen(key))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Drops the peak so that each run measures its own.
void resetPeak()
{
    QFile f("/proc/self/clear_refs");
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

struct Result {
    double seconds = 0, wireMB = 0, decodedMB = 0;
    int items = 0, good = 0;
    qint64 peakKB = 0, baseKB = 0, longestMs = 0, longestDecodeMs = 0;
    double firstPart = 0, lastPart = 0;   // seconds to the first and last part stored by the pool
};

// tlsPair: "cert:key" for the server, empty for plain. connections: of the download
// (more than one goes through the pool); serverArgs: more for the test server.
Result run(int partBytes, qint64 totalBytes, const QString &tlsPair = {}, int connections = 1, const QStringList &serverArgs = {})
{
    const int count = int(totalBytes / partBytes);
    const QString group = "alt.binaries.bench";
    Result res;

    QStringList args{"--group", group + ":1:" + QString::number(count + 1), "--part-bytes", QString::number(partBytes),
                     "--yenc-only", "--prerender"};
    if (!tlsPair.isEmpty()) args << "--tls" << tlsPair;
    args << serverArgs;
    TestServer server(args, false);
    DownloadRig r(server.port());
    r.core.settings.chkSSL = !tlsPair.isEmpty();
    r.core.settings.News_Connections = connections;
    qint64 pooled = 0;
    QElapsedTimer t;
    QObject::connect(&r.dl.pool(), &FetchPool::partStored, [&](int item, int part, const QString &) {
        pooled += r.store.item(item).parts[size_t(part - 1)].byteCount;
        res.lastPart = double(t.nsecsElapsed()) / 1e9;
        if (res.firstPart == 0) res.firstPart = res.lastPart;
    });
    r.core.log.enableLogging = false;
    if (!r.scanGroup(group, 60000)) {
        fprintf(stderr, "scan failed\n");
        return res;
    }
    res.items = r.queue([](const HeaderItem &) { return true; });

    // The longest gap between two turns of the event loop, overall and while decoding.
    QElapsedTimer gap;
    bool decoding = false;
    QObject::connect(&r.core.log, &OpsLog::statusChanged, [&](const QString &m) {
        if (m.startsWith("yEnc Internal Decoder: yEnc Encoding detected")) decoding = true;
        else if (m.contains(" Decode successful... ") || m.contains(" Decode error: ")) decoding = false;
    });
    r.keepLog = false;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 e = gap.restart();
        res.longestMs = std::max(res.longestMs, e);
        if (decoding) res.longestDecodeMs = std::max(res.longestDecodeMs, e);
    });
    resetPeak();
    res.baseKB = statusKB("VmRSS:");
    tick.start();
    gap.start();
    t.start();
    r.dl.startCheck();
    waitFor([&] { return r.session.batchRunning == 0 && r.session.downloadStage == DownloadStage::Idle; }, 600000);
    res.seconds = t.nsecsElapsed() / 1e9;
    res.wireMB = double(r.session.TCP2.bytesReceived() + pooled) / 1e6;
    tick.stop();
    res.peakKB = statusKB("VmHWM:");
    for (const ProcessedEntry &e : r.processed.entries())
        if (e.ok) {
            ++res.good;
            res.decodedMB += double(QFileInfo(e.fileName).size()) / 1e6;
        } else {
            fprintf(stderr, "not decoded: %s: %s\n", qPrintable(e.fileName), qPrintable(e.status));
        }
    return res;
}

} // namespace

// --connections: 1 to 32 connections, each held to 4 MB/s with 20 ms latency, against
// connections x rate; then 1 and 8 without a limit; memory per connection.
int connectionsBench()
{
    const int partBytes = 750'000;
    const double rate = 4'000'000;
    for (int n : {1, 2, 4, 8, 16, 32}) {
        const qint64 total = qint64(n) * 12'000'000;   // about three seconds a run at the full rate
        const Result r = run(partBytes, total, {}, n, {"--rate", QString::number(qint64(rate)), "--latency", "20"});
        const double mbps = r.wireMB / r.seconds;
        printf("%2d connection(s) at 4 MB/s, 20 ms: %.1f MB in %.2f s = %.1f MB/s, %.2f of connections x rate (first part at %.2f s, "
               "last at %.2f s); %d/%d decoded; memory peak %.1f MB over %.1f MB (%.2f x the article per connection); longest event-loop step %lld ms\n",
               n, r.wireMB, r.seconds, mbps, mbps * 1e6 / (n * rate), r.firstPart, r.lastPart, r.good, r.items, r.peakKB / 1e3, r.baseKB / 1e3,
               (r.peakKB - r.baseKB) / 1e3 / (partBytes * 1.02 / 1e6) / n, (long long)r.longestMs);
        fflush(stdout);
    }
    for (int n : {1, 8, 1, 8}) {
        const Result r = run(partBytes, 500'000'000, {}, n);
        printf("%d connection(s), no limit: %.1f MB in %.2f s = %.0f MB/s end to end%s; %d/%d decoded; memory peak %.1f MB over %.1f MB\n", n,
               r.wireMB, r.seconds, r.wireMB / r.seconds,
               r.lastPart > 0 ? qPrintable(QStringLiteral(", %1 MB/s to the last article").arg(r.wireMB / r.lastPart, 0, 'f', 0)) : "",
               r.good, r.items, r.peakKB / 1e3, r.baseKB / 1e3);
        fflush(stdout);
    }
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--connections") return connectionsBench();
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() : 500'000'000;
    std::vector<int> sizes{250'000, 750'000, 2'250'000};
    if (argc > 2) sizes = {QByteArray(argv[2]).toInt()};
    // Over TLS the same batch, with a certificate the bench trusts; the ratio is the figure.
    TlsCertificates certs;
    QStringList modes{QString()};
    if (certs.ok) {
        certs.trustCa();
        modes << certs.signedPair();
    } else {
        fprintf(stderr, "openssl could not make certificates: plain only\n");
    }
    for (int partBytes : sizes)
        for (const QString &tls : modes) {
        const Result r = run(partBytes, total, tls);
        printf("%s articles of %.2f MB: %d items (%d decoded), %.1f MB on the wire, %.1f MB decoded in %.2f s = %.0f MB/s end to end; "
               "memory %.1f MB before, peak %.1f MB (%.1f x the article); longest event-loop step %lld ms, during decodes %lld ms\n",
               tls.isEmpty() ? "plain" : "TLS  ", partBytes / 1e6, r.items, r.good, r.wireMB, r.decodedMB, r.seconds, r.wireMB / r.seconds, r.baseKB / 1e3,
               r.peakKB / 1e3, (r.peakKB - r.baseKB) / 1e3 / (partBytes * 1.02 / 1e6), (long long)r.longestMs,
               (long long)r.longestDecodeMs);
        fflush(stdout);
    }
    return 0;
}
