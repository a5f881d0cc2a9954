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
};

// tlsPair: "cert:key" for the server, empty for plain.
Result run(int partBytes, qint64 totalBytes, const QString &tlsPair = {})
{
    const int count = int(totalBytes / partBytes);
    const QString group = "alt.binaries.bench";
    Result res;

    QStringList args{"--group", group + ":1:" + QString::number(count + 1), "--part-bytes", QString::number(partBytes),
                     "--yenc-only", "--prerender"};
    if (!tlsPair.isEmpty()) args << "--tls" << tlsPair;
    TestServer server(args, false);
    DownloadRig r(server.port());
    r.core.settings.chkSSL = !tlsPair.isEmpty();
    r.core.log.enableLogging = false;
    if (!r.scanGroup(group, 60000)) {
        fprintf(stderr, "scan failed\n");
        return res;
    }
    res.items = r.queue([](const HeaderItem &) { return true; });

    // The longest gap between two turns of the event loop, overall and while decoding.
    QElapsedTimer gap, t;
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
    res.wireMB = double(r.session.TCP2.bytesReceived()) / 1e6;
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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
