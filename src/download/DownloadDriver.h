#pragma once
// The download driver: walks the batch and hands its items to the pool, which fetches
// their parts over every connection there is (one or many, one server or several); each
// item whose parts are all in (or known to be on no server) goes to the decode thread, in
// batch order. It shows the progress of the item at the top of the batch and of the whole
// batch, the rate and the times left, and ends the run.
#include "download/DecodeQueue.h"
#include "FetchPool.h"
#include "Par2Sets.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <deque>
#include <QTimer>

namespace vt {

class AppCore;
class BatchQueue;
class Decoder;
class HeaderStore;
class NzbCatalog;
class PartCache;
class ProcessedList;
class Session;

// "h:mm AM" from now + s seconds; a long date before it from one day and a second on.
QString FinishTimeText(qint64 seconds, const QDateTime &now = QDateTime::currentDateTime());
QString DurationText(qint64 seconds);

class DownloadDriver : public QObject {
    Q_OBJECT
public:
    DownloadDriver(AppCore &core, Session &session, HeaderStore &store, BatchQueue &batch, ProcessedList &processed,
                   PartCache &cache, Decoder &decoder, const NzbCatalog &nzb, QObject *parent = nullptr);

    // Where a run is: none, parts being fetched (and decoded as they come), or nothing
    // left to fetch while the last decodes run.
    enum class RunState { Idle, Fetching, Decoding };
    RunState state() const { return m_state; }
    bool running() const { return m_state != RunState::Idle; }
    // The run stopped because no connection could be made: the countdown restarts it.
    bool restartPending() const { return m_restartPending; }

    // The Download button and the status light.
    void startCheck();
    // Starts a run, or takes the batch's new items into the running one.
    void BOT1();
    // "Abort Download".
    void stop();
    // Failed rows of the processed page done again: an item goes back into the batch, a
    // post's par2 set or archive is checked or unpacked again. Returns how many were taken.
    int retryProcessed(std::vector<int> rows);
    // The program ends: connections say goodbye, decodes not started are dropped.
    void shutdown();

    // Speed text in KB/s for bytes over a time; refreshes the two ETA texts from the
    // batch's size and the file bar.
    QString TransferSpeed(double elapsedMs, qint64 bytes);

    // Decodes queued or running on the decode thread.
    const DecodeQueue &decodes() const { return m_decodes; }
    // par2 sets among the decoded files, checked when a download ends.
    Par2Sets &par2() { return m_par2; }
    FetchPool &pool() { return m_pool; }
    // Which servers delivered an item's parts in this run, and how many were on none.
    QString sourceNote(int item) const;
    // Each download connection's state, one line each (none when nothing is open).
    QStringList connectionStates() const { return m_pool.connectionStates(); }

    // The progress of a run: the item at the top of the batch, the whole batch (bytes in
    // of bytes in all), the rate over the last seconds (bytes/s).
    struct Progress {
        int topItem = 0;
        qint64 itemDone = 0, itemTotal = 0;
        qint64 batchDone = 0, batchTotal = 0;
        double rate = 0;
    };
    Progress progress() const;

    // The two ETA lines under the batch; empty = hidden.
    QString batchEta, fileEta;

signals:
    void etaChanged();
    void runningChanged(bool running);
    void progressChanged();
    // A run is over (its post-processing too), or stopped by a failure: what to tell.
    void runOver(bool ok, const QString &text);

private:
    // How a run ends. LocalFailure: something here, not the post, is wrong (a folder, the
    // disk, the library in use), and every later item would fail the same way; the batch
    // stops as it is, with the parts in the cache, and the user is told.
    enum class RunEnd { Finished, Stopped, LocalFailure, WaitingForRestart };
    void jobFolderDone(int item);
    void endBatchRun(RunEnd reason, const QString &why = {});
    void step();
    void onDecoded(int item, bool decoded, const QString &localFailure);
    void onItemFetched(ItemRef item);
    bool allMissing(int item);
    void showProgress();
    void showItemFlows(double rate);
    void showEtas(double bytesPerSecond, qint64 batchLeft, qint64 fileLeft);
    void log(const QString &msg, bool record);
    // What a run and the post-processing it leads to came to, said once both are over:
    // "Done: 41 decoded, 11 failed, 2 repaired".
    struct Tally {
        bool open = false;
        int decoded = 0, failed = 0, repaired = 0, notRepaired = 0;
    };
    Tally m_tally;
    // The parts a logged rate is measured over: the last ones that make kRateBytes.
    static constexpr qint64 kRateBytes = 256 * 1024;
    std::deque<std::pair<qint64, double>> m_rateWindow;
    qint64 m_rateBytes = 0;
    double m_rateMs = 0;
    void summaryIfOver();

    AppCore &m_core;
    Session &m_session;
    HeaderStore &m_store;
    BatchQueue &m_batch;
    ProcessedList &m_processed;
    PartCache &m_cache;
    Decoder &m_decoder;
    const NzbCatalog &m_nzb;
    QHash<int, QString> m_passwords;   // items being decoded -> their NZB's password
    DecodeQueue m_decodes{m_decoder};
    Par2Sets m_par2;
    FetchPool m_pool;
    RunState m_state = RunState::Idle;
    bool m_restartPending = false;
    bool m_stepQueued = false;
    QTimer m_progressTimer;
};

} // namespace vt
