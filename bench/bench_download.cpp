// A 500 MB batch from the test server over loopback on the one download connection:
// receipt, cache files and decode, end to end. Also the peak memory against the article
// size, and the longest stretch without the event loop.
#include "Processor.h"
#include "DownloadRig.h"
#include "TlsCertificates.h"
#include "Synth.h"
#include "download/PartCache.h"
#include "decode/Yenc.h"
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/resource.h>

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

// This process's bytes for storage, from /proc/self/io: write_bytes (every byte written
// through the page cache) and cancelled_write_bytes (those of files deleted before they
// reached the disk).
std::pair<qint64, qint64> bytesToDisk()
{
    QFile f("/proc/self/io");
    if (!f.open(QIODevice::ReadOnly)) return {-1, -1};
    qint64 written = 0, cancelled = 0;
    for (const QByteArray &l : f.readAll().split('\n')) {
        if (l.startsWith("write_bytes:")) written = l.mid(12).trimmed().toLongLong();
        if (l.startsWith("cancelled_write_bytes:")) cancelled = l.mid(22).trimmed().toLongLong();
    }
    return {written, cancelled};
}

struct Result {
    double seconds = 0, wireMB = 0, decodedMB = 0;
    double diskMB = 0, cancelledMB = 0;    // bytes this process wrote for storage, of which cancelled
    int items = 0, good = 0;
    qint64 peakKB = 0, baseKB = 0, longestMs = 0, longestDecodeMs = 0;
    double firstPart = 0, lastPart = 0;   // seconds to the first and last part stored by the pool
    double cpu = 0;                        // seconds of CPU of this process, all threads
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// tlsPair: "cert:key" for the server, empty for plain. connections: of the download
// (more than one goes through the pool); serverArgs: more for the test server.
Result run(int partBytes, qint64 totalBytes, const QString &tlsPair = {}, int connections = 1, const QStringList &serverArgs = {},
           int limitKB = 0, bool withBackup = false, bool direct = true)
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
    r.core.settings.Download_Limit = limitKB;
    r.core.settings.chkDirectDecode = direct;
    if (withBackup) {
        // A backup server (never needed here) puts even one connection through the pool.
        ServerEntry backup;
        backup.host = "127.0.0.1";
        backup.port = QString::number(server.port());
        backup.level = 1;
        r.core.settings.servers = {backup};
    }
    r.core.applySettings();
    qint64 pooled = 0;
    QElapsedTimer t;
    QObject::connect(&r.dl.pool(), &FetchPool::partStored, [&](ItemRef item, int, const QString &, qint64 bytes, double) {
        (void)item;
        pooled += bytes;
        res.lastPart = double(t.nsecsElapsed()) / 1e9;
        if (res.firstPart == 0) res.firstPart = res.lastPart;
    });
    r.core.log.enableLogging = false;
    if (!r.scanGroup(group, 60000)) {
        fprintf(stderr, "scan failed\n");
        return res;
    }
    // Whole posts only: the last one may be cut by the end of the group.
    res.items = r.queue([](const HeaderItem &it) { return it.declaredTotal > 0 && int(it.parts.size()) == it.declaredTotal; });

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
    const double cpu0 = cpuSeconds();
    const auto disk0 = bytesToDisk();
    t.start();
    r.dl.startCheck();
    waitFor([&] { return !r.dl.running(); }, 600000);
    res.seconds = t.nsecsElapsed() / 1e9;
    res.cpu = cpuSeconds() - cpu0;
    const auto disk1 = bytesToDisk();
    res.diskMB = double(disk1.first - disk0.first) / 1e6;
    res.cancelledMB = double(disk1.second - disk0.second) / 1e6;
    res.wireMB = double(pooled) / 1e6;
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

// The same batch through Debian's nzbget (a peer) against its own test server with the
// same articles: an NZB written from a scan, nzbget in standalone mode with a throwaway
// config. Seconds to its last article ("completely downloaded") and to its finished files
// (the process ends after moving them); 0 when nzbget is not installed or failed.
struct PeerResult {
    double lastArticle = 0, finished = 0, fileMB = 0, articleMB = 0;
    int files = 0;
};

PeerResult runNzbget(int partBytes, qint64 totalBytes, int connections)
{
    PeerResult res;
    const QString nzbget = QStandardPaths::findExecutable(QStringLiteral("nzbget"));
    const QString example = QStringLiteral("/usr/share/doc/nzbget/examples/nzbget.conf.gz");
    if (nzbget.isEmpty() || !QFile::exists(example)) return res;
    const int count = int(totalBytes / partBytes);
    const QString group = "alt.binaries.bench";
    TestServer server({"--group", group + ":1:" + QString::number(count + 1), "--part-bytes", QString::number(partBytes), "--yenc-only",
                       "--prerender"},
                      false);
    DownloadRig r(server.port());
    r.core.log.enableLogging = false;
    r.keepLog = true;
    if (!r.scanGroup(group, 60000)) return res;

    QByteArray nzb = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n";
    for (int i = 1; i <= r.store.itemCount(); ++i) {
        const HeaderItem &it = r.store.item(i);
        if (it.deleted || it.declaredTotal <= 0 || int(it.parts.size()) != it.declaredTotal) continue;   // as ours: whole posts
        nzb += "<file poster=\"bench@example.com\" date=\"1790000000\" subject=\"" + QString::fromLatin1(it.subject).toHtmlEscaped().toUtf8()
               + "\">\n<groups><group>" + group.toUtf8() + "</group></groups>\n<segments>\n";
        for (size_t k = 0; k < it.parts.size(); ++k) {
            const PartRecord &p = it.parts[k];
            if (p.messageId().isEmpty()) continue;
            res.articleMB += p.byteCount / 1e6;
            QByteArray id(p.messageId().constData(), p.messageId().size());
            if (id.startsWith('<')) id = id.mid(1, id.size() - 2);
            nzb += "<segment bytes=\"" + QByteArray::number(p.byteCount) + "\" number=\"" + QByteArray::number(qulonglong(k + 1)) + "\">"
                   + id + "</segment>\n";
        }
        nzb += "</segments>\n</file>\n";
    }
    nzb += "</nzb>\n";
    const QString base = r.dir.path() + "/nzbget";
    QDir().mkpath(base + "/dst");
    writeWhole(base + "/bench.nzb", nzb, nullptr);
    QProcess unzip;
    unzip.start("gzip", {"-dc", example});
    unzip.waitForFinished(10000);
    writeWhole(base + "/nzbget.conf", unzip.readAllStandardOutput(), nullptr);

    QStringList args{"-c", base + "/nzbget.conf"};
    const QStringList opts{"MainDir=" + base, "DestDir=" + base + "/dst", "InterDir=" + base + "/inter", "NzbDir=" + base + "/nzb",
                           "QueueDir=" + base + "/queue", "TempDir=" + base + "/tmp", "ScriptDir=" + base + "/scripts",
                           "LockFile=" + base + "/nzbget.lock", "LogFile=" + base + "/nzbget.log", "WriteLog=none",
                           "ConfigTemplate=" + base + "/nzbget.conf", "OutputMode=log", "ControlPort=0",
                           "Server1.Host=127.0.0.1", "Server1.Port=" + QString::number(server.port()), "Server1.Username=",
                           "Server1.Password=", "Server1.Connections=" + QString::number(connections),
                           // Tuned for speed as its manual suggests; no par check or unpack, which ours does not do here either.
                           "ArticleCache=1000", "WriteBuffer=1024", "DirectWrite=yes", "FlushQueue=no", "ContinuePartial=no",
                           "DupeCheck=no", "HealthCheck=none", "ParCheck=manual", "Unpack=no"};
    for (const QString &o : opts) args << "-o" << o;
    args << base + "/bench.nzb";
    QProcess peer;
    peer.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    QByteArray out;
    QObject::connect(&peer, &QProcess::readyRead, [&] {
        out += peer.readAll();
        if (res.lastArticle == 0 && out.contains("completely downloaded")) res.lastArticle = t.nsecsElapsed() / 1e9;
    });
    t.start();
    peer.start(nzbget, args);
    const bool done = waitFor([&] { return peer.state() == QProcess::NotRunning; }, 600000);
    res.finished = t.nsecsElapsed() / 1e9;
    out += peer.readAll();
    if (!done || peer.exitCode() != 0 || !out.contains("Move for")) {
        fprintf(stderr, "nzbget did not finish: %s\n", out.right(2000).constData());
        peer.kill();
        return {};
    }
    QDirIterator files(base + "/dst", QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        ++res.files;
        res.fileMB += double(files.fileInfo().size()) / 1e6;
    }
    return res;
}

} // namespace

