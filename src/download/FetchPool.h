#pragma once
// Parts fetched over many connections to several servers at once. Each connection logs in
// through its own LoginSequence, takes the next part that its server has not been asked
// for, and stores the article in the part cache as the single download connection does.
// Each connection keeps two parts asked for, so that the server's latency is not paid
// between them. A part that the main servers (level 0) do not have is asked of the backup levels in
// order; on none it is marked missing. A connection that drops, stalls or is cut gives
// its part back and comes again after a pause; with emergency restart off it stays
// closed, and the run stops once what remains has no connection left. A server that
// refuses a connection (502, 481, 400) goes on with fewer, and is tried again later,
// never in a tight loop.
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
class PartCache;

class FetchPool : public QObject {
    Q_OBJECT
public:
    FetchPool(AppCore &core, const HeaderStore &store, PartCache &cache, QObject *parent = nullptr);
    ~FetchPool() override;

    // The servers to use: the first from the settings' own keys, then the others.
    void setServers(std::vector<ServerEntry> servers);
    static std::vector<ServerEntry> serversOf(const Settings &s);
    // A server that refused is tried again after this long (ms).
    int retryAfterMs = 30000;
    // Accepted certificates, as the session checks them.
    Connection::CertificateCheckFn certificateCheck;

    // Queues the parts of these items that are not in the cache yet, in this order (an item
    // with none left is passed over).
    void fetch(const std::vector<int> &items);
    // Closes every connection; what is in the cache stays, the queue is emptied.
    void stop();
    bool busy() const { return !m_queue.empty() || busyConnections() > 0; }
    int busyConnections() const;
    int openConnections() const { return int(m_workers.size()); }
    // Each connection's state, one line each, for the window.
    QStringList connectionStates() const;

signals:
    void partStored(int item, int part, const QString &server);
    void partMissing(int item, int part);
    // Every part of the item is in the cache, or known to be on no server.
    void itemFetched(int item);
    void localFailure(const QString &why);
    void finished();

private:
    struct Job {
        int item = 0, part = 0;
        QByteArray msgid;
        int level = 0;
        std::set<int> tried;   // servers that said they do not have it
        int corrupt = 0;
    };
    struct Server {
        ServerEntry entry;
        int allowed = 1;         // connections it takes now
        qint64 restUntil = 0;    // ms of m_clock: no new connection before
        QString name() const { return entry.host + u':' + entry.port; }
    };
    struct Worker {
        int id = 0;
        int server = 0;
        std::unique_ptr<Connection> conn;
        LoginSequence login;
        std::deque<Job> jobs;   // asked for, answered in this order
        qint64 lastData = 0;
        bool ready = false;
        bool held = false;   // replies wait for the next turn
    };

    void dispatch();
    void openConnections(int server);
    bool eligible(const Job &j, int server) const;
    void onReply(Worker &w, const Reply &r);
    void store(Worker &w, const Reply &r);
    void notHere(int server, Job j);
    void lost(Worker &w, const QString &why, bool refused);
    void giveBack(Worker &w);
    bool stranded() const;
    void openTurn();
    void closeTurnIfSpent();
    void partDone(int item);
    void watchdogTick();
    Worker *find(int id);
    void retire(std::unique_ptr<Connection> c);
    void log(const QString &msg);
    std::vector<int> levels() const;

    AppCore &m_core;
    const HeaderStore &m_store;
    PartCache &m_cache;
    std::vector<Server> m_servers;
    std::deque<Job> m_queue;
    std::map<int, int> m_pending;   // item -> parts not yet done
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_nextId = 0;
    QElapsedTimer m_clock;
    QTimer m_tick;
    bool m_dispatchQueued = false;
    QElapsedTimer m_turn;   // since the first part stored in this turn of the event loop
    bool m_turnOpen = false;
};

} // namespace vt
