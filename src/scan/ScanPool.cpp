#include "ScanPool.h"
#include "core/AppCore.h"
#include "core/Text.h"
#include "nntp/ReplyKind.h"

namespace vt {

ScanPool::ScanPool(AppCore &core, QObject *parent) : QObject(parent), m_core(core)
{
    m_clock.start();
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &ScanPool::watchdogTick);
}

ScanPool::~ScanPool() { stop(); }

void ScanPool::log(const QString &m) { m_core.LogOp(m, true); }

QString ScanPool::serverName() const { return m_target.server.host + u':' + m_target.server.port; }

ScanPool::Worker *ScanPool::find(int id)
{
    for (auto &w : m_workers)
        if (w->id == id) return w.get();
    return nullptr;
}

void ScanPool::retire(std::unique_ptr<Connection> c)
{
    m_closedBytes += c->bytesReceived();
    c->disconnect(this);
    c->sendLine("QUIT");
    c->close();
    Connection *raw = c.release();
    raw->setParent(this);
    raw->deleteLater();
}

qint64 ScanPool::bytesReceived() const
{
    qint64 n = m_closedBytes;
    for (const auto &w : m_workers) n += w->conn->bytesReceived();
    return n;
}

void ScanPool::start(const Target &t, ScanPlan *plan)
{
    stop();
    m_target = t;
    m_plan = plan;
    ++m_run;
    m_allowed = std::clamp(t.connections, 1, 50);
    m_lossesInARow = 0;
    m_taskLosses.clear();
    m_held = false;
    m_tick.start();
    for (int i = 0; i < m_allowed && m_plan && m_plan->anyLeftToGive(); ++i) openOne();
}

void ScanPool::stop()
{
    m_tick.stop();
    for (auto &w : m_workers) {
        if (m_plan)
            for (const ScanTask &t : w->fetch.takeBack()) m_plan->giveBack(t);
        retire(std::move(w->conn));
    }
    m_workers.clear();
    m_plan = nullptr;
}

void ScanPool::setHeld(bool on)
{
    if (m_held == on) return;
    m_held = on;
    if (on) return;
    std::vector<int> ids;
    for (const auto &w : m_workers) ids.push_back(w->id);
    for (int id : ids)
        if (Worker *w = find(id)) fill(*w);
    closeIdle();
}

void ScanPool::openOne()
{
    const ServerEntry &s = m_target.server;
    quint16 port = 0;
    if (!portNumber(s.port, &port)) {
        giveUp(QStringLiteral("the port \"") + s.port + QStringLiteral("\" is not a number from 1 to 65535"));
        return;
    }
    auto w = std::make_unique<Worker>();
    w->id = ++m_nextId;
    w->conn = std::make_unique<Connection>();
    w->conn->certificateCheck = certificateCheck;
    LoginSequence::Options o = m_target.login;
    o.compress = o.compress && !m_plainOnly.contains(serverName());
    w->login.start(o);
    const int id = w->id;
    connect(w->conn.get(), &Connection::replyReceived, this, [this, id](const Reply &r) { onReply(id, r); });
    connect(w->conn.get(), &Connection::dataArrived, this, [this, id](qsizetype) {
        if (Worker *x = find(id)) x->lastData = m_clock.elapsed();
    });
    connect(w->conn.get(), &Connection::notice, this,
            [this, id](const QString &text) { log(QStringLiteral("Scan connection ") + QString::number(id) + QStringLiteral(": ") + text); });
    connect(w->conn.get(), &Connection::peerClosed, this, [this, id] {
        if (Worker *x = find(id)) lost(id, QStringLiteral("Server closed connection"), x->ready ? Loss::Dropped : Loss::AtTheDoor);
    });
    connect(w->conn.get(), &Connection::socketError, this, [this, id](const QString &why) {
        if (Worker *x = find(id))
            lost(id, why, x->conn->compressionDamaged() ? Loss::Damaged : x->started ? Loss::Dropped : Loss::AtTheDoor);
    });
    w->lastData = m_clock.elapsed();
    w->conn->connectTo(trimBlanks(s.host), port, s.tls);
    m_workers.push_back(std::move(w));
}

void ScanPool::onReply(int id, const Reply &r)
{
    Worker *w = find(id);
    if (!w) return;
    w->lastData = m_clock.elapsed();
    std::vector<OverviewFetch::Action> acts;
    if (w->fetch.expecting()) {
        w->fetch.take(r, acts);
        apply(id, acts);
        return;
    }
    const ReplyKind kind = replyKind(r.code);
    const QString line = QString::fromLatin1(r.firstLine().left(200));
    if (!r.multiline && !w->started && (kind == ReplyKind::Refused || kind == ReplyKind::Unavailable || kind == ReplyKind::LoginRefused)) {
        lost(id, line, Loss::AtTheDoor);
        return;
    }
    std::vector<LoginSequence::Action> la;
    if (!r.multiline && w->login.take(r.code, r.firstLine(), la)) {
        bool ready = false;
        for (const LoginSequence::Action &a : la) {
            switch (a.kind) {
            case LoginSequence::Action::Send: w->conn->sendLine(a.line); break;
            case LoginSequence::Action::Ready: ready = true; break;
            case LoginSequence::Action::MissingUser:
            case LoginSequence::Action::MissingPassword: giveUp(QStringLiteral("the server wants a login and none is set")); return;
            case LoginSequence::Action::Compressed: w->conn->startCompression(); break;
            case LoginSequence::Action::GzipReplies: w->conn->acceptGzipReplies(); break;
            case LoginSequence::Action::XzverKnown: w->xzver = true; break;
            case LoginSequence::Action::NotCompressed: m_plainOnly.insert(serverName()); break;
            case LoginSequence::Action::Say:
            case LoginSequence::Action::Greeted: break;
            }
        }
        if (!ready) return;
        w->ready = true;
        if (!w->started) {
            w->started = true;
            w->fetch.start(m_target.group, w->xzver);
            fill(*w);
        } else {
            w->fetch.resume(acts);
            apply(id, acts);
            if ((w = find(id))) fill(*w);
        }
        closeIdle();
        return;
    }
    if (endsConnection(kind)) {
        lost(id, line, w->started ? Loss::Dropped : Loss::AtTheDoor);
        return;
    }
    log(QStringLiteral("Scan connection ") + QString::number(id) + QStringLiteral(": Reply not understood: ") + line);
}

