#include "FetchPool.h"
#include "ArticleText.h"
#include "PartCache.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "headers/HeaderStore.h"
#include <QFile>
#include <algorithm>

namespace vt {

namespace {
constexpr int kCorruptTries = 3;
constexpr size_t kDepth = 2;           // parts asked for ahead on each connection
constexpr qint64 kReconnectMs = 1000;   // after a lost connection, before the next one
constexpr qint64 kTurnBudgetNs = 8'000'000;   // parts stored in one turn of the event loop
} // namespace

FetchPool::FetchPool(AppCore &core, const HeaderStore &store, PartCache &cache, QObject *parent)
    : QObject(parent), m_core(core), m_store(store), m_cache(cache)
{
    m_clock.start();
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &FetchPool::watchdogTick);
}

FetchPool::~FetchPool() = default;

// A connection done with goes once the event loop is back (it may be the one whose signal
// led here), and with the pool at the latest.
void FetchPool::retire(std::unique_ptr<Connection> c)
{
    Connection *raw = c.release();
    raw->setParent(this);
    raw->deleteLater();
}

std::vector<ServerEntry> FetchPool::serversOf(const Settings &s)
{
    std::vector<ServerEntry> out{s.firstServer()};
    for (const ServerEntry &e : s.servers)
        if (e.enabled && !trimBlanks(e.host).isEmpty()) out.push_back(e);
    return out;
}

void FetchPool::setServers(std::vector<ServerEntry> servers)
{
    m_servers.clear();
    for (ServerEntry &e : servers) {
        if (!e.enabled || trimBlanks(e.host).isEmpty()) continue;
        if (trimBlanks(e.port).isEmpty()) e.port = e.tls ? QStringLiteral("563") : QStringLiteral("119");
        Server s;
        s.allowed = std::clamp(e.connections, 1, 50);
        s.entry = std::move(e);
        m_servers.push_back(std::move(s));
    }
}

void FetchPool::log(const QString &msg) { m_core.LogOp(msg, true); }

std::vector<int> FetchPool::levels() const
{
    std::vector<int> l;
    for (const Server &s : m_servers) l.push_back(s.entry.level);
    std::sort(l.begin(), l.end());
    l.erase(std::unique(l.begin(), l.end()), l.end());
    return l;
}

void FetchPool::fetch(const std::vector<int> &items)
{
    const std::vector<int> lv = levels();
    for (int item : items) {
        if (item < 1 || item > m_store.itemCount() || m_pending.count(item)) continue;
        const HeaderItem &it = m_store.item(item);
        int queued = 0;
        for (int p = 1; p <= int(it.parts.size()); ++p) {
            if (m_cache.isCached(item, p) || m_cache.isMissing(item, p)) continue;
            Job j;
            j.item = item;
            j.part = p;
            j.msgid = it.parts[size_t(p - 1)].messageId.trimmed();
            j.level = lv.empty() ? 0 : lv.front();
            m_queue.push_back(std::move(j));
            ++queued;
        }
        if (queued > 0) m_pending[item] = queued;   // nothing to fetch: nothing to say
    }
    if (!m_tick.isActive()) m_tick.start();
    dispatch();
}

void FetchPool::stop()
{
    m_queue.clear();
    m_pending.clear();
    for (auto &w : m_workers) {
        w->conn->disconnect(this);
        w->conn->close();
        retire(std::move(w->conn));
    }
    m_workers.clear();
    m_tick.stop();
}

int FetchPool::busyConnections() const
{
    return int(std::count_if(m_workers.begin(), m_workers.end(), [](const auto &w) { return !w->jobs.empty(); }));
}

QStringList FetchPool::connectionStates() const
{
    QStringList out;
    for (const auto &w : m_workers) {
        const QString where = m_servers[size_t(w->server)].name();
        if (!w->jobs.empty())
            out << QStringLiteral("Connection %1 (%2): part %3 of %4").arg(w->id).arg(where).arg(w->jobs.front().part).arg(QString::fromLatin1(m_store.item(w->jobs.front().item).subject));
        else
            out << QStringLiteral("Connection %1 (%2): %3").arg(w->id).arg(where, w->ready ? QStringLiteral("idle") : QStringLiteral("logging in"));
    }
    return out;
}

