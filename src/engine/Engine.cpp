#include "Engine.h"
#include "download/WatchRepair.h"
#include "decode/FileNames.h"
#include "core/Text.h"
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
    cache.nzb = &nzb;
    batch.nzb = &nzb;
    store.log = [this](const QString &m) { core.LogOp(m, true); };
    store.watchMatches = [this](int i) { return watch.WatchMatches(store, i); };
    // Recovery volumes wait for a repair that asks for them, as those of an NZB do.
    store.addToBatch = [this](int i) {
        if (!isRecoveryVolume(store.item(i))) batch.AddToBatch(i);
    };
    scan.scanEnded = [this] {
        // A pass over every item (tens of milliseconds at millions): only for a watch list.
        if (!watch.watching()) return;
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

namespace vt {

void Engine::loadWatchList()
{
    watch.LoadWatchList(core.paths.watch());
    watch.watchEnabled = store.watchEnabled = core.settings.chkEnableWatch;
}

void Engine::loadHeaders()
{
    headerFile.LoadHeaders(core.paths.headers(), &batch);
    processed.keepIn(core.paths.processed());
    // What the batch went through after that save: decoded items stay out, queued ones
    // in, and a decode whose row the kill took is listed.
    const int replayed = journal.replay(store, batch, [this](const JournalRow &r) {
        // The kill may have come after the row and before its mark.
        const auto &rows = processed.entries();
        if (std::none_of(rows.begin(), rows.end(), [&](const ProcessedEntry &e) {
                return e.subject == r.name && e.fileName == r.file && e.status.startsWith(r.status);
            }))
            processed.add({r.name, r.status, r.file, r.ok});
    });
    if (replayed > 0) store.headersDirty = true;
    groups.marksLoaded();
    // par2 work the last run left: verifying, fetching volumes or repairing.
    download.par2().keepIn(core.paths.par2Work());
    download.par2().takeUp();
    nzb.load(core.paths.nzbOrigins());
    nzb.prune(store);
    view.ViewRefresh(false);
}

void Engine::saveHeaders()
{
    groups.takeMarksForSave();
    headerFile.startSave(core.paths.headers(), &batch);
    nzb.save(core.paths.nzbOrigins());
}

void Engine::headersSaved(bool ok)
{
    // The headers are on disk: now the marks they cover may be.
    if (!ok) return;
    journal.clear();
    groups.marksSaved();
    groups.saveFavourites(core.paths.favs());
}

void Engine::marksCovered()
{
    groups.takeMarksForSave();
    groups.marksSaved();
}

// Posts queued since the last save are written beside what that save holds, and the marks
// stay where it ends (the next scan reads those articles again and files nothing twice).
void Engine::keepBatchWithoutHeaders()
{
    headerFile.finishSave();
    const std::vector<int> rows = batch.batchItems();
    const bool unsaved = std::any_of(rows.begin(), rows.end(), [this](int i) { return !store.item(i).onDisk; });
    if (!unsaved) return;
    if (headerFile.SaveHeaders(core.paths.headers(), &batch, HeaderFile::Keep::SavedAndBatch)) {
        journal.clear();
        nzb.save(core.paths.nzbOrigins());
    }
}

void Engine::end(bool save)
{
    groups.saveFavourites(core.paths.favs());
    if (save) saveHeaders();
    else keepBatchWithoutHeaders();
    closeDown();
}

void Engine::closeDown()
{
    headerFile.finishSave();
    session.disconnect(ConnectionId::Scan);
    download.shutdown();
}

namespace {
// An NZB imported again into a folder that has its files: said, and when every file is
// there nothing is fetched again; the par2 set there is verified instead.
void filesAlreadyThere(Engine &e, const QString &nzbName, const std::vector<int> &items)
{
    QStringList there;
    for (int i : items) {
        const QString file = e.decoder.DecodeFolder(i) + fileNameFromBytes(safeFileNameBytes(fileNameOfItem(e.store.item(i))));
        if (QFileInfo(file).isFile()) there << file;
    }
    if (there.isEmpty()) return;
    if (there.size() < qsizetype(items.size())) {
        e.core.LogOp(QStringLiteral("%1: %2 of its %3 files are already in the download folder; the copies fetched get other names")
                         .arg(nzbName)
                         .arg(there.size())
                         .arg(items.size()),
                     true);
        return;
    }
    for (int i : items) e.batch.RemoveFromBatch(i, false, false);
    e.core.LogOp(QStringLiteral("%1: all %2 of its files are already in the download folder; not fetched again, their par2 set is verified")
                     .arg(nzbName)
                     .arg(items.size()),
                 true);
    for (const QString &f : there) e.download.par2().fileDecoded(f);
    e.download.par2().downloadEnded();
}
} // namespace

std::vector<NzbImport> Engine::importNzbFiles(const QStringList &paths)
{
    std::vector<NzbImport> out;
    bool any = false;
    for (const QString &p : paths) {
        out.push_back(importNzbFile(p, store, batch, nzb));
        const NzbImport &r = out.back();
        if (!r.ok) {
            core.prompter.message(r.message);
            continue;
        }
        core.LogOp(r.message, true);
        any = true;
        filesAlreadyThere(*this, QFileInfo(p).fileName(), r.items);
    }
    if (!any) return out;
    nzb.save(core.paths.nzbOrigins());
    view.ViewRefresh(false);
    batch.ShowBatchSize();
    return out;
}

} // namespace vt
