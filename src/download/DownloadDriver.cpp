#include "DownloadDriver.h"
#include "ArticleText.h"
#include "BatchQueue.h"
#include "PartCache.h"
#include "ProcessedList.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "download/Decoder.h"
#include "download/DecodeQueue.h"
#include "headers/HeaderStore.h"
#include "headers/ItemText.h"
#include "headers/NzbOrigins.h"
#include "nntp/Session.h"
#include <QLocale>
#include <QFile>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vt {

namespace {
// Rounding to the nearest integer, halves to even.
qint64 roundEven(double x) { return qint64(std::nearbyint(x)); }

QString thousands(double x)
{
    static const QLocale en(QLocale::English, QLocale::UnitedStates);
    return en.toString(x, 'f', 1);
}

// "#.0": no leading zero before the point.
QString pointOne(double x)
{
    QString s = QString::number(x, 'f', 1);
    if (s.startsWith(QStringLiteral("0."))) s.remove(0, 1);
    return s;
}


// How often the bars, the times left and the status line follow the run.
constexpr int kProgressMs = 500;
} // namespace

QString FinishTimeText(qint64 seconds, const QDateTime &now)
{
    static const QLocale en(QLocale::English, QLocale::UnitedStates);
    const QDateTime t = now.addSecs(seconds);
    const QString time = en.toString(t.time(), QStringLiteral("h:mm AP"));
    if (seconds < 86401) return time;
    return en.toString(t.date(), QStringLiteral("dddd, MMMM d, yyyy")) + u' ' + time;
}

QString DurationText(qint64 s)
{
    const qint64 m = roundEven(double(s) / 60.0);
    if (m == 0) return QStringLiteral("less than a minute");
    const qint64 r = m % 60;
    const qint64 h = m / 60;
    if (r != 0 && m < 60) return r == 1 ? QStringLiteral("about a minute") : QString::number(r) + QStringLiteral(" minutes");
    if (r != 0) {
        if (h == 1) return QStringLiteral("1 hour, ") + QString::number(r) + QStringLiteral(" minutes");
        if (h <= 5) return QString::number(h) + QStringLiteral(" hours, ") + QString::number(r) + QStringLiteral(" minutes");
        return QStringLiteral("about ") + QString::number(h) + QStringLiteral(" hours");
    }
    return h == 1 ? QStringLiteral("about an hour") : QStringLiteral("about ") + QString::number(h) + QStringLiteral(" hours");
}