FetchPool::Worker *FetchPool::find(int id)
{
    for (auto &w : m_workers)
        if (w->id == id) return w.get();
    return nullptr;
}

// A part goes to a server of its level that has not said it lacks it.
bool FetchPool::eligible(const Job &j, int server) const
{
    return m_servers[size_t(server)].entry.level == j.level && !j.tried.count(server);
}

void FetchPool::dispatch()
{
    if (m_dispatchQueued) return;
    m_dispatchQueued = true;
    // Always from the event loop: never inside the handler of the reply that led here.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_dispatchQueued = false;
            for (auto &w : m_workers) {
                if (!w->ready) continue;
                while (w->jobs.size() < kDepth) {
                    auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const Job &j) { return eligible(j, w->server); });
                    if (it == m_queue.end()) break;
                    if (w->jobs.empty()) w->lastData = m_clock.elapsed();
                    w->jobs.push_back(std::move(*it));
                    m_queue.erase(it);
                    w->conn->sendLine("ARTICLE " + w->jobs.back().msgid);
                }
            }
            for (int s = 0; s < int(m_servers.size()); ++s) openConnections(s);
            // Idle connections of a server with nothing left for it say goodbye.
            for (size_t i = 0; i < m_workers.size();) {
                Worker &w = *m_workers[i];
                const bool wanted = std::any_of(m_queue.begin(), m_queue.end(), [&](const Job &j) { return eligible(j, w.server); });
                if (w.ready && w.jobs.empty() && !wanted) {
                    w.conn->disconnect(this);
                    w.conn->sendLine("QUIT");
                    retire(std::move(w.conn));   // the goodbye is out: sendLine flushes
                    m_workers.erase(m_workers.begin() + qsizetype(i));
                    continue;
                }
                ++i;
            }
            if (m_queue.empty() && m_workers.empty() && m_pending.empty()) {
                m_tick.stop();
                emit finished();
            }
        },
        Qt::QueuedConnection);
}

void FetchPool::openConnections(int server)
{
    Server &s = m_servers[size_t(server)];
    if (m_clock.elapsed() < s.restUntil) return;
    const int wanted = int(std::count_if(m_queue.begin(), m_queue.end(), [&](const Job &j) { return eligible(j, server); }));
    int open = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &w) { return w->server == server; }));
    const int idle = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &w) { return w->server == server && w->jobs.empty(); }));
    int more = std::min(s.allowed - open, wanted - idle);
    for (; more > 0; --more, ++open) {
        auto w = std::make_unique<Worker>();
        w->id = ++m_nextId;
        w->server = server;
        w->conn = std::make_unique<Connection>();
        w->conn->setRateLimiter(&m_core.downloadLimit);
        w->conn->certificateCheck = certificateCheck;
        const Settings &st = m_core.settings;
        const bool first = server == 0;
        w->login.start({false, first ? st.chkAuth : !s.entry.user.isEmpty(), false, s.entry.user.toLatin1(), s.entry.password.toLatin1()});
        const int id = w->id;
        connect(w->conn.get(), &Connection::replyReceived, this, [this, id](const Reply &r) {
            if (Worker *x = find(id)) onReply(*x, r);
        });
        connect(w->conn.get(), &Connection::dataArrived, this, [this, id](qsizetype) {
            if (Worker *x = find(id)) x->lastData = m_clock.elapsed();
        });
        // Reader mode asked for on the way (a server in transit mode): said with the connection.
        connect(w->conn.get(), &Connection::notice, this,
                [this, id](const QString &text) { log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": ") + text); });
        connect(w->conn.get(), &Connection::peerClosed, this, [this, id] {
            if (Worker *x = find(id)) lost(*x, QStringLiteral("closed by the server"), false);
        });
        connect(w->conn.get(), &Connection::socketError, this, [this, id](const QString &why) {
            if (Worker *x = find(id)) lost(*x, why, false);
        });
        w->lastData = m_clock.elapsed();
        w->conn->connectTo(s.entry.host, quint16(s.entry.port.toUInt()), s.entry.tls);
        m_workers.push_back(std::move(w));
    }
}

