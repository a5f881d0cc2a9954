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
#include "headers/NzbOrigins.h"
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


// How often the progress line and the bars follow the bytes of a part.
constexpr qint64 kProgressMs = 100;
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
      m_cache(cache), m_decoder(decoder), m_nzb(nzb), m_par2(core, store, batch, processed), m_pool(core, store, cache)
{
    // A pooled run goes on from the batch's top each time an item is in (in batch order).
    connect(&m_pool, &FetchPool::itemFetched, this, [this] {
        if (m_pooled && m_session.downloadStage != DownloadStage::Idle) QMetaObject::invokeMethod(this, &DownloadDriver::BOT1, Qt::QueuedConnection);
    });
    connect(&m_pool, &FetchPool::finished, this, [this] {
        if (m_pooled && m_session.downloadStage != DownloadStage::Idle) BOT1();
    });
    connect(&m_pool, &FetchPool::localFailure, this, [this](const QString &why) {
        if (m_pooled) endBatchRun(RunEnd::LocalFailure, why);
    });
    connect(&m_pool, &FetchPool::partMissing, this, [this](int item, int) { ++m_onNoServer[item]; });
    connect(&m_pool, &FetchPool::partStored, this, [this](int item, int part, const QString &server) {
        if (!m_deliveredBy[item].contains(server)) m_deliveredBy[item] << server;
        const qint64 bytes = m_store.item(item).parts[size_t(part - 1)].byteCount;
        m_pooledBytes += bytes;
        const double secs = std::max(0.001, double(m_runClock.elapsed()) / 1000.0);
        log(QStringLiteral("Article Retrieved: ") + QString::fromLatin1(m_store.item(item).subject) + QStringLiteral(" part ")
                + QString::number(part) + QStringLiteral(" from ") + server + QStringLiteral(" [")
                + QString::number(double(m_pooledBytes) / 1000.0 / secs, 'f', 1) + QStringLiteral(" KBps, ")
                + QString::number(m_pool.busyConnections()) + QStringLiteral(" connection(s) busy]"),
            true);
    });
    // The recovery volumes a repair needs are fetched as a download of their own.
    connect(&m_par2, &Par2Sets::downloadWanted, this, &DownloadDriver::startCheck, Qt::QueuedConnection);
    m_partStart.start();
    m_progressShown.start();
    connect(&m_decodes, &DecodeQueue::finished, this, &DownloadDriver::onDecoded);
}

// Nothing left to fetch while decodes run: the connection says goodbye, the run goes on
// until the last decode is in.
void DownloadDriver::waitForDecodes()
{
    Session &s = m_session;
    s.batchRunning = 1;
    s.downloadStage = DownloadStage::Decoding;
    s.disconnect(ConnectionId::Download);
    m_core.ui.setScanEnabled(false);
    m_core.ui.setBar(UiState::Part, 0);
    log(QStringLiteral("Waiting for ") + QString::number(m_decodes.pending()) + QStringLiteral(" decode(s) to finish..."), false);
}

void DownloadDriver::onDecoded(int item, bool decoded, const QString &localFailure)
{
    Session &s = m_session;
    const bool running = s.batchRunning != 0 || s.downloadStage != DownloadStage::Idle;
    if (!localFailure.isEmpty()) {
        if (running) endBatchRun(RunEnd::LocalFailure, localFailure);
        return;
    }
    if (decoded) m_par2.fileDecoded(m_decoder.lastDecodedFile);
    // The decoder takes the item out of the batch; make sure the row goes whatever happened.
    if (decoded)
        for (int row = 0; row < m_batch.batchRows(); ++row)
            if (m_batch.tagAt(row) == item) {
                m_batch.dropRow(row);
                break;
            }
    if (s.downloadStage == DownloadStage::Decoding) nextPart();
}

// The part in hand is finished with (fetched, skipped or given up): on to the next one.
void DownloadDriver::nextPart()
{
    m_session.batchRunning = 0;
    m_session.downloadStage = DownloadStage::BetweenParts;
    BOT1();
}

