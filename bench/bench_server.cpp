// How fast the test server itself serves: article bytes and overview lines per second,
// read by a bare socket client that does nothing but count.
#include "TestSupport.h"
#include <QCoreApplication>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

static int dial(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return -1;
    return fd;
}

// Reads until the data ends with the given suffix; returns bytes read.
static size_t readUntil(int fd, const char *suffix, size_t *lines = nullptr)
{
    static char buf[1 << 20];
    size_t total = 0, n = 0;
    const size_t sl = strlen(suffix);
    char tail[16] = {0};
    for (;;) {
        ssize_t r = recv(fd, buf, sizeof buf, 0);
        if (r <= 0) break;
        total += size_t(r);
        if (lines)
            for (ssize_t i = 0; i < r; ++i) n += buf[i] == '\n';
        if (size_t(r) >= sl) memcpy(tail, buf + r - sl, sl);
        else {
            memmove(tail, tail + r, sl - size_t(r));
            memcpy(tail + sl - r, buf, size_t(r));
        }
        if (memcmp(tail, suffix, sl) == 0) break;
    }
    if (lines) *lines = n;
    return total;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int groupLines = 2'000'000;
    vt::test::TestServer server({"--blob-bytes", "200000000", "--group",
                                 QString("alt.binaries.big:1:%1").arg(groupLines)}, false);
    const int fd = dial(server.port());
    readUntil(fd, "\r\n");
    for (int run = 0; run < 3; ++run) {
        const char *cmd = "ARTICLE <blob@synth.vantrel>\r\n";
        send(fd, cmd, strlen(cmd), 0);
        auto t0 = std::chrono::steady_clock::now();
        const size_t bytes = readUntil(fd, "\r\n.\r\n");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        printf("server article: %zu bytes in %.3f s = %.2f GB/s\n", bytes, s, bytes / s / 1e9);
    }
    const char *grp = "GROUP alt.binaries.big\r\n";
    send(fd, grp, strlen(grp), 0);
    readUntil(fd, "\r\n");
    for (int run = 0; run < 3; ++run) {
        const std::string cmd = "XOVER 1-" + std::to_string(groupLines) + "\r\n";
        send(fd, cmd.data(), cmd.size(), 0);
        auto t0 = std::chrono::steady_clock::now();
        size_t lines = 0;
        const size_t bytes = readUntil(fd, "\r\n.\r\n", &lines);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        printf("server overview: %zu lines (%zu bytes) in %.3f s = %.2f million lines/s\n", lines - 2, bytes, s,
               (lines - 2) / s / 1e6);
    }
    close(fd);
    return 0;
}
