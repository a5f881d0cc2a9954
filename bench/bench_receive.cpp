// Receive throughput of one connection for a 100 MB multi-line reply over loopback, and
// the framer's cost per byte for growing replies (flat means O(bytes)).
#include "TestSupport.h"
#include "nntp/Connection.h"
#include "nntp/ReplyFramer.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace vt;

static double framerSeconds(qsizetype bytes, qsizetype chunk)
{
    QByteArray body = "220 0 <x>\r\n";
    QByteArray line(126, 'x');
    line += "\r\n";
    while (body.size() < bytes) body += line;
    body += ".\r\n";
    ReplyFramer f;
    Reply r;
    QElapsedTimer t;
    t.start();
    int got = 0;
    for (qsizetype p = 0; p < body.size(); p += chunk) {
        f.feed(body.constData() + p, std::min(chunk, body.size() - p));
        while (f.next(r)) ++got;
    }
    const double s = t.nsecsElapsed() / 1e9;
    if (got != 1) fprintf(stderr, "framing failed\n");
    return s;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 size = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100LL * 1000 * 1000;

    // Framer alone, 1460-byte chunks (one TCP segment each).
    const double s10 = framerSeconds(10'000'000, 1460), s100 = framerSeconds(100'000'000, 1460);
    printf("framer: 10 MB %.1f ms (%.2f ns/byte), 100 MB %.1f ms (%.2f ns/byte), ratio 100/10 = %.1f (linear = 10)\n",
           s10 * 1e3, s10 * 1e9 / 1e7, s100 * 1e3, s100 * 1e9 / 1e8, s100 / s10);

    test::TestServer server({"--blob-bytes", QString::number(size)}, false);
    for (int run = 0; run < 3; ++run) {
        Connection c;
        qint64 replyBytes = 0;
        bool done = false;
        QObject::connect(&c, &Connection::replyReceived, [&](const Reply &r) {
            if (r.code == 220) {
                replyBytes = r.data.size();
                done = true;
            } else if (r.code == 200) {
                c.sendLine("ARTICLE <blob@synth.vantrel>");
            }
        });
        QElapsedTimer t;
        c.connectTo("127.0.0.1", server.port());
        test::waitFor([&] { return c.state() == 7; }, 5000);
        t.start();
        test::waitFor([&] { return done; }, 60000);
        const double secs = t.nsecsElapsed() / 1e9;
        printf("receive run %d: %lld bytes in %.3f s = %.2f GB/s\n", run + 1, (long long)replyBytes, secs,
               replyBytes / secs / 1e9);
        c.close();
    }
    return 0;
}
