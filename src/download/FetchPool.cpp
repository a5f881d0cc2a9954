#include "FetchPool.h"
#include "ArticleText.h"
#include "PartCache.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "headers/HeaderStore.h"
#include "headers/NzbOrigins.h"
#include "nntp/ReplyKind.h"
#include <algorithm>

namespace vt {

namespace {
constexpr size_t kDepth = 2;           // parts asked for ahead on each connection
constexpr qint64 kReconnectMs = 1000;   // after a lost connection, before the next one
constexpr qint64 kTurnBudgetNs = 8'000'000;   // parts stored in one turn of the event loop
constexpr qint64 kRateWindowMs = 5000;
} // namespace

FetchPool::FetchPool(AppCore &core, const HeaderStore &store, PartCache &cache, const NzbCatalog &nzb, QObject *parent)
    : QObject(parent), m_core(core), m_store(store), m_cache(cache), m_nzb(nzb)
{
    m_clock.start();
    m_cache.direct().setHandler(this, [this](DirectWriter::Result r) { directDone(std::move(r)); });
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &FetchPool::watchdogTick);
}

FetchPool::~FetchPool() { m_cache.direct().removeHandler(this); }

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
        e.host = trimBlanks(e.host);
        Server s;
        s.allowed = std::clamp(e.connections, 1, 50);
        s.entry = std::move(e);
        m_servers.push_back(std::move(s));
    }
}

void FetchPool::log(const QString &msg) { m_core.LogOp(msg, true); }

QString FetchPool::subjectOf(ItemRef item) const
{
    const int i = m_store.resolve(item);
    return i ? QString::fromLatin1(m_store.item(i).subject) : QString();
}

std::vector<int> FetchPool::levels() const
{
    std::vector<int> l;
    for (const Server &s : m_servers) l.push_back(s.entry.level);
    std::sort(l.begin(), l.end());
    l.erase(std::unique(l.begin(), l.end()), l.end());
    return l;
}

// A scanned part is asked for in its group, with its number; an imported one in each
// group its NZB lists, by message-id only.
FetchJob FetchPool::jobFor(int item, int part) const
{
    const HeaderItem &it = m_store.item(item);
    const PartRecord &pr = it.parts[size_t(part - 1)];
    FetchJob j;
    j.item = m_store.ref(item);
    j.part = part;
    j.messageId = QByteArray(pr.messageId().constData(), pr.messageId().size()).trimmed();
    if (pr.groupKey() == kNzbGroupKey) {
        if (const NzbOrigin *o = m_nzb.originOf(it))
            for (const QString &g : o->groups) j.groups << g.toLatin1();
    } else {
        j.number = pr.articleNumber;
        const QString g = m_cache.groupOfPart(item, part);
        if (!g.isEmpty()) j.groups << g.toLatin1();
    }
    return j;
}

void FetchPool::fetch(const std::vector<int> &items)
{
    const std::vector<int> lv = levels();
    for (int item : items) {
        const ItemRef ref = m_store.ref(item);
        if (!ref || m_pending.count(ref)) continue;
        const HeaderItem &it = m_store.item(item);
        ItemWork &w = m_items[ref];
        m_doneSum -= w.done;
        w.pending = 0;
        w.done = 0;
        w.total = 0;
        for (int p = 1; p <= int(it.parts.size()); ++p) {
            const qint64 bytes = it.parts[size_t(p - 1)].byteCount;
            w.total += bytes;
            if (m_cache.isCached(item, p) || m_cache.isMissing(item, p)) {
                w.done += bytes;
                continue;
            }
            FetchJob j = jobFor(item, p);
            Book fresh;
            fresh.level = lv.empty() ? 0 : lv.front();
            m_book[{ref, p}] = fresh;
            m_queue.push_back(std::move(j));
            ++w.pending;
        }
        m_doneSum += w.done;
        if (w.pending > 0) {
            m_pending.insert(ref);   // nothing to fetch: nothing to say
            m_cache.direct().fetchingAgain(m_cache.directPaths(item).journal);
        }
    }
    if (!m_tick.isActive()) m_tick.start();
    dispatch();
}

void FetchPool::stop()
{
    ++m_generation;
    m_queue.clear();
    m_book.clear();
    m_pending.clear();
    for (auto &w : m_workers) {
        w->conn->disconnect(this);
        w->conn->close();
        retire(std::move(w->conn));
    }
    m_workers.clear();
    m_tick.stop();
}