// Every way a run ends goes through here, so that none leaves the session half running.
void DownloadDriver::endBatchRun(RunEnd reason, const QString &why)
{
    Session &s = m_session;
    if (reason == RunEnd::Stopped || reason == RunEnd::LocalFailure) {
        m_decodes.cancelQueued();
        m_pool.stop();
    }
    if (reason == RunEnd::Stopped) s.downloadAbortRequested = true;
    s.batchRunning = 0;
    s.downloadStage = DownloadStage::Idle;
    if (reason == RunEnd::Stopped) {
        s.disconnect(ConnectionId::Download);
        s.closeConnection(ConnectionId::Download);
    } else if (reason != RunEnd::LocalFailure || s.TCP2.state() == 7) {
        s.disconnect(ConnectionId::Download);
    }
    m_core.ui.setStatusLight(0);
    switch (reason) {
    case RunEnd::Finished:
        log(QStringLiteral("Done!"), false);
        m_core.sounds.PlaySound(QStringLiteral("vtv015.wav"));
        s.downloadRestartPending = false;
        m_core.ui.setBar(UiState::Part, 0);
        m_core.ui.setBar(UiState::ScanOverall, 0);
        m_core.ui.setBar(UiState::ScanGroup, 0);
        m_core.ui.setScanEnabled(true);
        break;
    case RunEnd::Stopped:
        log(QStringLiteral("User Abort!"), true);
        m_core.ui.setBar(UiState::Part, 0);
        m_core.ui.setBar(UiState::File, 0);
        break;
    case RunEnd::LocalFailure:
    case RunEnd::CacheWriteFailed:
        m_core.ui.resetAllBars();
        break;
    }
    if (reason != RunEnd::Finished && reason != RunEnd::CacheWriteFailed) {
        batchEta.clear();
        fileEta.clear();
        emit etaChanged();
    }
    emit runningChanged(false);
    if (reason == RunEnd::LocalFailure) {
        const QString msg = QStringLiteral("Download stopped: ") + why
                            + QStringLiteral(". The item stays in the batch with its downloaded parts; start the download again once this is put right.");
        log(msg, true);
        m_core.prompter.message(msg);
    }
    if (reason == RunEnd::Finished) m_par2.downloadEnded();
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
    Session &s = m_session;
    if (s.scanInProgress) {
        m_core.prompter.message(QStringLiteral("Stop scan first."));
        return;
    }
    if (s.batchRunning == 1) return;
    if (trimBlanks(m_core.settings.News_Port).isEmpty()) m_core.settings.News_Port = QStringLiteral("119");
    s.batchRunning = 1;
    s.downloadAbortRequested = false;
    if (s.downloadStage == DownloadStage::Idle) {
        m_missingGroups.clear();   // a new run asks the server again
        m_pooled = usesPool(m_core.settings);
        m_pooledBytes = 0;
        m_deliveredBy.clear();
        m_onNoServer.clear();
        m_runClock.start();
        if (m_pooled) m_pool.setServers(FetchPool::serversOf(m_core.settings));
    }
    m_core.ui.setScanEnabled(false);
    m_core.ui.setStatusLight(1);
    emit runningChanged(true);

    UiState &ui = m_core.ui;
    int part = 0, item = 0;
    // The first row with a part still to fetch; complete items on the way go to the
    // decode thread (rows already there are passed over).
    for (int row = 0;;) {
        if (row >= m_batch.batchRows()) {
            if (m_decodes.idle()) endBatchRun(RunEnd::Finished);
            else waitForDecodes();
            return;
        }
        item = m_batch.tagAt(row);
        if (m_decodes.contains(item)) {
            ++row;
            continue;
        }
        const HeaderItem &it = m_store.item(item);
        if (!it.inBatch || it.subject.trimmed().isEmpty()) {
            // Not really queued: drop the row rather than spin on it.
            m_batch.dropRow(row);
            continue;
        }
        qint64 have = 0;
        part = 0;
        const bool imported = !it.parts.empty() && it.parts.front().groupKey == kNzbGroupKey;
        for (int p = 1; p <= int(it.parts.size()); ++p) {
            if (m_cache.isCached(item, p)) have += it.parts[size_t(p - 1)].byteCount;
            else if (part == 0 && !((imported || m_pooled) && m_cache.isMissing(item, p))) part = p;
        }
        if (part != 0) {
            ui.setBarMax(UiState::File, m_store.ItemByteTotal(item));
            ui.setBar(UiState::File, have);
            if (m_pooled) {
                handToPool(row);
                return;
            }
            break;
        }
        if (!m_decodes.enqueue(item)) {
            endBatchRun(RunEnd::LocalFailure, m_decoder.localFailure());
            return;
        }
        ++row;
    }

    // The part request.
    const HeaderItem &it = m_store.item(item);
    const PartRecord &pr = it.parts[size_t(part - 1)];
    m_nzbPart = pr.groupKey == kNzbGroupKey;
    if (!m_nzbPart && m_missingGroups.count(m_cache.groupOfPart(item, part))) {
        currentItem = item;
        partGroup = m_cache.groupOfPart(item, part);
        skipItemOfMissingGroup();
        return;
    }
    m_partStart.restart();
    s.noteActivity(ConnectionId::Download);
    partGroup = m_cache.groupOfPart(item, part);
    if (m_nzbPart) {
        m_nzbGroups.clear();
        if (const NzbOrigin *o = m_nzb.originOf(it))
            for (const QString &g : o->groups)
                if (!m_missingGroups.count(g)) m_nzbGroups << g;
        m_nzbGroupAt = 0;
        partGroup = m_nzbGroups.value(0);
    }
    currentMessageId = QByteArray(pr.messageId.constData(), pr.messageId.size()).trimmed();
    currentArticleNumber = QByteArray::number(pr.articleNumber);
    if (it.subject.contains("[xx/000"))
        currentTitle = QString::fromLatin1(it.subject.left(it.subject.size() - 13) + pr.subjectTail);
    else
        currentTitle = QString::fromLatin1(it.subject);
    partBytesReceived = 0;
    currentPartSize = pr.byteCount;
    currentItem = item;
    currentPartNo = part;
    ui.setBarMax(UiState::Part, currentPartSize);
    ui.setBar(UiState::Part, 0);
    log(QStringLiteral("Downloading: ") + currentTitle, false);

    if (s.downloadStage == DownloadStage::BetweenParts) {
        selectGroupOrAsk();
    } else {
        if (s.TCP2.state() == 8) {
            s.closeConnection(ConnectionId::Download);
            log(QStringLiteral("Download Connection Error, please wait..."), true);
        }
        // A connection that said QUIT (the last run's end) only waits for its goodbye.
        if (s.TCP2.state() == 7 && s.quitSent(ConnectionId::Download)) s.closeConnection(ConnectionId::Download);
        if (s.TCP2.state() != 7) s.connectDownload();
    }
    s.downloadStage = DownloadStage::Requested;
}

