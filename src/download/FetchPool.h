#pragma once
// The one download engine: parts fetched over every connection of every server, one
// connection or fifty alike. Each connection logs in through its own LoginSequence and
// asks for its parts through its own ArticleFetch, keeping two asked for so that the
// server's latency is not paid between them. What a server lacks is asked of the other
// servers of its level, then of the backup levels in order; on none the part is marked
// missing and the item decodes with a gap, for par2 to mend.
//
// Recovery, the same for every connection: a connection that drops, stalls or is cut
// gives its parts back and comes again after a second; one that cannot connect (refused,
// unreachable, turned away at the door) leaves its server resting for the restart wait,
// and when no connection is left for what remains the pool stops and asks for the
// emergency restart of the whole download. No answer of any server can make it loop: an
// answer not understood, and a connection lost in the middle of a part, count as a failed
// try of that part on that server, and after a few the part goes on to the next server.
#include "ArticleFetch.h"
#include "DirectWrite.h"
#include "core/Settings.h"
#include "nntp/Connection.h"
#include "nntp/LoginSequence.h"
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace vt {

class AppCore;
class HeaderStore;
class NzbCatalog;
class PartCache;

class FetchPool : public QObject {
    Q_OBJECT
public:
    FetchPool(AppCore &core, const HeaderStore &store, PartCache &cache, const NzbCatalog &nzb, QObject *parent = nullptr);
    ~FetchPool() override;

    // The servers to use: the first from the settings' own keys, then the others.
    void setServers(std::vector<ServerEntry> servers);
    int serverCount() const { return int(m_servers.size()); }
    static std::vector<ServerEntry> serversOf(const Settings &s);
    // Accepted certificates, as the session checks them.
    Connection::CertificateCheckFn certificateCheck;
    // Connections lost in a row without a part delivered before a server rests.
    static constexpr int kLossesBeforeRest = 5;
    // Tries of one part on one server (answers not understood, connections lost on it).
    static constexpr int kTries = 3;
    static constexpr int kLostHalves = 2 * kTries - 1;
    // Slower than this over the whole timeout, a reply counts as silence.
    static constexpr qint64 kTrickleBytesPerSecond = 1024;

    // Queues the parts of these items that are neither in the cache nor known missing,
    // in this order; items already queued are passed over.
    void fetch(const std::vector<int> &items);
    bool fetching(ItemRef item) const { return m_pending.count(item) > 0; }
    // Article bytes the decoding workers may hold before the connections wait for them.
    static constexpr qint64 kWriterBacklog = 128 * 1024 * 1024;
    void setWriterBacklog(qint64 bytes) { m_writerBacklog = bytes; }
    int writerHolds() const { return m_writerHolds; }
    // Closes every connection; what is in the cache stays, the queue is emptied.
    void stop();
    // Nothing queued and no item waiting for a part.
    bool idle() const { return m_pending.empty() && m_queue.empty(); }
    bool busy() const { return !m_queue.empty() || busyConnections() > 0; }
    int busyConnections() const;
    int openConnections() const { return int(m_workers.size()); }
    int openOn(int server) const;
    // Connections of the main server (the first) held elsewhere now: the scan's. They
    // count against its limit.
    std::function<int()> mainServerLent;
    // Each connection's state, one line each, for the window.
    QStringList connectionStates() const;

    // Progress: bytes of an item in (stored, missing, or arriving now) of its total, the
    // bytes received in this run and the rate over the last seconds.
    struct Progress {
        qint64 done = 0, total = 0;
    };
    Progress progress(ItemRef item) const;
    qint64 runBytes() const { return m_runBytes; }
    // Bytes in of the items this run holds (those not forgotten yet).
    qint64 doneBytes() const;
    double bytesPerSecond() const;
    // Why the last part of an item on no server was missing ("Item no longer available
    // on server", "Server sent empty article!", ...), and how many of its parts were.
    QString missingWhy(ItemRef item) const;
    int missingParts(ItemRef item) const;
    // Servers that delivered an item's parts in this run.
    QStringList deliveredBy(ItemRef item) const;
    void forget(ItemRef item);
    // Takes an item's parts out of the queue (it was paused); parts already asked for
    // still come in.
    void withdraw(ItemRef item);

signals:
    void partStored(vt::ItemRef item, int part, const QString &server, qint64 bytes, double ms);
    void partMissing(vt::ItemRef item, int part, const QString &why);
    // Every part of the item is in the cache, or known to be on no server.
    void itemFetched(vt::ItemRef item);
    void localFailure(const QString &why);
    // No connection is left and none can be made now: the whole download waits for the
    // restart countdown. why names the server and what happened.
    void restartNeeded(const QString &why);
    void finished();

private:
    enum class Why { NotFound, GroupNotCarried, Empty, Corrupt, NotUnderstood };
    struct Book {   // what the pool knows of a queued part
        int level = 0;
        std::set<int> tried;        // servers that have no (good) copy
        std::map<int, int> tries;   // failed tries per server
        std::map<int, int> lostHalves, losses;   // connections lost on it, per server
        int badCopies = 0;
        Why why = Why::NotFound;
        QString text;
    };
    using Key = std::pair<ItemRef, int>;
    struct Server {
        ServerEntry entry;
        int allowed = 1;         // connections it takes now
        qint64 restUntil = 0;    // ms of m_clock: no new connection before
        int lossesInARow = 0;
        ArticleFetch::Groups groups;
        QString name() const { return entry.host + u':' + entry.port; }
    };
    struct Worker {
        int id = 0;
        int server = 0;
        std::unique_ptr<Connection> conn;
        LoginSequence login;
        ArticleFetch fetch;
        std::deque<Key> asked;   // what fetch has in flight, for progress and the window
        qint64 lastData = 0;
        qint64 counted = 0;      // bytes of conn already added to the run
        qint64 replyFrom = 0;    // ns of m_clock: when the reply now arriving could start
        qint64 windowAt = 0, windowBytes = 0;   // the watchdog's last look at what came
        bool ready = false;
        bool delivered = false;
        bool held = false;
    };
    enum class Loss { Dropped, AtTheDoor, Refused };

    void dispatch();
    void openConnections(int server);
    bool eligible(const Key &k, int server) const;
    void onReply(Worker &w, const Reply &r);
    bool apply(Worker &w, std::vector<ArticleFetch::Action> &acts);
    void store(Worker &w, FetchJob job, const QByteArray &raw, double ms);
    static bool looksYenc(const QByteArray &raw, qsizetype body);
    void gone(const FetchJob &job);
    bool soundCopy(int server, FetchJob &job, const QByteArray &article, bool empty);
    void storeInCache(int server, FetchJob job, const QByteArray &raw, double ms);
    void stored(int server, const FetchJob &job, int item, qint64 rawBytes, double ms);
    void directDone(DirectWriter::Result r);
    void badCopy(int server, FetchJob job, Why why, const QString &text);
    void failedTry(int server, FetchJob job, Why why, const QString &text);
    void notHere(int server, FetchJob job, Why why, const QString &text = {});
    void lost(Worker &w, const QString &why, Loss loss);
    void refusedOne(int server, int id, const QString &why, int left);
    bool giveBack(Worker &w, bool countFront);   // whether a part was found to break it
    bool otherServerFor(const Key &k, int server) const;
    bool stranded() const;
    void openTurn();
    void closeTurnIfSpent();
    void holdAll();
    void releaseHolds();
    bool writersFull() const;
    void partDone(ItemRef item, qint64 bytes);
    void watchdogTick();
    void countBytes(Worker &w);
    Worker *find(int id);
    void retire(std::unique_ptr<Connection> c);
    void log(const QString &msg);
    QString subjectOf(ItemRef item) const;
    QString whyText(const Book &b) const;
    std::vector<int> levels() const;
    FetchJob jobFor(int item, int part) const;

    AppCore &m_core;
    const HeaderStore &m_store;
    PartCache &m_cache;
    const NzbCatalog &m_nzb;
    std::vector<Server> m_servers;
    std::deque<FetchJob> m_queue;
    std::map<Key, Book> m_book;
    struct ItemWork {
        int pending = 0;
        qint64 done = 0, total = 0;
        int missing = 0;
        QString missingWhy;
        QStringList servers;
    };
    std::map<ItemRef, ItemWork> m_items;
    std::set<ItemRef> m_pending;
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_nextId = 0;
    QElapsedTimer m_clock;
    QTimer m_tick;
    bool m_dispatchQueued = false;
    QElapsedTimer m_turn;   // since the first part stored in this turn of the event loop
    bool m_turnOpen = false;
    qint64 m_runBytes = 0;
    qint64 m_doneSum = 0;   // done of every item in m_items
    std::deque<std::pair<qint64, qint64>> m_rate;   // (ms, run bytes) samples
    // Parts with a worker, by ticket; a stop starts a new generation.
    struct InDirect {
        FetchJob job;
        int server = 0;
        double ms = 0;
        qint64 rawBytes = 0;
        quint64 generation = 0;
    };
    std::map<quint64, InDirect> m_inDirect;
    quint64 m_tickets = 0, m_generation = 0;
    qint64 m_writerBacklog = kWriterBacklog;
    int m_writerHolds = 0;
};

} // namespace vt