void FetchPool::forget(ItemRef item)
{
    auto it = m_items.find(item);
    if (it == m_items.end()) return;
    m_doneSum -= it->second.done;
    m_items.erase(it);
}

void FetchPool::withdraw(ItemRef item)
{
    auto w = m_items.find(item);
    if (w == m_items.end() || !m_pending.count(item)) return;
    int taken = 0;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->item != item) {
            ++it;
            continue;
        }
        m_book.erase({it->item, it->part});
        it = m_queue.erase(it);
        ++taken;
    }
    w->second.pending -= taken;
    if (w->second.pending <= 0) m_pending.erase(item);
    dispatch();
}

qint64 FetchPool::doneBytes() const
{
    qint64 sum = m_doneSum;
    for (const auto &w : m_workers)
        if (!w->asked.empty() && w->conn->receivingMultiline()) sum += w->conn->pendingBytes();
    return sum;
}

int FetchPool::openOn(int server) const
{
    return int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &w) { return w->server == server; }));
}

int FetchPool::busyConnections() const
{
    return int(std::count_if(m_workers.begin(), m_workers.end(), [](const auto &w) { return w->fetch.inFlight() > 0; }));
}

QStringList FetchPool::connectionStates() const
{
    QStringList out;
    for (const auto &w : m_workers) {
        const QString where = m_servers[size_t(w->server)].name();
        if (!w->asked.empty())
            out << QStringLiteral("Connection %1 (%2): part %3 of %4").arg(w->id).arg(where).arg(w->asked.front().second).arg(subjectOf(w->asked.front().first));
        else
            out << QStringLiteral("Connection %1 (%2): %3").arg(w->id).arg(where, w->ready ? QStringLiteral("idle") : QStringLiteral("logging in"));
    }
    return out;
}

FetchPool::Progress FetchPool::progress(ItemRef item) const
{
    Progress p;
    auto it = m_items.find(item);
    if (it == m_items.end()) return p;
    p.done = it->second.done;
    p.total = it->second.total;
    // What is arriving now on the connections whose next reply is a part of it.
    for (const auto &w : m_workers)
        if (!w->asked.empty() && w->asked.front().first == item && w->conn->receivingMultiline())
            p.done += std::min<qint64>(w->conn->pendingBytes(), p.total - p.done);
    p.done = std::min(p.done, p.total);
    return p;
}

double FetchPool::bytesPerSecond() const
{
    if (m_rate.size() < 2) return 0;
    const auto &a = m_rate.front(), &b = m_rate.back();
    return b.first > a.first ? double(b.second - a.second) * 1000.0 / double(b.first - a.first) : 0;
}

QString FetchPool::missingWhy(ItemRef item) const
{
    auto it = m_items.find(item);
    return it == m_items.end() ? QString() : it->second.missingWhy;
}

int FetchPool::missingParts(ItemRef item) const
{
    auto it = m_items.find(item);
    return it == m_items.end() ? 0 : it->second.missing;
}

QStringList FetchPool::deliveredBy(ItemRef item) const
{
    auto it = m_items.find(item);
    return it == m_items.end() ? QStringList() : it->second.servers;
}

FetchPool::Worker *FetchPool::find(int id)
{
    for (auto &w : m_workers)
        if (w->id == id) return w.get();
    return nullptr;
}