void DownloadDriver::startDownloadGroup()
{
    Session &s = m_session;
    m_partStart.restart();
    s.noteActivity(ConnectionId::Download);
    downloadGroup.clear();
    m_core.ui.setScanEnabled(false);
    selectGroupOrAsk();
}

// The part's group when the connection is in another one; otherwise the article at once
// (a message-id needs no group, and a part of no group has none to select).
void DownloadDriver::selectGroupOrAsk()
{
    Session &s = m_session;
    if (!partGroup.isEmpty() && partGroup != downloadGroup) {
        downloadGroup = partGroup;
        s.sendDownload("GROUP " + downloadGroup.toLatin1());
    } else {
        s.downloadStage = DownloadStage::InGroup;
        requestArticle(currentMessageId, 1);
    }
}

// An imported part not in this group: the next group its NZB lists, and when none is
// left the part is missing; the rest of the post still comes, for par2 to mend.
void DownloadDriver::nextNzbGroupOrMissing()
{
    while (++m_nzbGroupAt < m_nzbGroups.size()) {
        if (m_missingGroups.count(m_nzbGroups[m_nzbGroupAt])) continue;
        partGroup = m_nzbGroups[m_nzbGroupAt];
        log(QStringLiteral("Not in ") + downloadGroup + QStringLiteral(", trying ") + partGroup + QStringLiteral(": ")
                + currentTitle,
            true);
        selectGroupOrAsk();
        return;
    }
    log(QStringLiteral("Segment ") + QString::number(currentPartNo) + QStringLiteral(" not on the server, left for repair: ")
            + currentTitle,
        true);
    m_cache.markMissing(currentItem, currentPartNo);
    nextPart();
}