DownloadDriver::DownloadDriver(AppCore &core, Session &session, HeaderStore &store, BatchQueue &batch,
                               ProcessedList &processed, PartCache &cache, Decoder &decoder, const NzbCatalog &nzb,
                               QObject *parent)
    : QObject(parent), m_core(core), m_session(session), m_store(store), m_batch(batch), m_processed(processed),
      m_cache(cache), m_decoder(decoder), m_nzb(nzb), m_par2(core, store, batch, processed), m_pool(core, store, cache, nzb)
{
    connect(&m_pool, &FetchPool::itemFetched, this, &DownloadDriver::onItemFetched);
    // A paused item's queued parts leave the pool; a resumed one is taken up by the next step.
    connect(&m_batch, &BatchQueue::pausedChanged, this, [this] {
        for (int row = 0; row < m_batch.batchRows(); ++row)
            if (m_batch.paused(m_batch.tagAt(row))) m_pool.withdraw(m_batch.refAt(row));
        onItemFetched({});
    });
    connect(&m_pool, &FetchPool::finished, this, [this] {
        if (m_state == RunState::Fetching) step();
    });
    connect(&m_pool, &FetchPool::localFailure, this, [this](const QString &why) {
        if (running()) endBatchRun(RunEnd::LocalFailure, why);
    });
    connect(&m_pool, &FetchPool::restartNeeded, this, [this](const QString &why) {
        if (running()) endBatchRun(RunEnd::WaitingForRestart, why);
    });
    connect(&m_pool, &FetchPool::partStored, this, [this](ItemRef item, int part, const QString &server, qint64 bytes, double ms) {
        m_core.connectionWorks();
        const int i = m_store.resolve(item);
        if (!i) return;
        const HeaderItem &it = m_store.item(i);
        QString title = QString::fromLatin1(it.subject);
        if (it.subject.contains("[xx/000")) title = QString::fromLatin1(it.subject.left(it.subject.size() - 13) + it.parts[size_t(part - 1)].subjectTail());
        // A rate only over enough bytes: the recent parts together, never a short part alone
        // (one that came in with the one before takes no time and would say 200 MB/s).
        m_rateWindow.push_back({bytes, ms});
        m_rateBytes += bytes;
        m_rateMs += ms;
        while (m_rateWindow.size() > 1 && m_rateBytes - m_rateWindow.front().first >= kRateBytes) {
            m_rateBytes -= m_rateWindow.front().first;
            m_rateMs -= m_rateWindow.front().second;
            m_rateWindow.pop_front();
        }
        const QString speed = m_rateBytes >= kRateBytes && m_rateMs > 0 ? TransferSpeed(m_rateMs, m_rateBytes) : QString();
        log(QStringLiteral("Article Retrieved: ") + title + u' ' + thousands(double(bytes) / 1000.0) + QStringLiteral("kb")
                + (speed.isEmpty() ? QString() : QStringLiteral(" [") + speed + QStringLiteral(" KBps]")) + QStringLiteral(" from ") + server,
            true);
    });
    // The recovery volumes a repair needs are fetched as a download of their own.
    connect(&m_par2, &Par2Sets::downloadWanted, this, &DownloadDriver::startCheck, Qt::QueuedConnection);
    connect(&m_par2, &Par2Sets::setFinished, this, [this](const QString &, const QString &status, bool ok) {
        if (ok && status.startsWith(QLatin1String("par2: repaired"))) ++m_tally.repaired;
        else if (!ok && status.startsWith(QLatin1String("par2"))) ++m_tally.notRepaired;
        else if (!ok) ++m_tally.failed;
        summaryIfOver();
    });
    m_decoder.counted = [this](bool ok) { ++(ok ? m_tally.decoded : m_tally.failed); };
    connect(&m_decodes, &DecodeQueue::finished, this, &DownloadDriver::onDecoded);
    m_progressTimer.setInterval(kProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &DownloadDriver::showProgress);
}

void DownloadDriver::log(const QString &msg, bool record) { m_core.LogOp(msg, record); }

void DownloadDriver::startCheck()
{
    for (int i = 1; i <= m_store.itemCount(); ++i)
        if (m_store.item(i).inBatch) {
            BOT1();
            return;
        }
    m_core.prompter.message(QStringLiteral("Warning, nothing in batch que!"));
}

void DownloadDriver::BOT1()
{
    if (m_session.scanInProgress) {
        m_core.prompter.message(QStringLiteral("Stop scan first."));
        return;
    }
    if (m_state == RunState::Idle) {
        if (!m_tally.open) m_tally = Tally{true};
        m_restartPending = false;
        m_pool.setServers(FetchPool::serversOf(m_core.settings));
        // Journals of items a kill cut off just after their decode named the file.
        m_cache.direct().sweep(m_core.settings.Cache_Path);
        m_state = RunState::Fetching;
        m_core.ui.setScanEnabled(false);
        m_core.ui.setStatusLight(1);
        m_progressTimer.start();
        emit runningChanged(true);
    } else if (m_state == RunState::Decoding) {
        m_state = RunState::Fetching;
    }
    step();
}

// All of an item's parts are known to be on no server: nothing to decode.
bool DownloadDriver::allMissing(int item)
{
    const HeaderItem &it = m_store.item(item);
    if (it.parts.empty()) return false;
    for (int p = 1; p <= int(it.parts.size()); ++p)
        if (!m_cache.isMissing(item, p) || m_cache.isCached(item, p)) return false;
    return true;
}