// A part goes to a server of its level that has not said it lacks it, and that has not
// failed it too often.
bool FetchPool::eligible(const Key &k, int server) const
{
    auto b = m_book.find(k);
    if (b == m_book.end()) return false;
    return m_servers[size_t(server)].entry.level == b->second.level && !b->second.tried.count(server);
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
                while (w->asked.size() < kDepth) {
                    auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const FetchJob &j) { return eligible({j.item, j.part}, w->server); });
                    if (it == m_queue.end()) break;
                    if (w->asked.empty()) {
                        w->lastData = w->windowAt = m_clock.elapsed();
                        w->windowBytes = w->conn->bytesReceived();
                        w->replyFrom = m_clock.nsecsElapsed();
                    }
                    FetchJob j = std::move(*it);
                    m_queue.erase(it);
                    w->asked.push_back({j.item, j.part});
                    std::vector<ArticleFetch::Action> acts;
                    w->fetch.add(std::move(j), acts);
                    apply(*w, acts);
                }
            }
            for (int s = 0; s < int(m_servers.size()); ++s) openConnections(s);
            // Idle connections of a server with nothing left for it say goodbye.
            for (size_t i = 0; i < m_workers.size();) {
                Worker &w = *m_workers[i];
                const bool wanted = std::any_of(m_queue.begin(), m_queue.end(), [&](const FetchJob &j) { return eligible({j.item, j.part}, w.server); });
                if (w.ready && w.asked.empty() && !wanted) {
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
    const int wanted = int(std::count_if(m_queue.begin(), m_queue.end(), [&](const FetchJob &j) { return eligible({j.item, j.part}, server); }));
    int open = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &w) { return w->server == server; }));
    const int idle = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &w) { return w->server == server && w->asked.empty(); }));
    const int lent = server == 0 && mainServerLent ? mainServerLent() : 0;
    const int allowed = s.allowed > 0 ? std::max(1, s.allowed - lent) : 0;
    int more = std::min(allowed - open, wanted - idle);
    for (; more > 0; --more, ++open) {
        auto w = std::make_unique<Worker>();
        w->id = ++m_nextId;
        w->server = server;
        w->conn = std::make_unique<Connection>();
        w->conn->setRateLimiter(&m_core.downloadLimit);
        w->conn->certificateCheck = certificateCheck;
        const Settings &st = m_core.settings;
        const bool first = server == 0;
        w->login.start({first && st.chkModeReader, first ? st.chkAuth : !s.entry.user.isEmpty(), first && st.chkSlave,
                        s.entry.user.toLatin1(), s.entry.password.toLatin1()});
        w->fetch.start(&s.groups);
        const int id = w->id;
        connect(w->conn.get(), &Connection::replyReceived, this, [this, id](const Reply &r) {
            if (Worker *x = find(id)) onReply(*x, r);
        });
        connect(w->conn.get(), &Connection::dataArrived, this, [this, id](qsizetype) {
            if (Worker *x = find(id)) {
                x->lastData = m_clock.elapsed();
                countBytes(*x);
            }
        });
        // Reader mode asked for on the way (a server in transit mode): said with the connection.
        connect(w->conn.get(), &Connection::notice, this,
                [this, id](const QString &text) { log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": ") + text); });
        connect(w->conn.get(), &Connection::connected, this, [this] { m_core.sounds.PlaySound(QStringLiteral("vtv017.wav")); });
        connect(w->conn.get(), &Connection::peerClosed, this, [this, id] {
            if (Worker *x = find(id)) lost(*x, QStringLiteral("Server closed connection"), x->ready ? Loss::Dropped : Loss::AtTheDoor);
        });
        connect(w->conn.get(), &Connection::socketError, this, [this, id](const QString &why) {
            if (Worker *x = find(id)) lost(*x, why, x->ready ? Loss::Dropped : Loss::AtTheDoor);
        });
        w->lastData = m_clock.elapsed();
        quint16 port = 0;
        if (!portNumber(s.entry.port, &port)) {
            // Cut to 16 bits it would be another port: the server is not used.
            const QString why = QStringLiteral("the port \"") + s.entry.port + QStringLiteral("\" of ") + s.entry.host
                                + QStringLiteral(" is not a number from 1 to 65535");
            log(QStringLiteral("Cannot connect to ") + s.name() + QStringLiteral(": ") + why);
            s.allowed = 0;
            if (stranded())
                QMetaObject::invokeMethod(this, [this, why] {
                    stop();
                    emit localFailure(why);
                }, Qt::QueuedConnection);
            return;
        }
        w->conn->connectTo(s.entry.host, port, s.entry.tls);
        m_workers.push_back(std::move(w));
    }
}

void FetchPool::countBytes(Worker &w)
{
    const qint64 now = w.conn->bytesReceived();
    m_runBytes += now - w.counted;
    w.counted = now;
    const qint64 ms = m_clock.elapsed();
    if (m_rate.empty() || ms - m_rate.back().first >= 100) m_rate.push_back({ms, m_runBytes});
    else m_rate.back().second = m_runBytes;
    while (m_rate.size() > 2 && ms - m_rate.front().first > kRateWindowMs) m_rate.pop_front();
}