void DownloadDriver::onDownloadReply(const QByteArray &reply)
{
    Session &s = m_session;
    if (reply.startsWith("211 ")) {
        s.downloadStage = DownloadStage::InGroup;
        requestArticle(currentMessageId, 1);
    } else if (m_nzbPart && (reply.startsWith("430 ") || reply.startsWith("423 ") || reply.startsWith("411 "))) {
        if (reply.startsWith("411 ")) m_missingGroups.insert(partGroup);
        nextNzbGroupOrMissing();
    } else if (reply.startsWith("430 ")) {
        if (articleAttempt != 2) {
            requestArticle(currentArticleNumber, 2);
        } else {
            skipItem();
        }
    } else if (reply.startsWith("423 ")) {
        skipItem();
    } else if (reply.startsWith("411 ")) {
        // The server does not carry the group: asking again would only stall the batch.
        m_missingGroups.insert(partGroup);
        skipItemOfMissingGroup();
    } else if (s.downloadStage == DownloadStage::Requested || s.downloadStage == DownloadStage::InGroup) {
        articleData(partBytesReceived + reply.size());
    }
}

// A part's rate is measured from the moment its request leaves.
void DownloadDriver::requestArticle(const QByteArray &which, int attempt)
{
    articleAttempt = attempt;
    m_partStart.restart();
    m_session.sendDownload("ARTICLE " + which);
}

double DownloadDriver::partElapsedMs() const { return double(m_partStart.nsecsElapsed()) / 1e6; }

// An item whose next part lies in a group the server said it does not carry: its own row
// in the processed list, out of the batch (not deleted), and on to the next item.
void DownloadDriver::skipItemOfMissingGroup()
{
    const QString why = QStringLiteral("Newsgroup ") + partGroup + QStringLiteral(" is not on the server");
    log(why + QStringLiteral(": skipping ") + QString::fromLatin1(m_store.item(currentItem).subject) + u'.', true);
    downloadGroup.clear();
    m_batch.RemoveFromBatch(currentItem, false, false);
    AddProcessedEntry(m_processed, m_store, currentItem, why, QString(), false);
    nextPart();
}

void DownloadDriver::skipItem()
{
    log(QStringLiteral("Article expired!  Skipping ") + QString::fromLatin1(m_store.item(currentItem).subject) + u'.', true);
    m_batch.RemoveFromBatch(currentItem, true, true);
    AddProcessedEntry(m_processed, m_store, currentItem, QStringLiteral("Item no longer available on server"), QString(),
                      false);
    nextPart();
}

void DownloadDriver::onProgress(qsizetype pendingBytes)
{
    const DownloadStage stage = m_session.downloadStage;
    if (stage == DownloadStage::Requested || stage == DownloadStage::InGroup) articleData(pendingBytes);
}