void DownloadDriver::onItemFetched(ItemRef)
{
    if (m_state != RunState::Fetching || m_stepQueued) return;
    m_stepQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_stepQueued = false;
            if (m_state == RunState::Fetching) step();
        },
        Qt::QueuedConnection);
}

// One walk over the batch: items whose parts are all in go to the decode thread, items
// with parts on no server at all leave with their reason, the others go to the pool (it
// passes over those it has). With nothing left to fetch the run waits for its decodes.
void DownloadDriver::step()
{
    std::vector<int> toFetch;
    for (int row = 0; row < m_batch.batchRows();) {
        const int item = m_batch.tagAt(row);
        if (m_decodes.contains(item)) {
            ++row;
            continue;
        }
        const ItemRef ref = m_batch.refAt(row);
        if (m_store.resolve(ref) != item || !m_store.item(item).inBatch || m_store.item(item).subject.trimmed().isEmpty()) {
            // Not really queued (or its slot now holds another post): drop the row rather
            // than spin on it, or fetch another post in its place.
            m_batch.dropRow(row);
            continue;
        }
        const HeaderItem &it = m_store.item(item);
        if (m_pool.fetching(ref) || m_batch.paused(item)) {
            ++row;
            continue;
        }
        bool left = false;
        for (int p = 1; p <= int(it.parts.size()) && !left; ++p) left = !m_cache.isCached(item, p) && !m_cache.isMissing(item, p);
        if (left) {
            toFetch.push_back(item);
            ++row;
            continue;
        }
        if (allMissing(item)) {
            QString why = m_pool.missingWhy(ref);
            if (why.isEmpty()) why = QStringLiteral("Item no longer available on server");
            const QString subject = QString::fromLatin1(it.subject);
            const bool gone = why == QLatin1String("Item no longer available on server") || why == QLatin1String("Server sent empty article!");
            if (why == QLatin1String("Item no longer available on server")) log(QStringLiteral("Article expired!  Skipping ") + subject + u'.', true);
            else log(why + QStringLiteral(": skipping ") + subject + u'.', true);
            for (int p = 1; p <= int(it.parts.size()); ++p) m_cache.unmarkMissing(item, p);
            m_pool.forget(ref);
            m_batch.RemoveFromBatch(item, gone, gone);
            AddProcessedEntry(m_processed, m_store, item, why, QString(), false);
            ++m_tally.failed;
            continue;
        }
        // Its NZB's password for its archives, taken while the item is still there.
        if (const NzbOrigin *origin = m_nzb.originOf(it); origin && !origin->password.isEmpty()) m_passwords.insert(item, origin->password);
        if (!m_decodes.enqueue(item)) {
            endBatchRun(RunEnd::LocalFailure, m_decoder.localFailure());
            return;
        }
        ++row;
    }
    if (!toFetch.empty()) {
        m_pool.fetch(toFetch);
        return;
    }
    if (!m_pool.idle()) return;
    if (m_decodes.idle()) {
        endBatchRun(RunEnd::Finished);
    } else if (m_state != RunState::Decoding) {
        m_state = RunState::Decoding;
        log(QStringLiteral("Waiting for ") + QString::number(m_decodes.pending()) + QStringLiteral(" decode(s) to finish..."), false);
    }
}

void DownloadDriver::onDecoded(int item, bool decoded, const QString &localFailure)
{
    if (!localFailure.isEmpty()) {
        if (running()) endBatchRun(RunEnd::LocalFailure, localFailure);
        return;
    }
    m_pool.forget(m_store.ref(item));
    if (decoded) m_par2.fileDecoded(m_decoder.lastDecodedFile, m_passwords.value(item));
    m_passwords.remove(item);
    // The decoder takes the item out of the batch; make sure the row goes whatever happened.
    if (decoded)
        for (int row = 0; row < m_batch.batchRows(); ++row)
            if (m_batch.tagAt(row) == item) {
                m_batch.dropRow(row);
                break;
            }
    jobFolderDone(item);
    if (running()) step();
}