void FetchPool::onReply(Worker &w, const Reply &r)
{
    w.lastData = m_clock.elapsed();
    std::vector<ArticleFetch::Action> acts;
    if (w.fetch.expecting()) {
        w.fetch.take(r, acts);
        apply(w, acts);
        return;
    }
    const ReplyKind kind = replyKind(r.code);
    // A refusal at the door: too many connections, no permission, login refused.
    if (!r.multiline && !w.ready && (kind == ReplyKind::Refused || kind == ReplyKind::Unavailable || kind == ReplyKind::LoginRefused)) {
        lost(w, QString::fromLatin1(r.firstLine()), Loss::Refused);
        return;
    }
    std::vector<LoginSequence::Action> la;
    if (!r.multiline && w.login.take(r.code, r.firstLine(), la)) {
        for (const LoginSequence::Action &a : la) {
            if (a.kind == LoginSequence::Action::Send) w.conn->sendLine(a.line);
            else if (a.kind == LoginSequence::Action::Ready) w.ready = true;
            else if (a.kind == LoginSequence::Action::MissingUser || a.kind == LoginSequence::Action::MissingPassword) {
                lost(w, QStringLiteral("the server wants a login and none is set"), Loss::Refused);
                return;
            }
        }
        if (w.ready) {
            w.fetch.resume(acts);
            if (!apply(w, acts)) return;
        }
        dispatch();
        return;
    }
    const QString line = QString::fromLatin1(r.firstLine().left(200));
    if (endsConnection(kind)) {
        lost(w, line, w.ready ? Loss::Dropped : Loss::Refused);
        return;
    }
    // Nothing of ours was waiting for it: said, and passed over.
    log(QStringLiteral("Connection ") + QString::number(w.id) + QStringLiteral(": Reply not understood: ") + line);
}

// Carries out what the connection's fetch says. False when the connection is gone.
bool FetchPool::apply(Worker &w, std::vector<ArticleFetch::Action> &acts)
{
    const int id = w.id, server = w.server;
    for (ArticleFetch::Action &a : acts) {
        Worker *x = find(id);
        if (!x) return false;
        auto done = [&](const FetchJob &j) {
            auto it = std::find(x->asked.begin(), x->asked.end(), Key{j.item, j.part});
            if (it != x->asked.end()) x->asked.erase(it);
            x->replyFrom = m_clock.nsecsElapsed();
        };
        switch (a.kind) {
        case ArticleFetch::Action::Send: x->conn->sendLine(a.line); break;
        case ArticleFetch::Action::Say: log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": ") + a.text); break;
        case ArticleFetch::Action::Store: {
            x->delivered = true;
            m_servers[size_t(server)].lossesInARow = 0;
            const double ms = double(m_clock.nsecsElapsed() - x->replyFrom) / 1e6;
            done(a.job);
            store(*x, std::move(a.job), a.article, ms);
            break;
        }
        case ArticleFetch::Action::NotHere:
            done(a.job);
            notHere(server, std::move(a.job), a.miss == ArticleFetch::Miss::GroupNotCarried ? Why::GroupNotCarried : Why::NotFound);
            break;
        case ArticleFetch::Action::Failed:
            done(a.job);
            log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": ") + a.text + QStringLiteral(" (part ")
                + QString::number(a.job.part) + QStringLiteral(" of ") + subjectOf(a.job.item) + u')');
            failedTry(server, std::move(a.job), Why::NotUnderstood, a.text);
            break;
        case ArticleFetch::Action::LoginWanted: {
            x->ready = false;
            if (!loginAgain(x->login, *x->conn)) {
                lost(*x, QStringLiteral("the server wants a login and none is set"), Loss::Refused);
                return false;
            }
            break;
        }
        case ArticleFetch::Action::Lost: lost(*x, a.text, Loss::Dropped); return false;
        }
    }
    return find(id) != nullptr;
}