// The article so far; the line and the bars follow at most every few tenths of a second,
// which is all a person can read and keeps fast links from spending their time on it.
void DownloadDriver::articleData(qint64 totalBytes)
{
    const qint64 chunk = totalBytes - partBytesReceived;
    partBytesReceived = totalBytes;
    if (m_progressShown.elapsed() < kProgressMs) return;
    m_progressShown.restart();
    UiState &ui = m_core.ui;
    const QString speed = TransferSpeed(partElapsedMs(), partBytesReceived);
    const qint64 max = ui.bar(UiState::Part).max;
    log(QStringLiteral("Downloading: ") + currentTitle + u' ' + thousands(double(partBytesReceived) / 1000.0)
            + QStringLiteral("KB of ") + pointOne(double(max) / 1000.0) + QStringLiteral("KB @ ") + speed
            + QStringLiteral(" KBps"),
        false);
    if (partBytesReceived < 1 || max <= partBytesReceived) {
        if (max < partBytesReceived) ui.setBar(UiState::Part, max);
    } else {
        ui.setBar(UiState::Part, partBytesReceived);
        const UiState::Bar f = ui.bar(UiState::File);
        if (f.max > f.value + chunk) ui.setBar(UiState::File, f.value + chunk);
    }
}

QString DownloadDriver::TransferSpeed(double elapsedMs, qint64 bytes)
{
    // Fractions of a millisecond count: a part on a fast link takes well under one second,
    // and a small one under one millisecond.
    const qint64 rate = elapsedMs <= 0 ? 0 : qint64(std::ceil(double(bytes) * 1000.0 / elapsedMs));
    const QString oldBatch = batchEta, oldFile = fileEta;
    if (rate < 101) {
        batchEta.clear();
        fileEta.clear();
    } else {
        const UiState::Bar f = m_core.ui.bar(UiState::File);
        const double kbps = double(rate) / 1000.0;
        const qint64 batchSecs = roundEven((double(m_batch.batchTotalKB()) - double(f.value) / 1000.0) / kbps);
        if (m_batch.batchRows() > 1 && batchSecs > 0)
            batchEta = QStringLiteral("Entire batch ETA: ") + FinishTimeText(batchSecs) + QStringLiteral(" (")
                       + DurationText(batchSecs) + u')';
        else
            batchEta.clear();
        const qint64 fileSecs = roundEven((double(f.max) / 1000.0 - double(f.value) / 1000.0) / kbps);
        if (fileSecs != 0)
            fileEta = QStringLiteral("Current file ETA: ") + FinishTimeText(fileSecs) + QStringLiteral(" (")
                      + DurationText(fileSecs) + u')';
        else
            fileEta.clear();
    }
    if (oldBatch != batchEta || oldFile != fileEta) emit etaChanged();
    return QString::number(double(rate) / 1000.0, 'f', 1);
}

void DownloadDriver::onArticle(const QByteArray &article) { ArticleReceived(article); }

