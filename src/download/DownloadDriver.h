#pragma once
// The download driver: walks the batch on the download connection, one part at a time,
// always on the top row; stores each article in the part cache and hands a complete item
// to the decoder.
#include "download/DecodeQueue.h"
#include "FetchPool.h"
#include "Par2Sets.h"
#include "nntp/Session.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <map>
#include <set>
#include <utility>

namespace vt {

class AppCore;
class BatchQueue;
class Decoder;
class HeaderStore;
class NzbCatalog;
class PartCache;
class ProcessedList;

// "h:mm AM" from now + s seconds; a long date before it from one day and a second on.
QString FinishTimeText(qint64 seconds, const QDateTime &now = QDateTime::currentDateTime());
QString DurationText(qint64 seconds);

class DownloadDriver : public QObject, public DownloadHandler {
    Q_OBJECT
public:
    DownloadDriver(AppCore &core, Session &session, HeaderStore &store, BatchQueue &batch, ProcessedList &processed,
                   PartCache &cache, Decoder &decoder, const NzbCatalog &nzb, QObject *parent = nullptr);

    // The Download button and the status light.
    void startCheck();
    void BOT1();
    // "Abort Download".
    void stop();

    // Speed text in KB/s; refreshes the two ETA texts.
    QString TransferSpeed(double elapsedMs, qint64 bytes);
    void ArticleReceived(QByteArray article);

    // DownloadHandler
    void startDownloadGroup() override;
    void onDownloadReply(const QByteArray &reply) override;
    void onArticle(const QByteArray &article) override;
    void onProgress(qsizetype pendingBytes) override;
    void setIdle() override;

    // Decodes queued or running on the decode thread.
    const DecodeQueue &decodes() const { return m_decodes; }
    // par2 sets among the decoded files, checked when a download ends.
    Par2Sets &par2() { return m_par2; }
    // The connections of a run with more than one (several connections or servers).
    FetchPool &pool() { return m_pool; }
    // Which servers delivered an item's parts in this run, and how many were on none
    // (empty when the run does not go through the pool).
    QString sourceNote(int item) const;
    // Each download connection's state, one line each (none when nothing is open).
    QStringList connectionStates() const;
    // Whether a run uses the pool: more than one connection or more than one server.
    static bool usesPool(const Settings &s);

    // What the driver is on (shown and tested).
    int currentItem = 0;
    int currentPartNo = 0;
    qint32 currentPartSize = 0;
    QByteArray currentMessageId, currentArticleNumber;
    QString currentTitle;
    QString partGroup, downloadGroup;
    int articleAttempt = 0;
    qint64 partBytesReceived = 0;

    // The two ETA lines under the batch; empty = hidden.
    QString batchEta, fileEta;

    // How a run ends. LocalFailure: something here, not the post, is wrong (a folder, the
    // disk, the library in use), and every later item would fail the same way; the batch
    // stops as it is, with the parts in the cache, and the user is told.
    enum class RunEnd { Finished, Stopped, LocalFailure, CacheWriteFailed };

signals:
    void etaChanged();
    void runningChanged(bool running);

private:
    void endBatchRun(RunEnd reason, const QString &why = {});
    void nextPart();
    void waitForDecodes();
    void onDecoded(int item, bool decoded, const QString &localFailure);
    void skipItemOfMissingGroup();
    void skipItem();
    void articleData(qint64 totalBytes);
    void restartPart();
    void requestArticle(const QByteArray &which, int attempt);
    void selectGroupOrAsk();
    void nextNzbGroupOrMissing();
    double partElapsedMs() const;
    void log(const QString &msg, bool record);

    AppCore &m_core;
    Session &m_session;
    HeaderStore &m_store;
    BatchQueue &m_batch;
    ProcessedList &m_processed;
    PartCache &m_cache;
    Decoder &m_decoder;
    const NzbCatalog &m_nzb;
    // A part of an imported post is asked for by message-id in each group its NZB lists.
    bool m_nzbPart = false;
    QStringList m_nzbGroups;
    int m_nzbGroupAt = 0;
    DecodeQueue m_decodes{m_decoder};
    Par2Sets m_par2;
    FetchPool m_pool;
    bool m_pooled = false;      // this run fetches through the pool
    qint64 m_pooledBytes = 0;   // stored by the pool in this run
    std::map<int, QStringList> m_deliveredBy;   // item -> servers that sent its parts
    std::map<int, int> m_onNoServer;            // item -> parts no server had
    QElapsedTimer m_runClock;
    void handToPool(int fromRow);
    QElapsedTimer m_partStart;
    QElapsedTimer m_progressShown;
    std::set<QString> m_missingGroups;        // answered 411 in this run
    std::pair<int, int> m_corruptAt{0, 0};    // item and part that last came corrupt
    int m_corruptTries = 0;
};

} // namespace vt