void FetchPool::store(Worker &w, FetchJob job, const QByteArray &raw, double ms)
{
    openTurn();
    const int server = w.server;
    const int item = m_store.resolve(job.item);
    if (!item) {
        gone(job);
        return;
    }
    // A yEnc part is decoded on a worker straight into its item's file; anything else, or
    // with that off, goes to the part cache whole.
    const qsizetype body = raw.indexOf("\r\n") + 2;
    if (!m_core.settings.chkDirectDecode || body < 2 || !looksYenc(raw, body)) {
        storeInCache(server, std::move(job), raw, ms);
        return;
    }
    if (!soundCopy(server, job, QByteArray::fromRawData(raw.constData() + body, raw.size() - body), raw.size() - body <= 3))
        return;
    const quint64 ticket = ++m_tickets;
    const int part = job.part;
    m_inDirect.emplace(ticket, InDirect{std::move(job), server, ms, raw.size(), m_generation});
    m_cache.direct().submit(this, ticket, m_cache.directPaths(item), part, m_store.item(item).parts.size() == 1, raw);
    if (writersFull()) {
        ++m_writerHolds;
        holdAll();
    }
    // The connection asks for its next part now, not when the worker is done.
    dispatch();
}

// A line starting "=ybegin " near the top (after the article's header).
bool FetchPool::looksYenc(const QByteArray &raw, qsizetype body)
{
    const QByteArrayView head = QByteArrayView(raw).sliced(body).first(std::min<qsizetype>(raw.size() - body, 65536));
    for (qsizetype at = head.indexOf("=ybegin "); at >= 0; at = head.indexOf("=ybegin ", at + 1))
        if (at == 0 || head[at - 1] == '\n') return true;
    return false;
}

// The post went (headers cleared or the slot given to another): nothing to keep.
void FetchPool::gone(const FetchJob &job)
{
    m_book.erase({job.item, job.part});
    partDone(job.item, 0);
    dispatch();
}

// An empty copy, or one that is not the article asked for (two replies run together):
// false, and the next server or another try is asked.
bool FetchPool::soundCopy(int server, FetchJob &job, const QByteArray &article, bool empty)
{
    const QString subject = subjectOf(job.item);
    if (empty) {
        log(QStringLiteral("Article not delivered; skipping ") + subject + u'.');
        badCopy(server, std::move(job), Why::Empty, QStringLiteral("Server sent empty article!"));
        return false;
    }
    if (IsCorruptArticle(article, job.messageId)) {
        log(QStringLiteral("Corrupt data detected in part ") + QString::number(job.part) + QStringLiteral(" from ")
            + m_servers[size_t(server)].name() + QStringLiteral(": ") + subject + u'.');
        badCopy(server, std::move(job), Why::Corrupt, {});
        return false;
    }
    return true;
}

void FetchPool::storeInCache(int server, FetchJob job, const QByteArray &raw, double ms)
{
    const int item = m_store.resolve(job.item);
    if (!item) {
        gone(job);
        return;
    }
    QByteArray article = StripArticle(raw);
    if (!soundCopy(server, job, article, article.isEmpty())) return;
    article = TameSubjectParens(std::move(article));
    QString error;
    if (!writeWhole(m_cache.PartCacheFile(item, job.part), article, &error)) {
        const QString why = QStringLiteral("cannot write the part cache: ") + error;
        log(QStringLiteral("ArticleReceived Error:") + error);
        stop();
        emit localFailure(why);
        return;
    }
    stored(server, job, item, raw.size(), ms);
}

void FetchPool::stored(int server, const FetchJob &job, int item, qint64 rawBytes, double ms)
{
    const qint64 bytes = m_store.item(item).parts[size_t(job.part - 1)].byteCount;
    m_book.erase({job.item, job.part});
    ItemWork &iw = m_items[job.item];
    const QString name = m_servers[size_t(server)].name();
    if (!iw.servers.contains(name)) iw.servers << name;
    emit partStored(job.item, job.part, name, rawBytes, ms);
    partDone(job.item, bytes);
    dispatch();
    closeTurnIfSpent();
}