void DownloadDriver::ArticleReceived(QByteArray article)
{
    Session &s = m_session;
    partBytesReceived = article.size();
    const QString speed = TransferSpeed(partElapsedMs(), partBytesReceived);
    log(QStringLiteral("Article Retrieved: ") + currentTitle + u' ' + thousands(double(partBytesReceived) / 1000.0)
            + QStringLiteral("kb [") + speed + QStringLiteral(" KBps]"),
        true);
    article = StripArticle(std::move(article));
    const QString subject = QString::fromLatin1(m_store.item(currentItem).subject);
    if (article.isEmpty()) {
        log(QStringLiteral("Article not delivered; skipping ") + subject + u'.', true);
        s.batchRunning = 0;
        s.downloadStage = DownloadStage::BetweenParts;
        m_batch.RemoveFromBatch(currentItem, true, true);
        AddProcessedEntry(m_processed, m_store, currentItem, QStringLiteral("Server sent empty article!"), QString(), false);
        s.emergencyRestart(ConnectionId::Download);
        return;
    }
    const HeaderItem &it = m_store.item(currentItem);
    const PartRecord &pr = it.parts[size_t(currentPartNo - 1)];
    if (IsCorruptArticle(article, QByteArray(pr.messageId.constData(), pr.messageId.size()).trimmed())) {
        const std::pair<int, int> at{currentItem, currentPartNo};
        m_corruptTries = m_corruptAt == at ? m_corruptTries + 1 : 1;
        m_corruptAt = at;
        if (m_corruptTries >= 3) {
            // The same part came corrupt three times: the server's copy is bad, not the link.
            m_corruptTries = 0;
            const QString why = QStringLiteral("Corrupt data in part ") + QString::number(currentPartNo)
                                + QStringLiteral(" three times: skipped");
            log(why + QStringLiteral(" ") + subject + u'.', true);
            m_batch.RemoveFromBatch(currentItem, false, false);
            AddProcessedEntry(m_processed, m_store, currentItem, why, QString(), false);
            nextPart();
            return;
        }
        log(QStringLiteral("Corrupt data detected, restarting...") + subject + u'.', true);
        s.batchRunning = 0;
        s.downloadStage = DownloadStage::BetweenParts;
        AddProcessedEntry(m_processed, m_store, currentItem, QStringLiteral("Corrupt data detected!"), QString(), false);
        s.emergencyRestart(ConnectionId::Download);
        return;
    }
    article = TameSubjectParens(std::move(article));
    const QString name = m_cache.PartCacheFile(currentItem, currentPartNo);
    QString error;
    if (!writeWhole(name, article, &error)) {
        log(QStringLiteral("ArticleReceived Error:") + error, true);
        // The same part would fail again at once: stop the run and leave the batch as it is.
        endBatchRun(RunEnd::CacheWriteFailed);
        return;
    }
    log(QStringLiteral("File saved: ") + name, true);
    nextPart();
}

// The pool fetches the parts of this row's item and every one after it, over all its
// connections; the run comes back here as items are in.
void DownloadDriver::handToPool(int fromRow)
{
    std::vector<int> items;
    for (int row = fromRow; row < m_batch.batchRows(); ++row) items.push_back(m_batch.tagAt(row));
    m_session.batchRunning = 0;
    m_session.downloadStage = DownloadStage::Requested;
    m_pool.fetch(items);
}

QString DownloadDriver::sourceNote(int item) const
{
    if (!m_pooled) return {};
    QStringList parts;
    if (auto it = m_deliveredBy.find(item); it != m_deliveredBy.end()) {
        QStringList servers = it->second;
        servers.sort();
        parts << QStringLiteral("from ") + servers.join(QStringLiteral(", "));
    }
    if (auto it = m_onNoServer.find(item); it != m_onNoServer.end())
        parts << QString::number(it->second) + QStringLiteral(" part(s) on no server");
    return parts.join(QStringLiteral("; "));
}

QStringList DownloadDriver::connectionStates() const
{
    if (m_pooled && m_pool.openConnections() > 0) return m_pool.connectionStates();
    if (m_session.TCP2.state() == 0) return {};
    QString state = socketStateText(m_session.TCP2.state());
    if (m_session.downloadStage != DownloadStage::Idle && currentItem > 0)
        state += QStringLiteral(": part ") + QString::number(currentPartNo) + QStringLiteral(" of ") + QString::fromLatin1(m_store.item(currentItem).subject);
    return {QStringLiteral("Connection 2 (") + m_core.settings.News_Host + QStringLiteral("): ") + state};
}

bool DownloadDriver::usesPool(const Settings &s)
{
    const std::vector<ServerEntry> servers = FetchPool::serversOf(s);
    return servers.size() > 1 || servers.front().connections > 1;
}

void DownloadDriver::stop()
{
    Session &s = m_session;
    if (s.batchRunning != 0 || (m_pooled && s.downloadStage != DownloadStage::Idle)) {
        endBatchRun(RunEnd::Stopped);
    } else {
        m_core.countdown.cancel();
    }
}

void DownloadDriver::setIdle()
{
    batchEta.clear();
    fileEta.clear();
    emit etaChanged();
    emit runningChanged(false);
}

} // namespace vt
