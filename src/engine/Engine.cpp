#include "Engine.h"
#include "download/WatchRepair.h"
#include <QFileInfo>

namespace vt {

Engine::Engine(const AppPaths &paths, Prompter &prompter) : core(paths, prompter)
{
    session.setScanHandler(&scan);
    session.downloadRunning = [this] { return download.running(); };
    groups.groupReplyTaken = [this] { return scan.groupReplyTaken; };
    groups.autoExpire = [this](qint32 key, qint32 first) { scan.AutoExpire(quint8(key), first); };
    decoder.sourceNote = [this](int item) { return download.sourceNote(item); };
    core.countdown.downloadRestartPending = [this] { return download.restartPending(); };
    core.countdown.connectForScan = [this] { session.connectForScan(); };

    // The header list follows what it shows: all groups, one, or none while scanning.
    QObject::connect(&scan, &ScanDriver::burstFiled, &view, [this] {
        if (view.viewGroupKey != HeaderListModel::DisplayOff) view.ViewUpdate(view.viewGroupKey == HeaderListModel::AllGroups);
    });
    QObject::connect(&scan, &ScanDriver::itemsExpired, &view, [this](quint8 key) {
        if (view.viewGroupKey == HeaderListModel::AllGroups || view.viewGroupKey == key) view.ViewRefresh(false);
    });
    QObject::connect(&scan, &ScanDriver::newFlagsReset, &view, [this] { view.ViewRefresh(false); });
    QObject::connect(&batch, &BatchQueue::itemsChanged, &view,
                     [this] { view.ViewUpdate(view.viewGroupKey == HeaderListModel::AllGroups); });
    session.setFeature(ConnectionId::HostGroups, FeatureEndpoint{&hostGroups.conn, {}});
    session.setFeature(viewer.connection(), FeatureEndpoint{&viewer.conn, {}});
    session.setFeature(preview.connection(), FeatureEndpoint{&preview.conn, {}});
    session.setFeature(ConnectionId::Assistant, FeatureEndpoint{&assistant.conn, [this](const QString &t) { assistant.showInBubble(t); }});
    view.itemLife = [this](int i) { return batch.ItemLife(i); };
    view.nzb = &nzb;
    batch.nzb = &nzb;
    store.log = [this](const QString &m) { core.LogOp(m, true); };
    store.watchMatches = [this](int i) { return watch.WatchMatches(store, i); };
    // Recovery volumes wait for a repair that asks for them, as those of an NZB do.
    store.addToBatch = [this](int i) {
        if (!isRecoveryVolume(store.item(i))) batch.AddToBatch(i);
    };
    scan.scanEnded = [this] {
        for (int i : itemsWorthRepair(store, [this](int i) { return watch.WatchMatches(store, i); })) {
            const HeaderItem &it = store.item(i);
            core.LogOp(QStringLiteral("Watch list: queued ") + QString::fromLatin1(it.subject) + QStringLiteral(" with ")
                           + QString::number(it.parts.size()) + QStringLiteral(" of ") + QString::number(it.declaredTotal)
                           + QStringLiteral(" parts: the rest are not on the server, and the post's par2 volumes can make them up"),
                       true);
            batch.AddToBatch(i);
        }
    };
    batch.journal = [this](int i, char change) { journal.changed(change, store, i); };
    decoder.decodeOver = [this](const DecodeJob &j, const DecodeOutcome &o) {
        const bool kept = o.ok || (!o.out.isEmpty() && QFileInfo(o.out).isFile());
        journal.note(j.batchChange, j.subject, j.poster,
                     {QString::fromLatin1(j.displayName), o.ok ? QStringLiteral("Decode successful") : QStringLiteral("Error: ") + o.status,
                      kept ? o.out : QString(), o.ok});
    };
    decoder.rowListed = [this](const DecodeJob &j) { journal.note('r', j.subject, j.poster); };
    headerFile.batchTaken = [this] { journal.checkpoint(); };
    scan.removeFromBatch = [this](int i) { batch.RemoveFromBatch(i, false, false); };
    scan.batchLifeUpdate = [this] { batch.BatchLifeUpdate(); };
    scan.startBatchDownload = [this] { download.BOT1(); };
    core.countdown.startBatchDownload = [this] { download.BOT1(); };
    // Every connection checks a certificate the same way.
    download.pool().certificateCheck = session.certificateCheck();
    // The scan and the download share the main server's connection limit.
    download.pool().mainServerLent = [this] { return scan.poolConnections(); };
    scan.downloadConnections = [this] { return download.pool().openOn(0); };
    serverTest.certificateCheck = session.certificateCheck();
}

} // namespace vt