// A part back from its worker. One of a run stopped since is in its file all the same
// (the journal has it); the pool has nothing more to do with it.
void FetchPool::directDone(DirectWriter::Result r)
{
    auto f = m_inDirect.find(r.ticket);
    if (f == m_inDirect.end()) return;
    InDirect d = std::move(f->second);
    m_inDirect.erase(f);
    if (!m_turnOpen) releaseHolds();   // within a turn, its end releases them
    if (d.server >= int(m_servers.size())) return;
    if (d.generation != m_generation) {
        // In its file all the same (the journal has it), as a part cached before the stop.
        if (r.outcome == DirectWriter::Outcome::Written)
            emit partStored(d.job.item, d.job.part, m_servers[size_t(d.server)].name(), d.rawBytes, d.ms);
        return;
    }
    openTurn();
    const int item = m_store.resolve(d.job.item);
    if (!item && r.outcome != DirectWriter::Outcome::LocalFailure) {
        gone(d.job);
        return;
    }
    switch (r.outcome) {
    case DirectWriter::Outcome::Written:
    case DirectWriter::Outcome::Duplicate: stored(d.server, d.job, item, d.rawBytes, d.ms); break;
    case DirectWriter::Outcome::Refused:
        log(QStringLiteral("Part ") + QString::number(d.job.part) + QStringLiteral(" of ") + subjectOf(d.job.item)
            + QStringLiteral(" from ") + m_servers[size_t(d.server)].name() + QStringLiteral(" not used: ") + r.why);
        badCopy(d.server, std::move(d.job), Why::Corrupt, {});
        break;
    case DirectWriter::Outcome::NotDirect: storeInCache(d.server, std::move(d.job), r.raw, d.ms); break;
    case DirectWriter::Outcome::LocalFailure:
        log(QStringLiteral("ArticleReceived Error:") + r.why);
        stop();
        emit localFailure(QStringLiteral("cannot write the decoded file: ") + r.why);
        break;
    }
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
            releaseHolds();
        },
        Qt::QueuedConnection);
}

void FetchPool::closeTurnIfSpent()
{
    if (m_turn.nsecsElapsed() < kTurnBudgetNs) return;
    holdAll();
}

void FetchPool::holdAll()
{
    for (auto &w : m_workers)
        if (!w->held) {
            w->held = true;
            w->conn->setHold(true);
        }
}

// Replies wait in their connections (and the servers slow down) while the decoding
// workers have more articles than they may hold: a disk slower than the network never
// fills the memory.
bool FetchPool::writersFull() const { return m_cache.direct().backlog() > m_writerBacklog; }

void FetchPool::releaseHolds()
{
    if (writersFull()) return;   // the workers' results release them
    for (auto &w : m_workers)
        if (w->held) {
            w->held = false;
            w->conn->setHold(false);
        }
}

// Whether a server other than this one may still be asked for the part.
bool FetchPool::otherServerFor(const Key &k, int server) const
{
    auto b = m_book.find(k);
    if (b == m_book.end()) return false;
    for (int s = 0; s < int(m_servers.size()); ++s)
        if (s != server && m_servers[size_t(s)].entry.level >= b->second.level && !b->second.tried.count(s)) return true;
    return false;
}

// An empty or corrupt copy: the next server is asked; with no other server the same one
// gives three copies at most.
void FetchPool::badCopy(int server, FetchJob job, Why why, const QString &text)
{
    const Key k{job.item, job.part};
    Book &b = m_book[k];
    b.why = why;
    b.text = text;
    if (otherServerFor(k, server) || ++b.badCopies >= kTries) {
        notHere(server, std::move(job), why, text);
        return;
    }
    m_queue.push_front(std::move(job));
    dispatch();
}

void FetchPool::failedTry(int server, FetchJob job, Why why, const QString &text)
{
    const Key k{job.item, job.part};
    Book &b = m_book[k];
    if (++b.tries[server] >= kTries) {
        notHere(server, std::move(job), why, text);
        return;
    }
    m_queue.push_front(std::move(job));
    dispatch();
}

QString FetchPool::whyText(const Book &b) const
{
    switch (b.why) {
    case Why::NotFound: return QStringLiteral("Item no longer available on server");
    case Why::GroupNotCarried: return b.text;
    case Why::Empty: return QStringLiteral("Server sent empty article!");
    case Why::Corrupt: return QStringLiteral("Corrupt data in part %1 three times: skipped");
    case Why::NotUnderstood: return b.text;
    }
    return {};
}

