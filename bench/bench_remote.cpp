// The remote control's figures.
//   bench_remote           the API's queue answer over HTTP with 10,000 items in the batch
//                          (100 jobs of 100 files, and 1,000 of 10), then the program's memory
//                          and CPU without a window and with one, idle and while it downloads
//                          over 8 connections from the test server, in turns.
#include "EngineRig.h"
#include "Processor.h"
#include "Synth.h"
#include "Posts.h"
#include "TestSupport.h"
#include "nzb/NzbFile.h"
#include "remote/Remote.h"
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <QThread>
#include <csignal>
#include <unistd.h>

using namespace vt;

namespace {

QByteArray nzbBytes(int files, int job)
{
    NzbDocument doc;
    for (int f = 0; f < files; ++f) {
        NzbFileEntry e;
        e.poster = "poster@example.com";
        e.date = 1700000000;
        const QByteArray name = "job" + QByteArray::number(job) + ".part" + QByteArray::number(f + 1).rightJustified(3, '0') + ".rar";
        e.subject = "\"" + name + "\" yEnc (1/20)";
        e.groups << "alt.binaries.test";
        for (int k = 1; k <= 20; ++k)
            e.segments.push_back({716800, k, "p" + QByteArray::number(k) + "f" + QByteArray::number(f) + "j" + QByteArray::number(job) + "@bench"});
        doc.files.push_back(std::move(e));
    }
    QTemporaryDir dir;
    writeNzbFile(dir.path() + "/x.nzb", doc, nullptr);
    return test::readFile(dir.path() + "/x.nzb");
}

// One GET over a fresh connection, answer read whole: milliseconds.
double httpMs(quint16 port, const QByteArray &target, qsizetype *bytes)
{
    QTcpSocket s;
    QByteArray got;
    QElapsedTimer t;
    t.start();
    QObject::connect(&s, &QTcpSocket::readyRead, [&] { got += s.readAll(); });
    s.connectToHost("127.0.0.1", port);
    s.write("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
    test::waitFor([&] {
        const qsizetype end = got.indexOf("\r\n\r\n");
        const qsizetype at = got.indexOf("Content-Length: ");
        return end > 0 && at > 0 && got.size() >= end + 4 + got.mid(at + 16, got.indexOf('\r', at) - at - 16).toLongLong();
    }, 60000);
    *bytes = got.size();
    return double(t.nsecsElapsed()) / 1e6;
}

void queueBench(int jobs, int files)
{
    test::EngineRig rig;
    rig.core.settings.Download_Path = rig.dir.path() + "/dl/";
    rig.core.settings.Remote_Port = 0;
    Remote remote(rig.engine);
    remote.start(true);
    HttpCall pause;
    pause.query = {{"mode", "pause"}};
    pause.signedIn = true;
    remote.api().handle(pause);
    for (int j = 0; j < jobs; ++j) {
        QString error;
        Jobs::Add how;
        how.name = QStringLiteral("job %1").arg(j);
        if (remote.jobs().add(nzbBytes(files, j), how, &error).isEmpty()) {
            fprintf(stderr, "add: %s\n", qPrintable(error));
            return;
        }
    }
    const quint16 port = remote.server()->port();
    const QByteArray target = "/api?mode=queue&output=json&apikey=" + rig.core.settings.Remote_ApiKey.toLatin1();
    std::vector<double> ms;
    qsizetype bytes = 0;
    for (int i = 0; i < 21; ++i) ms.push_back(httpMs(port, target, &bytes));
    std::sort(ms.begin(), ms.end());
    printf("queue answer over HTTP, %d jobs of %d files (%zu items in the batch): median %.1f ms, slowest %.1f ms of 21, %lld bytes\n", jobs,
           files, rig.batch.batchItems().size(), ms[10], ms.back(), (long long)bytes);
    fflush(stdout);
}

struct Sample {
    qint64 rssKB = 0, peakKB = 0;
    double cpu = 0;   // seconds, all threads
};

Sample sample(qint64 pid)
{
    Sample s;
    QFile st(QStringLiteral("/proc/%1/status").arg(pid));
    if (st.open(QIODevice::ReadOnly))
        for (const QByteArray &l : st.readAll().split('\n')) {
            if (l.startsWith("VmRSS:")) s.rssKB = l.mid(6).trimmed().split(' ').value(0).toLongLong();
            if (l.startsWith("VmHWM:")) s.peakKB = l.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    QFile cpu(QStringLiteral("/proc/%1/stat").arg(pid));
    if (cpu.open(QIODevice::ReadOnly)) {
        const QByteArray line = cpu.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        s.cpu = double(f.value(11).toLongLong() + f.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return s;
}

// The program in a folder of its own: idle for a while, then an NZB of the test server's
// posts downloaded to the end.
void programBench(bool headless, quint16 nntpPort, const QByteArray &nzb, qint64 payload)
{
    QTemporaryDir dir, runtime;
    const QString exe = dir.path() + "/vantrel";
    QFile::copy(VANTREL_EXE, exe);
    test::writeFile(dir.path() + "/VANTREL.INI", "[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(nntpPort)
                                                     + "\r\nNews_Connections=8\r\nchkAutodownload=1\r\nchkEnableLogging=1\r\nchkLogFile=1\r\n"
                                                       "chkAlwaysSaveHeaders=1\r\nRemote_Port=0\r\nchkPar2Verify=0\r\nchkUnpack=0\r\nDownload_Path="
                                                     + (dir.path() + "/dl/").toUtf8() + "\r\n");
    test::writeFile(dir.path() + "/big.nzb", nzb);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    if (headless) env.remove("DISPLAY");
    else env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, headless ? QStringList{"--headless"} : QStringList{});
    if (!p.waitForStarted()) return;
    const qint64 pid = p.processId();
    auto logged = [&](const char *what) { return test::readFile(dir.path() + "/OPSLOG.TXT").contains(what); };
    QThread::msleep(3000);   // settled after start-up
    const Sample idle0 = sample(pid);
    QThread::msleep(5000);
    const Sample idle1 = sample(pid);
    // The NZB handed over as a later start does, and the download started.
    QProcess later;
    later.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    later.start(exe, {dir.path() + "/big.nzb", "--download"});
    later.waitForFinished(20000);
    test::waitFor([&] { return bool(logged("Done:")); }, 600000);
    const double secs = double(t.nsecsElapsed()) / 1e9;
    const Sample done = sample(pid);
    ::kill(pid_t(pid), SIGTERM);
    p.waitForFinished(60000);
    printf("%-9s idle: %6.1f MB resident, %.3f s CPU in 5 s; downloading %.0f MB over 8 connections: %.2f s (%.0f MB/s), %.2f s CPU "
           "(%.2f s a GB), peak %.1f MB resident\n",
           headless ? "headless" : "windowed", double(idle1.rssKB) / 1024.0, idle1.cpu - idle0.cpu, double(payload) / 1e6, secs,
           double(payload) / 1e6 / secs, done.cpu - idle1.cpu, (done.cpu - idle1.cpu) / (double(payload) / 1e9), double(done.peakKB) / 1024.0);
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    printProcessor();
    queueBench(100, 100);
    queueBench(1000, 10);

    // 300 parts of 700 KB in posts of 10: what the server makes is what the NZB lists.
    const int count = 300, partBytes = 700000;
    synth::Options o;
    o.partBytes = partBytes;
    o.mixed = false;
    const synth::Group g = synth::makeGroup("alt.binaries.bench", 1, count, o);
    NzbDocument doc;
    qint64 payload = 0;
    for (size_t pi = 0; pi < g.posts.size(); ++pi) {
        NzbFileEntry e;
        e.poster = "bench@example.com";
        e.date = 1700000000;
        e.groups << "alt.binaries.bench";
        for (const synth::Article &a : g.articles)
            if (a.post == int(pi) && a.part > 0) {
                if (e.subject.isEmpty()) e.subject = QByteArray::fromStdString(a.subject);
                QByteArray id = QByteArray::fromStdString(a.msgid);
                if (id.startsWith('<')) id = id.mid(1, id.size() - 2);
                e.segments.push_back({a.bytes, a.part, id});
            }
        if (int(e.segments.size()) != g.posts[pi].total) continue;   // cut by the group's end
        payload += qint64(g.posts[pi].fileSize);
        doc.files.push_back(std::move(e));
    }
    QTemporaryDir dir;
    writeNzbFile(dir.path() + "/big.nzb", doc, nullptr);
    const QByteArray nzb = test::readFile(dir.path() + "/big.nzb");
    test::TestServer server({"--group", "alt.binaries.bench:1:" + QString::number(count), "--part-bytes", QString::number(partBytes),
                             "--yenc-only", "--prerender"},
                            false);
    for (int round = 0; round < 2; ++round) {
        programBench(true, server.port(), nzb, payload);
        programBench(false, server.port(), nzb, payload);
    }
    return 0;
}
