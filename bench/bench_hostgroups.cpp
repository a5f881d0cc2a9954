// The host group list at full size: about 1,000,000 groups (some 50 MB) fetched from the
// test server into HOSTGRPS.TXT, then searched. Prints the download time, each search's
// time and match count, the longest stretch between two event-loop turns, and how soon a
// second press of the button ends a search that matches every line.
#include "Posts.h"
#include "TestSupport.h"
#include "groups/HostGroupList.h"
#include "nntp/Session.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

using namespace vt;
using namespace vt::test;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int groups = argc > 1 ? atoi(argv[1]) : 1000000;
    StoreRig r;
    TestServer server({"--group", "alt.test:10:5", "--list-extra", QString::number(groups)}, false);
    r.core.settings.News_Host = "127.0.0.1";
    r.core.settings.News_Port = QString::number(server.port());
    HostGroupList &list = r.engine.hostGroups;

    QElapsedTimer t;
    t.start();
    if (!list.download()) return 1;
    while (list.downloading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double dl = double(t.elapsed()) / 1000;
    const qint64 size = QFileInfo(list.filePath()).size();
    std::printf("download: %d groups, %.1f MB in %.2f s (%.0f MB/s); %s\n", groups, double(size) / 1e6, dl,
                double(size) / 1e6 / dl, qPrintable(list.statusText(0)));

    // The program's hook: let the event loop run.
    struct Q {
        const char *text;
        HostGroupList::SearchType type;
    };
    const Q queries[] = {{"group999999", HostGroupList::Contains}, {"group12345", HostGroupList::Contains},
                         {"synth.99.", HostGroupList::Contains},    {"synth.5", HostGroupList::Contains},
                         {"nothing.like.this", HostGroupList::Contains}, {"alt.binaries.synth.5", HostGroupList::StartsWith},
                         {"comp.", HostGroupList::StartsWith},      {"alt.", HostGroupList::Contains}};
    for (const Q &q : queries) {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            t.restart();
            list.search(QString::fromLatin1(q.text), q.type);
            while (list.searching()) QCoreApplication::processEvents(QEventLoop::AllEvents);
            best = std::min(best, double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("search %-10s \"%s\": %8.1f ms, %7d matches, longest without events %lld ms (%d turns)\n",
                    q.type == HostGroupList::Contains ? "Contains:" : "Starts:", q.text, best, list.matches(),
                    list.longestGapMs(), list.yields());
    }

    // Every line matches: pressed again after 200 ms.
    QElapsedTimer sincePress;
    bool pressed = false;
    t.restart();
    list.search(QStringLiteral("alt."), HostGroupList::Contains);
    while (list.searching()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!pressed && t.elapsed() >= 200) {
            pressed = true;
            sincePress.start();
            list.search(QStringLiteral("alt."), HostGroupList::Contains);
        }
    }
    std::printf("stop: pressed at %lld ms with %d matches; search ended %.1f ms after the press; %s\n",
                qint64(200), list.matches(), pressed ? double(sincePress.nsecsElapsed()) / 1e6 : -1.0,
                qPrintable(list.statusText(0)));
    return 0;
}
