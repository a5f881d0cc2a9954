#pragma once
// The scan: walks the newsgroup list with GROUP, fetches overview bursts with XOVER and
// crunches each burst into the header store.
#include "BurstParser.h"
#include "ScanPlan.h"
#include "ScanPool.h"
#include "core/StopWatch.h"
#include <deque>
#include <map>
#include "nntp/Session.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <functional>

namespace vt {

class AppCore;
class HeaderStore;
class NewsgroupTable;

// The line that reports a crunched burst.
QString crunchMessage(qint64 count, qint64 ms);

class ScanDriver : public QObject, public ScanHandler {
    Q_OBJECT
public:
    ScanDriver(AppCore &core, Session &session, NewsgroupTable &groups, HeaderStore &store, QObject *parent = nullptr);

    // ScanHandler
    void ScanHeaders(bool advance) override;
    void onGroupSelected(const QByteArray &reply) override;
    void onNoSuchGroup(const QByteArray &reply) override;
    void onGroupLost() override;
    void onBurst(const QByteArray &burst) override;
    void onNoOverview(const QByteArray &reply) override;
    bool dropStaleReply(const QByteArray &command) override;
    void abortScan(bool byUser) override;
    bool hasGroups() const override;
    QString currentGroupName() const override { return m_currentGroupName; }
    void resetNewFlags() override;
    void clearOverviewRangeStart() override;

    void requestNextBurst();
    // A whole burst at once (tests); the scan itself crunches in slices (onBurst).
    void parse_xoverdata(const QByteArray &burst);
    bool crunching() const;
    static constexpr int kSliceLines = 1000;
    void xover_proccess(const QByteArray &burst, qsizetype from, qsizetype to);
    // One parsed line into the store.
    void fileHeader(const ParsedHeader &h);
    void ReportCrunchProgress();
    void AutoExpire(quint8 key, qint32 first);

    // Connections of the main server the download holds now (the two share its limit).
    std::function<int()> downloadConnections;
    // Connections of the main server the scan holds beyond its own.
    int poolConnections() const { return m_pool.openConnections(); }
    // The articles a task of the many-connection scan asks for.
    int taskSize(qint64 range, int connections) const;
    ScanPool &pool() { return m_pool; }
    // Ranges of a group filed beyond its mark by a many-connection scan that was stopped.
    ScanPlan::Ranges filedBeyond(quint8 key) const
    {
        const auto it = m_filedBeyond.find(key);
        return it == m_filedBeyond.end() ? ScanPlan::Ranges{} : it->second;
    }

    // What the scan touches elsewhere, wired by the program.
    std::function<void()> batchLifeUpdate;
    std::function<void()> startBatchDownload;
    std::function<void()> scanEnded;   // every group scanned, before the download it may start
    std::function<void()> saveHeaders;
    std::function<void()> saveFavourites;
    std::function<void(int)> removeFromBatch;

    // Scan state.
    int groupListIndex = 0;
    QDateTime scanStartTime;
    qint64 scanHeaderTotal = 0;
    quint8 currentGroupKey = 0;
    bool groupReplyTaken = false;
    qint32 groupFirst = 0, groupLast = 0, groupArticleCount = 0;
    qint32 newToFetch = 0;
    qint32 overviewRangeStart = 0, overviewRangeEnd = 0;
    qint64 burstHeaderCount = 0;
    qint32 burstHighArticle = 0;
    int yieldCounter = 0;

    // The burst size after a crunch of ms milliseconds (lowered near the timeout).
    int speedHint(qint64 ms);
    QString readCounterText() const;
    QString itemCounterText() const;

signals:
    // The header list follows: a burst was filed, items of a group expired, every item
    // lost its "new" flag.
    void burstFiled();
    void itemsExpired(quint8 groupKey);
    void newFlagsReset();
    void countersChanged();
    // Every group scanned: the line that says so.
    void scanOver(const QString &text);

private:
    struct Crunch {
        QByteArray burst;
        qsizetype lineStart = 0;
        qsizetype cr = -2;   // the next line's CR, -2 before the first look
        bool first = true;
        bool reported = false;
        // Parsed on a parser thread: filed from here once done.
        std::shared_ptr<ParsedBurst> parsed;
        size_t next = 0;
        bool awaitingParse = false;   // the parser's ready call goes on with it
    };
    int burstSize() const;
    QByteArray xoverCommand(qint32 start, qint32 end) const;
    void beginCrunch(const QByteArray &burst);
    void beginCrunch(std::shared_ptr<ParsedBurst> parsed);
    void lineCrunched(Crunch &c, int everyN);
    std::shared_ptr<ParsedBurst> parseAhead(const QByteArray &lines);
    bool crunchLines(int most);   // true when the burst is done; most 0: all
    void endCrunch();
    void crunchStep();
    std::unique_ptr<Crunch> m_crunch;
    // The many-connection scan of the current group: its plan, the bursts waiting for the
    // crunch, the task being crunched; and what was filed beyond each group's mark.
    bool startPool();
    void pooledBurst(const ScanTask &t, const QByteArray &lines);
    void pooledFiled(const ScanTask &t);
    void endPooledIfOver();
    void stopPool();
    void finishScan();
    void afterBurst();
    void forgetRequestAhead();
    QString scanTimeText(qint64 ms) const;
    void log(const QString &m, bool record = true);
    QString speedText(qint64 secs) const;

    AppCore &m_core;
    Session &m_session;
    NewsgroupTable &m_groups;
    HeaderStore &m_store;
    QString m_currentGroupName;
    CStopWatch m_watch;
    QElapsedTimer m_progressShown;
    bool m_haveRange = false;           // a burst was asked for in the current group
    // The next bursts' requests, sent while this one comes and is crunched: two, so that a
    // far server always holds one more and the link never waits out a round trip.
    std::deque<QByteArray> m_ahead;
    static constexpr size_t kAhead = 2;
    qint32 m_aheadEnd = 0;              // where the last of them ends
    std::vector<QByteArray> m_stale;    // requests sent ahead whose replies are not wanted
    ScanPool m_pool;
    ScanPlan m_plan;
    bool m_pooled = false, m_poolGaveUp = false;
    std::deque<std::pair<ScanTask, std::shared_ptr<ParsedBurst>>> m_waiting;
    size_t waitingLimit() const;
    void releaseBuffers();
    ScanTask m_crunchTask;
    std::map<quint8, ScanPlan::Ranges> m_filedBeyond;
    BurstParser m_parser{this};   // last: its thread ends before the rest goes
};

} // namespace vt
