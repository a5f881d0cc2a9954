#pragma once
// The whole download path wired as the program wires it, against the test server:
// scan a group, queue its items, download, decode.
#include "TestSupport.h"
#include "EngineRig.h"
#include "download/Decoder.h"
#include "download/BatchQueue.h"
#include "download/DownloadDriver.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbImport.h"
#include "scan/ScanDriver.h"

namespace vt::test {

struct DownloadRig : EngineRig {
    QStringList logged;
    bool keepLog = true;

    explicit DownloadRig(quint16 port) : EngineRig(true)
    {
        Settings &s = core.settings;
        s.News_Host = QStringLiteral("127.0.0.1");
        s.News_Port = QString::number(port);
        s.Download_Path = dir.path() + QStringLiteral("/dl/");
        s.Cache_Path = dir.path() + QStringLiteral("/cache/");
        s.chkAllowRestart = false;
        QDir().mkpath(s.Download_Path);
        QDir().mkpath(s.Cache_Path);
        // A scan here never starts the download by itself: the tests start it.
        scan.startBatchDownload = [] {};
        decoder.RunAssociated = [this](const QString &p) {
            opened << p;
            return true;
        };
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) {
            if (keepLog) logged << m;
        });
    }
    bool scanGroup(const QString &group, int ms = 20000)
    {
        groups.addGroup(group);
        session.connectForScan();
        return waitFor([&] { return logged.filter(QStringLiteral("Scan Complete.")).size() > 0 && session.TCP1.state() == 0; },
                       ms);
    }
    // Queues every item whose name passes the test.
    int queue(const std::function<bool(const HeaderItem &)> &want)
    {
        int n = 0;
        for (int i = 1; i <= store.itemCount(); ++i)
            if (!store.item(i).deleted && want(store.item(i))) {
                batch.AddToBatch(i);
                ++n;
            }
        return n;
    }
    bool download(int ms = 30000)
    {
        logged.clear();
        dl.startCheck();
        return waitFor([&] { return !dl.running(); }, ms);
    }
    // A run that may restart: the countdown is ticked along instead of waited for.
    bool downloadWithRestarts(int ms = 60000)
    {
        logged.clear();
        dl.startCheck();
        return waitFor(
            [&] {
                // The flag stays set after a restart; the timer tells whether one is due.
                const bool counting = core.countdown.timer().isActive();
                if (counting) core.countdown.tick();
                return !dl.running() && !counting;
            },
            ms);
    }
    int count(const QString &line) const { return int(logged.filter(line).size()); }
    QStringList opened;
};

} // namespace vt::test