// --connections: 1 to 32 connections, each held to 4 MB/s with 20 ms latency, against
// connections x rate; then 1 and 8 without a limit (500 MB, or the MB given), each beside
// nzbget on the same batch; memory per connection. --unlimited [MB]: only the second half;
// --limited: only the first (and the speed limit).
int connectionsBench(qint64 unlimitedBytes, bool limited, bool unlimited)
{
    const int partBytes = 750'000;
    const double rate = 4'000'000;
    for (int n : {1, 2, 4, 8, 16, 32}) {
        if (!limited) break;
        const qint64 total = qint64(n) * 12'000'000;   // about three seconds a run at the full rate
        const Result r = run(partBytes, total, {}, n, {"--rate", QString::number(qint64(rate)), "--latency", "20"}, 0, false);
        const double mbps = r.wireMB / r.seconds;
        printf("%2d connection(s) at 4 MB/s, 20 ms: %.1f MB in %.2f s = %.1f MB/s, %.2f of connections x rate (first part at %.2f s, "
               "last at %.2f s); %d/%d decoded; memory peak %.1f MB over %.1f MB (%.2f x the article per connection); longest event-loop step %lld ms\n",
               n, r.wireMB, r.seconds, mbps, mbps * 1e6 / (n * rate), r.firstPart, r.lastPart, r.good,
               r.items, r.peakKB / 1e3, r.baseKB / 1e3, (r.peakKB - r.baseKB) / 1e3 / (partBytes * 1.02 / 1e6) / n, (long long)r.longestMs);
        fflush(stdout);
    }
    // The speed limit over about ten seconds, shared by 8 connections.
    for (int limitKB : {2000, 8000}) {
        if (!limited) break;
        const Result r = run(partBytes, qint64(limitKB) * 1024 * 10, {}, 8, {}, limitKB);
        printf("speed limit %d KB/s over 8 connections: %.1f MB in %.2f s = %.0f KB/s, %.3f of the limit\n", limitKB, r.wireMB, r.seconds,
               r.wireMB * 1e6 / 1024 / r.seconds, r.wireMB * 1e6 / 1024 / r.seconds / limitKB);
        fflush(stdout);
    }
    // Ours and nzbget take turns so that both see the same state of the machine; three
    // rounds, and the medians, as this machine's figures move by a third from run to run.
    std::map<int, std::vector<double>> ours, peerEnd, peerLast;
    if (!unlimited) return 0;
    std::map<int, std::vector<double>> cached, tail, cachedTail, disk, cachedDisk;
    printf("yEnc kernel: %s\n", yencKernelName(yencBestKernel()));
    for (int round = 0; round < 3; ++round)
        for (int n : {1, 8}) {
            // Decoded as the parts arrive, then through the part cache (as before).
            for (bool direct : {true, false}) {
                const Result r = run(partBytes, unlimitedBytes, {}, n, {}, 0, false, direct);
                printf("%d connection(s), no limit, %s: %.1f MB in %.2f s = %.0f MB/s end to end%s; last article to last file "
                       "%.3f s; %.2f bytes written per decoded byte (%.2f after deleted files); CPU %.2f s; %d/%d decoded; memory peak %.1f MB over %.1f MB\n",
                       n, direct ? "decoded on arrival" : "through the part cache", r.wireMB, r.seconds, r.wireMB / r.seconds,
                       r.lastPart > 0 ? qPrintable(QStringLiteral(", %1 MB/s to the last article").arg(r.wireMB / r.lastPart, 0, 'f', 0)) : "",
                       r.seconds - r.lastPart, r.decodedMB > 0 ? r.diskMB / r.decodedMB : 0.0,
                       r.decodedMB > 0 ? (r.diskMB - r.cancelledMB) / r.decodedMB : 0.0, r.cpu, r.good, r.items,
                       r.peakKB / 1e3, r.baseKB / 1e3);
                (direct ? ours : cached)[n].push_back(r.wireMB / r.seconds);
                (direct ? tail : cachedTail)[n].push_back(r.seconds - r.lastPart);
                (direct ? disk : cachedDisk)[n].push_back(r.decodedMB > 0 ? r.diskMB / r.decodedMB : 0.0);
                fflush(stdout);
            }
            const PeerResult p = runNzbget(partBytes, unlimitedBytes, n);
            if (p.finished > 0) {
                printf("  nzbget, %d connection(s): %d files, %.1f MB in %.2f s = %.0f MB/s to its finished files, %.0f MB/s to its last article\n",
                       n, p.files, p.fileMB, p.finished, p.articleMB / p.finished, p.lastArticle > 0 ? p.articleMB / p.lastArticle : 0);
                peerEnd[n].push_back(p.articleMB / p.finished);
                peerLast[n].push_back(p.lastArticle > 0 ? p.articleMB / p.lastArticle : 0);
            } else {
                printf("  nzbget: not installed or failed (scripts/setup.sh --bench installs it)\n");
            }
            fflush(stdout);
        }
    auto median = [](std::vector<double> v) {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    printf("medians, MB/s end to end: ours 1 connection %.0f, 8 connections %.0f (8/1 = %.2f); nzbget 1 connection %.0f (%.0f to its last "
           "article), 8 connections %.0f (%.0f); ours/nzbget at 8: %.2f\n",
           median(ours[1]), median(ours[8]), median(ours[8]) / median(ours[1]), median(peerEnd[1]), median(peerLast[1]), median(peerEnd[8]),
           median(peerLast[8]), median(peerEnd[8]) > 0 ? median(ours[8]) / median(peerEnd[8]) : 0.0);
    printf("medians, decoded on arrival against through the part cache: 1 connection %.0f against %.0f MB/s, 8 connections %.0f "
           "against %.0f MB/s; ours at 8 / nzbget's rate to its last article: %.2f against %.2f; last article to last file %.3f "
           "against %.3f s (8 connections); bytes written per decoded byte %.2f against %.2f\n",
           median(ours[1]), median(cached[1]), median(ours[8]), median(cached[8]),
           median(peerLast[8]) > 0 ? median(ours[8]) / median(peerLast[8]) : 0.0,
           median(peerLast[8]) > 0 ? median(cached[8]) / median(peerLast[8]) : 0.0, median(tail[8]), median(cachedTail[8]),
           median(disk[8]), median(cachedDisk[8]));
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    printProcessor();
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "--connections" || mode == "--unlimited" || mode == "--limited")
        return connectionsBench(argc > 2 ? QByteArray(argv[2]).toLongLong() * 1'000'000 : 500'000'000, mode != "--unlimited",
                                mode != "--limited");
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