void FetchPool::notHere(int server, FetchJob job, Why why, const QString &text)
{
    const Key k{job.item, job.part};
    Book &b = m_book[k];
    b.tried.insert(server);
    // The reason a part ends on no server is the best one any server gave.
    if (why != Why::NotFound || b.why == Why::NotFound) {
        b.why = why;
        if (!text.isEmpty()) b.text = text;
        if (why == Why::GroupNotCarried && job.groups.size() == 1)
            b.text = QStringLiteral("Newsgroup ") + QString::fromLatin1(job.groups.front()) + QStringLiteral(" is not on the server");
    }
    // On to the next level once every server of this one said no.
    for (;;) {
        bool left = false;
        for (int s = 0; s < int(m_servers.size()); ++s) left = left || eligible(k, s);
        if (left) break;
        const std::vector<int> lv = levels();
        auto next = std::upper_bound(lv.begin(), lv.end(), b.level);
        if (next == lv.end()) {
            const int item = m_store.resolve(job.item);
            QString reason = whyText(b);
            reason.replace(QStringLiteral("%1"), QString::number(job.part));
            log(QStringLiteral("Segment ") + QString::number(job.part) + QStringLiteral(" not on the server, left for repair: ")
                + subjectOf(job.item) + QStringLiteral(" (") + reason + u')');
            qint64 bytes = 0;
            if (item) {
                m_cache.markMissing(item, job.part);
                bytes = m_store.item(item).parts[size_t(job.part - 1)].byteCount;
            }
            ItemWork &iw = m_items[job.item];
            ++iw.missing;
            if (iw.missingWhy.isEmpty()) iw.missingWhy = reason;
            m_book.erase(k);
            emit partMissing(job.item, job.part, reason);
            partDone(job.item, bytes);
            dispatch();
            return;
        }
        b.level = *next;
    }
    // Ahead of the parts that were never asked: it keeps its place in the batch order.
    m_queue.push_front(std::move(job));
    dispatch();
}

void FetchPool::partDone(ItemRef item, qint64 bytes)
{
    ItemWork &iw = m_items[item];
    iw.done += bytes;
    m_doneSum += bytes;
    if (!m_pending.count(item)) return;
    if (--iw.pending > 0) return;
    m_pending.erase(item);
    emit itemFetched(item);
}

// The parts go back to the front of the queue, in their order. The one being answered
// when the connection went counts a failed try there: a part that breaks every connection
// that asks for it cannot hold the run for ever. A loss before any byte of its reply may
// be another command's doing (a server that resets the connection also loses the replies
// it had sent), so it counts half: kTries losses in its reply, or five before it.
bool FetchPool::giveBack(Worker &w, bool countFront)
{
    bool blamed = false;
    const bool begun = w.conn && w.conn->pendingBytes() > 0;
    std::vector<FetchJob> back = w.fetch.takeBack();
    w.asked.clear();
    const int server = w.server;
    for (auto it = back.rbegin(); it != back.rend(); ++it) {
        const bool front = it == std::prev(back.rend());
        if (front && countFront) {
            Book &b = m_book[{it->item, it->part}];
            b.lostHalves[server] += begun ? 2 : 1;
            ++b.losses[server];
            if (b.lostHalves[server] >= kLostHalves) {
                b.why = Why::NotUnderstood;
                b.text = QStringLiteral("the connection was lost on it %1 times").arg(b.losses[server]);
                notHere(server, std::move(*it), Why::NotUnderstood, b.text);
                blamed = true;
                continue;
            }
        }
        m_queue.push_front(std::move(*it));
    }
    return blamed;
}