// A job's folder (an NZB handed over by the remote control) whose last item is decoded is
// verified and unpacked now, while the run goes on with other jobs: a tool waiting for it
// need not wait for the whole batch.
void DownloadDriver::jobFolderDone(int item)
{
    if (item < 1 || item > m_store.itemCount()) return;
    const NzbOrigin *o = m_nzb.originOfDecoded(m_store.item(item));
    if (!o || o->folder.isEmpty() || o->job.isEmpty()) return;
    // Any item of that folder still in the batch (being decoded, paused, a recovery volume
    // queued for a repair): the folder is not done.
    for (int other : m_batch.batchItems()) {
        const NzbOrigin *oo = m_nzb.originOf(m_store.item(other));
        if (oo && oo->folder == o->folder) return;
    }
    m_par2.folderDone(o->folder);
}

// Every way a run ends goes through here, so that none leaves it half running.
void DownloadDriver::endBatchRun(RunEnd reason, const QString &why)
{
    if (reason != RunEnd::Finished) {
        m_decodes.cancelQueued();
        m_pool.stop();
    }
    m_state = RunState::Idle;
    m_progressTimer.stop();
    m_core.ui.setStatusLight(0);
    m_core.ui.setScanEnabled(!m_session.scanInProgress);
    switch (reason) {
    case RunEnd::Finished:
        log(QStringLiteral("Done!"), false);
        m_core.sounds.PlaySound(QStringLiteral("vtv015.wav"));
        m_restartPending = false;
        m_core.ui.resetAllBars();
        break;
    case RunEnd::Stopped:
        log(QStringLiteral("User Abort!"), true);
        m_core.ui.setBar(UiState::Part, 0);
        m_core.ui.setBar(UiState::File, 0);
        break;
    case RunEnd::LocalFailure: m_core.ui.resetAllBars(); break;
    case RunEnd::WaitingForRestart:
        // The whole download waits for the emergency restart countdown, then starts again.
        m_restartPending = true;
        m_core.ui.resetAllBars();
        m_core.countdown.start(why);
        log(QStringLiteral("Emergency Reconnect in") + num(m_core.countdown.value()) + QStringLiteral(" seconds."), true);
        m_core.connectionTrouble(why);
        emit runOver(false, QStringLiteral("Download waiting to restart: ") + why);
        break;
    }
    batchEta.clear();
    fileEta.clear();
    m_batch.setFlows({});
    emit etaChanged();
    emit runningChanged(false);
    if (reason == RunEnd::LocalFailure) {
        const QString msg = QStringLiteral("Download stopped: ") + why
                            + QStringLiteral(". The item stays in the batch with its downloaded parts; start the download again once this is put right.");
        log(msg, true);
        m_core.prompter.message(msg);
        emit runOver(false, QStringLiteral("Download stopped: ") + why);
    }
    if (reason == RunEnd::Finished) m_par2.downloadEnded();
    if (reason == RunEnd::Finished) summaryIfOver();
    else m_tally.open = false;   // a stop, a failure or a restart: the summary of a run that ended is not owed
}

void DownloadDriver::summaryIfOver()
{
    if (!m_tally.open || running() || m_par2.busy() || m_par2.setsOpen() > 0) return;
    m_tally.open = false;
    QString s = QStringLiteral("Done: %1 decoded, %2 failed").arg(m_tally.decoded).arg(m_tally.failed);
    if (m_tally.repaired) s += QStringLiteral(", %1 repaired").arg(m_tally.repaired);
    if (m_tally.notRepaired) s += QStringLiteral(", %1 par2 set(s) not repaired").arg(m_tally.notRepaired);
    log(s, true);
    // A run that found nothing to do is not worth a notification.
    if (m_tally.decoded + m_tally.failed + m_tally.repaired + m_tally.notRepaired > 0)
        emit runOver(m_tally.failed == 0 && m_tally.notRepaired == 0, s);
}