void FetchPool::onReply(Worker &w, const Reply &r)
{
    w.lastData = m_clock.elapsed();
    if (!r.multiline) {
        // A refusal at the door: too many connections, no permission, login refused.
        if (!w.ready && (r.code == 502 || r.code == 400 || r.code == 481 || r.code == 482)) {
            lost(w, QString::fromLatin1(r.firstLine()), true);
            return;
        }
        std::vector<LoginSequence::Action> acts;
        if (w.login.take(r.code, r.firstLine(), acts)) {
            for (const LoginSequence::Action &a : acts) {
                if (a.kind == LoginSequence::Action::Send) w.conn->sendLine(a.line);
                else if (a.kind == LoginSequence::Action::Ready) w.ready = true;
                else if (a.kind == LoginSequence::Action::MissingUser || a.kind == LoginSequence::Action::MissingPassword) {
                    lost(w, QStringLiteral("the server wants a login and none is set"), true);
                    return;
                }
            }
            dispatch();
            return;
        }
    }
    if (w.jobs.empty()) return;   // a late answer to a part given back
    if (r.code == 220) {
        store(w, r);
    } else if (r.code == 430 || r.code == 423) {
        Job j = std::move(w.jobs.front());
        w.jobs.pop_front();
        notHere(w.server, std::move(j));
    } else {
        lost(w, QString::fromLatin1(r.firstLine()), false);
    }
}

void FetchPool::store(Worker &w, const Reply &r)
{
    openTurn();
    auto j = std::make_unique<Job>(std::move(w.jobs.front()));
    w.jobs.pop_front();
    QByteArray article = StripArticle(r.data);
    if (article.isEmpty() || IsCorruptArticle(article, j->msgid)) {
        if (++j->corrupt >= kCorruptTries) {
            log(QStringLiteral("Corrupt data in part ") + QString::number(j->part) + QStringLiteral(" three times from ")
                + m_servers[size_t(w.server)].name());
            notHere(w.server, std::move(*j));
            return;
        }
        m_queue.push_front(std::move(*j));
        dispatch();
        return;
    }
    article = TameSubjectParens(std::move(article));
    QString error;
    if (!writeWhole(m_cache.PartCacheFile(j->item, j->part), article, &error)) {
        const QString why = QStringLiteral("cannot write the part cache: ") + error;
        log(QStringLiteral("Download stopped: ") + why);
        stop();
        emit localFailure(why);
        return;
    }
    emit partStored(j->item, j->part, m_servers[size_t(w.server)].name());
    partDone(j->item);
    dispatch();
    closeTurnIfSpent();
}

// Many connections may finish a part in the same turn of the event loop. Once storing
// them took the turn's budget, the others hold their replies until the next turn, so the
// window never waits for all of them at once.
void FetchPool::openTurn()
{
    if (m_turnOpen) return;
    m_turnOpen = true;
    m_turn.start();
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_turnOpen = false;
            for (auto &w : m_workers)
                if (w->held) {
                    w->held = false;
                    w->conn->setHold(false);
                }
        },
        Qt::QueuedConnection);
}

void FetchPool::closeTurnIfSpent()
{
    if (m_turn.nsecsElapsed() < kTurnBudgetNs) return;
    for (auto &w : m_workers)
        if (!w->held) {
            w->held = true;
            w->conn->setHold(true);
        }
}

void FetchPool::notHere(int server, Job job)
{
    auto j = std::make_unique<Job>(std::move(job));
    j->tried.insert(server);
    // On to the next level once every server of this one said no.
    for (;;) {
        bool left = false;
        for (int s = 0; s < int(m_servers.size()); ++s) left = left || eligible(*j, s);
        if (left) break;
        const std::vector<int> lv = levels();
        auto next = std::upper_bound(lv.begin(), lv.end(), j->level);
        if (next == lv.end()) {
            log(QStringLiteral("Part ") + QString::number(j->part) + QStringLiteral(" of ")
                + QString::fromLatin1(m_store.item(j->item).subject) + QStringLiteral(" is on no server"));
            m_cache.markMissing(j->item, j->part);
            emit partMissing(j->item, j->part);
            partDone(j->item);
            dispatch();
            return;
        }
        j->level = *next;
    }
    // Ahead of the parts that were never asked: it keeps its place in the batch order.
    m_queue.push_front(std::move(*j));
    dispatch();
}