void FetchPool::lost(Worker &w, const QString &why, Loss loss)
{
    const int server = w.server, id = w.id;
    const bool delivered = w.delivered;
    Server &s = m_servers[size_t(server)];
    // Losses a part was found to cause say nothing of the server.
    const bool explained = giveBack(w, loss == Loss::Dropped);
    w.conn->disconnect(this);
    w.conn->close();
    retire(std::move(w.conn));
    m_workers.erase(std::find_if(m_workers.begin(), m_workers.end(), [&](const auto &x) { return x->id == id; }));
    // w is gone from here on.
    const int left = int(std::count_if(m_workers.begin(), m_workers.end(), [&](const auto &x) { return x->server == server; }));
    const qint64 restMs = qint64(m_core.settings.Rescan_Time) * 1000;
    // Turned away while others of the server work: it takes fewer.
    if (loss != Loss::Dropped && left > 0) {
        refusedOne(server, id, why, left);
        return;
    }
    if (!m_core.settings.chkAllowRestart) {
        // Without emergency restart a lost connection stays closed; the others go on.
        s.allowed = left;
        log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(" to ") + s.name() + QStringLiteral(" lost (") + why
            + QStringLiteral("). Emergency restart is off: going on with ") + QString::number(left) + QStringLiteral(" connection(s)"));
        if (stranded()) {
            stop();
            emit localFailure(QStringLiteral("the connections to the news server were lost and emergency restart is off"));
            return;
        }
        dispatch();
        return;
    }
    if (explained) s.lossesInARow = 0;
    else if (!delivered && loss == Loss::Dropped) ++s.lossesInARow;
    const bool cannotConnect = loss != Loss::Dropped || s.lossesInARow >= kLossesBeforeRest;
    if (!cannotConnect) {
        log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(" to ") + s.name() + QStringLiteral(" lost (") + why
            + QStringLiteral("). Emergency Reconnect in ") + QString::number(kReconnectMs / 1000) + QStringLiteral(" seconds."));
        s.restUntil = std::max(s.restUntil, m_clock.elapsed() + kReconnectMs);
        QTimer::singleShot(int(kReconnectMs), this, &FetchPool::dispatch);
        dispatch();
        return;
    }
    if (left > 0) {
        refusedOne(server, id, why, left);
        return;
    }
    // None of its connections works: the server rests for the restart wait.
    s.lossesInARow = 0;
    s.restUntil = m_clock.elapsed() + restMs;
    const QString reason = AppCore::connectionFailure(why, s.name());
    log(QStringLiteral("Cannot connect to ") + s.name() + QStringLiteral(": ") + why);
    if (m_workers.empty()) {
        // Nothing is left: the whole download waits for the restart countdown.
        stop();
        emit restartNeeded(reason);
        return;
    }
    QTimer::singleShot(int(restMs), this, &FetchPool::dispatch);
    dispatch();
}

void FetchPool::refusedOne(int server, int id, const QString &why, int left)
{
    Server &s = m_servers[size_t(server)];
    s.allowed = left;
    log(QStringLiteral("Server ") + s.name() + QStringLiteral(" refused connection ") + QString::number(id) + QStringLiteral(" (") + why
        + QStringLiteral("): going on with ") + QString::number(left) + QStringLiteral(" connection(s)"));
    dispatch();
}

// A queued part whose level has no server left that may connect can never come.
bool FetchPool::stranded() const
{
    return std::any_of(m_queue.begin(), m_queue.end(), [&](const FetchJob &j) {
        auto b = m_book.find({j.item, j.part});
        const int level = b == m_book.end() ? 0 : b->second.level;
        return std::none_of(m_servers.begin(), m_servers.end(), [&](const Server &s) { return s.entry.level == level && s.allowed > 0; });
    });
}

// Each connection has its own watchdog: silence past the timeout ends it, and so does a
// reply that keeps trickling in (under 1 KB a second over the timeout) without an end.
void FetchPool::watchdogTick()
{
    const qint64 limit = qint64(m_core.settings.sldTimeout) * 1000, now = m_clock.elapsed();
    std::vector<std::pair<int, bool>> stalled;   // id, trickling
    for (const auto &w : m_workers) {
        const qint64 got = w->conn->bytesReceived();
        if (now - w->lastData > limit) {
            stalled.push_back({w->id, false});
        } else if (w->asked.empty() || m_core.downloadLimit.limited()) {
            w->windowAt = now;
            w->windowBytes = got;
        } else if (now - w->windowAt > limit) {
            if (got - w->windowBytes < kTrickleBytesPerSecond * limit / 1000) stalled.push_back({w->id, true});
            w->windowAt = now;
            w->windowBytes = got;
        }
    }
    for (auto [id, trickling] : stalled)
        if (Worker *w = find(id)) {
            const QString t = QString::number(m_core.settings.sldTimeout);
            log(QStringLiteral("Connection ") + QString::number(id) + QStringLiteral(": WARNING: Server not responding -- ") + t
                + (trickling ? QStringLiteral(" second timeout triggered (a reply trickling in without an end), closing connection")
                             : QStringLiteral(" second timeout triggered, closing connection")));
            lost(*w, t + QStringLiteral(" second timeout triggered"), Loss::Dropped);
        }
}

} // namespace vt