int DownloadDriver::retryProcessed(std::vector<int> rows)
{
    // What each row asks for is settled before anything runs: a step that ends at once adds
    // a row, and the page may be sorted.
    std::vector<int> taken, items;
    std::vector<QStringList> posts;
    QStringList gone;
    for (int row : rows) {
        if (row < 0 || row >= m_processed.rowCount() || m_processed.entry(row).ok) continue;
        const ProcessedEntry &e = m_processed.entry(row);
        if (QStringList files = m_par2.postFiles(e.fileName); !files.isEmpty()) {
            posts.push_back(std::move(files));
            taken.push_back(row);
            continue;
        }
        int item = 0;
        for (int i = 1; i <= m_store.itemCount() && !item; ++i) {
            const HeaderItem &it = m_store.item(i);
            // A downloaded item is only marked deleted until the headers are saved.
            if (!it.reusable && !it.parts.empty() && QString::fromLatin1(itemDisplayName(it)) == e.subject) item = i;
        }
        if (item) {
            items.push_back(item);
            taken.push_back(row);
        } else {
            gone << e.subject;
        }
    }
    m_processed.removeSelected(taken);
    for (int item : items) {
        HeaderItem &it = m_store.item(item);
        if (it.deleted) {
            it.deleted = false;
            m_store.touch(item);
            m_store.headersDirty = true;
        }
        if (!it.inBatch) m_batch.AddToBatch(item);
        log(QStringLiteral("Retry: queued ") + QString::fromLatin1(itemDisplayName(m_store.item(item))), true);
    }
    for (const QStringList &files : posts) m_par2.retry(files);
    if (!gone.isEmpty())
        m_core.prompter.message(QStringLiteral("Not in the headers any more, so it cannot be queued again:\n") + gone.join(u'\n'));
    return int(taken.size());
}

void DownloadDriver::stop()
{
    if (running()) {
        endBatchRun(RunEnd::Stopped);
    } else {
        m_restartPending = false;
        m_core.countdown.cancel();
    }
}

void DownloadDriver::shutdown()
{
    m_decodes.cancelQueued();
    m_pool.stop();
    m_state = RunState::Idle;
    m_progressTimer.stop();
}

DownloadDriver::Progress DownloadDriver::progress() const
{
    Progress p;
    for (int row = 0; row < m_batch.batchRows(); ++row) {
        const int item = m_batch.tagAt(row);
        if (m_decodes.contains(item)) continue;
        p.topItem = item;
        const FetchPool::Progress ip = m_pool.progress(m_store.ref(item));
        p.itemTotal = ip.total > 0 ? ip.total : m_store.ItemByteTotal(item);
        p.itemDone = ip.done;
        break;
    }
    p.batchTotal = qint64(m_batch.batchTotalKB()) * 1000;
    p.batchDone = std::min(m_pool.doneBytes(), p.batchTotal);
    p.rate = m_pool.bytesPerSecond();
    return p;
}

// The item at the top of the batch on the file bar, the whole batch on the part bar,
// whatever the number of connections.
void DownloadDriver::showProgress()
{
    if (m_state != RunState::Fetching) return;
    const Progress p = progress();
    UiState &ui = m_core.ui;
    ui.setBarMax(UiState::File, std::max<qint64>(1, p.itemTotal));
    ui.setBar(UiState::File, p.itemDone);
    ui.setBarMax(UiState::Part, std::max<qint64>(1, p.batchTotal));
    ui.setBar(UiState::Part, p.batchDone);
    showEtas(p.rate, p.batchTotal - p.batchDone, p.itemTotal - p.itemDone);
    if (p.topItem > 0)
        log(QStringLiteral("Downloading: ") + QString::fromLatin1(itemDisplayName(m_store.item(p.topItem))) + u' '
                + thousands(double(p.itemDone) / 1000.0) + QStringLiteral("KB of ") + pointOne(double(p.itemTotal) / 1000.0)
                + QStringLiteral("KB @ ") + QString::number(p.rate / 1000.0, 'f', 1) + QStringLiteral(" KBps"),
            false);
    showItemFlows(p.rate);
    emit progressChanged();
}