void ScanPool::fill(Worker &w)
{
    if (!m_plan || m_held || !w.ready) return;
    std::vector<OverviewFetch::Action> acts;
    ScanTask t;
    while (w.fetch.inFlight() < kDepth && m_plan->next(&t)) w.fetch.add(t, acts);
    for (const auto &a : acts)
        if (a.kind == OverviewFetch::Action::Send) w.conn->sendLine(a.line);
}

void ScanPool::apply(int id, std::vector<OverviewFetch::Action> &acts)
{
    for (OverviewFetch::Action &a : acts) {
        Worker *w = find(id);
        if (!w || !m_plan) return;
        switch (a.kind) {
        case OverviewFetch::Action::Send: w->conn->sendLine(a.line); break;
        case OverviewFetch::Action::Burst:
        case OverviewFetch::Action::Empty:
            m_lossesInARow = 0;
            m_taskLosses.erase(a.task.from);
            fill(*w);
            if (a.kind == OverviewFetch::Action::Burst) {
                if (burst) burst(a.task, a.lines);
            } else if (empty) {
                empty(a.task);
            }
            if (activity) activity();
            break;
        case OverviewFetch::Action::LoginWanted: {
            w->ready = false;
            if (!loginAgain(w->login, *w->conn)) {
                giveUp(QStringLiteral("the server wants a login and none is set"));
                return;
            }
            break;
        }
        case OverviewFetch::Action::Lost: lost(id, a.text, Loss::Dropped); return;
        case OverviewFetch::Action::Damaged: lost(id, a.text, Loss::Damaged); return;
        }
    }
    closeIdle();
}

// Connections with nothing in flight and nothing left to ask for say goodbye.
void ScanPool::closeIdle()
{
    if (!m_plan || m_plan->anyLeftToGive()) return;
    for (size_t i = 0; i < m_workers.size();) {
        Worker &w = *m_workers[i];
        if (w.ready && w.fetch.inFlight() == 0) {
            retire(std::move(w.conn));
            m_workers.erase(m_workers.begin() + qsizetype(i));
            continue;
        }
        ++i;
    }
}

void ScanPool::lost(int id, const QString &why, Loss loss)
{
    Worker *w = find(id);
    if (!w || !m_plan) return;
    bool tooMany = false;
    for (const ScanTask &t : w->fetch.takeBack()) {
        tooMany |= ++m_taskLosses[t.from] >= kTries;
        m_plan->giveBack(t);
    }
    const bool started = w->started;
    log(QStringLiteral("Scan connection ") + QString::number(id) + QStringLiteral(" to ") + serverName() + QStringLiteral(": ") + why);
    retire(std::move(w->conn));
    m_workers.erase(std::find_if(m_workers.begin(), m_workers.end(), [&](const auto &x) { return x->id == id; }));
    if (loss == Loss::Damaged) {
        m_plainOnly.insert(serverName());
        log(QStringLiteral("Scanning on without compression"));
    }
    if (tooMany) {
        giveUp(QStringLiteral("the same articles were lost ") + QString::number(kTries) + QStringLiteral(" times (") + why + u')');
        return;
    }
    if (loss == Loss::AtTheDoor && !started) {
        // Turned away (too many connections, no permission): the others go on without it.
        --m_allowed;
    } else if (++m_lossesInARow >= kLossesInARow) {
        giveUp(QStringLiteral("connections were lost ") + QString::number(kLossesInARow) + QStringLiteral(" times in a row (") + why + u')');
        return;
    }
    if (m_allowed < 1) {
        giveUp(why);
        return;
    }
    // The others take on what it gave back at once; it comes again after a second.
    for (auto &x : m_workers) fill(*x);
    const int run = m_run;
    QTimer::singleShot(loss == Loss::Damaged ? 0 : 1000, this, [this, run] {
        if (run != m_run || !m_plan) return;
        if (int(m_workers.size()) < m_allowed && m_plan->anyLeftToGive()) openOne();
    });
}

void ScanPool::giveUp(const QString &why)
{
    if (!m_plan) return;
    log(QStringLiteral("The scan goes on over one connection: ") + why);
    stop();
    ++m_run;
    if (gaveUp) gaveUp(why);
}

void ScanPool::watchdogTick()
{
    const qint64 limit = qint64(m_core.settings.sldTimeout) * 1000, now = m_clock.elapsed();
    std::vector<int> stalled;
    for (const auto &w : m_workers)
        if ((w->fetch.inFlight() > 0 || !w->ready) && now - w->lastData > limit) stalled.push_back(w->id);
    for (int id : stalled)
        if (Worker *w = find(id))
            lost(id, QStringLiteral("Server not responding -- ") + QString::number(m_core.settings.sldTimeout) + QStringLiteral(" second timeout"),
                 w->started ? Loss::Dropped : Loss::AtTheDoor);
}

} // namespace vt