void FetchPool::partDone(int item)
{
    auto it = m_pending.find(item);
    if (it == m_pending.end()) return;
    if (--it->second > 0) return;
    m_pending.erase(it);
    emit itemFetched(item);
}

// The parts go back to the front of the queue, in their order, unasked of anyone new.
void FetchPool::giveBack(Worker &w)
{
    while (!w.jobs.empty()) {
        m_queue.push_front(std::move(w.jobs.back()));
        w.jobs.pop_back();
    }
}

void FetchPool::lost(Worker &w, const QString &why, bool refused)
{
    const int server = w.server, id = w.id;
    Server &s = m_servers[size_t(server)];
    giveBack(w);
    w.conn->disconnect(this);
    w.conn->close();
    retire(std::move(w.conn));
    m_workers.erase(std::find_if(m_workers.begin(), m_workers.end(), [&](const auto &x) { return x->id == id; }));
    // w is gone from here on.
    const int left = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &x) { return x->server == server; }));
    if (refused) {
        // Fewer from now on; none left: the server rests before it is asked again.
        s.allowed = std::max(1, left);
        if (left == 0) s.restUntil = m_clock.elapsed() + retryAfterMs;
        log(QStringLiteral("Server ") + s.name() + QStringLiteral(" refused connection ") + QString::number(id) + QStringLiteral(" (")
            + why + QStringLiteral("): going on with ") + QString::number(std::max(left, 0)) + QStringLiteral(" connection(s)")
            + (left == 0 ? QStringLiteral(", trying again in ") + QString::number(retryAfterMs / 1000) + QStringLiteral(" s") : QString()));
        if (left == 0) QTimer::singleShot(retryAfterMs, this, &FetchPool::dispatch);
    } else if (!m_core.settings.chkAllowRestart) {
        // Without emergency restart a lost connection stays closed; the others go on.
        s.allowed = left;
        log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(" to ") + s.name() + QStringLiteral(" lost (") + why
            + QStringLiteral("). Emergency restart is off: going on with ") + QString::number(left) + QStringLiteral(" connection(s)"));
        if (stranded()) {
            stop();
            emit localFailure(QStringLiteral("the connections to the news server were lost and emergency restart is off"));
            return;
        }
    } else {
        log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(" to ") + s.name() + QStringLiteral(" lost (") + why
            + QStringLiteral("). Emergency Reconnect in ") + QString::number(kReconnectMs / 1000) + QStringLiteral(" seconds."));
        s.restUntil = std::max(s.restUntil, m_clock.elapsed() + kReconnectMs);
        QTimer::singleShot(int(kReconnectMs), this, &FetchPool::dispatch);
    }
    dispatch();
}

// A queued part whose level has no server left that may connect can never come.
bool FetchPool::stranded() const
{
    return std::any_of(m_queue.begin(), m_queue.end(), [&](const Job &j) {
        return std::none_of(m_servers.begin(), m_servers.end(), [&](const Server &s) { return s.entry.level == j.level && s.allowed > 0; });
    });
}

void FetchPool::watchdogTick()
{
    const qint64 limit = qint64(m_core.settings.sldTimeout) * 1000;
    std::vector<int> stalled;
    for (const auto &w : m_workers)
        if (m_clock.elapsed() - w->lastData > limit) stalled.push_back(w->id);
    for (int id : stalled)
        if (Worker *w = find(id)) {
            log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": WARNING: Server not responding -- ")
                + QString::number(m_core.settings.sldTimeout) + QStringLiteral(" second timeout triggered, closing connection"));
            lost(*w, QString::number(m_core.settings.sldTimeout) + QStringLiteral(" second timeout triggered"), false);
        }
}

} // namespace vt