// Each queued item's bytes in and the time until it is in: the items are fetched in their
// order, so an item is in once the bytes left above it and its own are.
void DownloadDriver::showItemFlows(double rate)
{
    std::unordered_map<int, BatchQueue::Flow> flows;
    qint64 ahead = 0;
    for (int row = 0; row < m_batch.batchRows(); ++row) {
        const int item = m_batch.tagAt(row);
        const FetchPool::Progress ip = m_pool.progress(m_batch.refAt(row));
        BatchQueue::Flow f;
        f.total = ip.total > 0 ? ip.total : m_store.ItemByteTotal(item);
        f.done = std::min(ip.done, f.total);
        if (!m_batch.paused(item)) {
            ahead += f.total - f.done;
            if (rate > 100) f.secondsLeft = qint64(std::ceil(double(ahead) / rate));
            // The connections work on the items in flight together: each is given the rate.
            if (m_pool.fetching(m_batch.refAt(row)) && f.done < f.total) f.bytesPerSecond = rate;
        }
        flows[item] = f;
    }
    m_batch.setFlows(std::move(flows));
}

void DownloadDriver::showEtas(double bytesPerSecond, qint64 batchLeft, qint64 fileLeft)
{
    const QString oldBatch = batchEta, oldFile = fileEta;
    if (bytesPerSecond < 101) {
        batchEta.clear();
        fileEta.clear();
    } else {
        const double kbps = bytesPerSecond / 1000.0;
        const qint64 batchSecs = roundEven(double(batchLeft) / 1000.0 / kbps);
        if (m_batch.batchRows() > 1 && batchSecs > 0)
            batchEta = QStringLiteral("Entire batch ETA: ") + FinishTimeText(batchSecs) + QStringLiteral(" (") + DurationText(batchSecs) + u')';
        else
            batchEta.clear();
        const qint64 fileSecs = roundEven(double(fileLeft) / 1000.0 / kbps);
        if (fileSecs != 0)
            fileEta = QStringLiteral("Current file ETA: ") + FinishTimeText(fileSecs) + QStringLiteral(" (") + DurationText(fileSecs) + u')';
        else
            fileEta.clear();
    }
    if (oldBatch != batchEta || oldFile != fileEta) emit etaChanged();
}

QString DownloadDriver::TransferSpeed(double elapsedMs, qint64 bytes)
{
    // Fractions of a millisecond count: a part on a fast link takes well under one second,
    // and a small one under one millisecond.
    const qint64 rate = elapsedMs <= 0 ? 0 : qint64(std::ceil(double(bytes) * 1000.0 / elapsedMs));
    if (!running()) {
        const UiState::Bar f = m_core.ui.bar(UiState::File);
        showEtas(double(rate), qint64(m_batch.batchTotalKB()) * 1000 - f.value, f.max - f.value);
    }
    return QString::number(double(rate) / 1000.0, 'f', 1);
}

QString DownloadDriver::sourceNote(int item) const
{
    const ItemRef ref = m_store.ref(item);
    QStringList parts;
    QStringList servers = m_pool.deliveredBy(ref);
    // With one server there is nothing to tell apart.
    if (!servers.isEmpty() && m_pool.serverCount() > 1) {
        servers.sort();
        parts << QStringLiteral("from ") + servers.join(QStringLiteral(", "));
    }
    if (const int n = m_pool.missingParts(ref)) parts << QString::number(n) + QStringLiteral(" part(s) on no server");
    return parts.join(QStringLiteral("; "));
}

} // namespace vt
