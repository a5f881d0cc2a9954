#pragma once
// The scan's many connections to the main server: a group's tasks (ScanPlan) fetched over
// each of them, two in flight a connection, the overviews handed on as they arrive. Every
// connection logs in through its own LoginSequence (compression as the settings ask) and
// asks through its own OverviewFetch.
//
// Recovery: a connection that drops, stalls or sends a damaged compressed stream gives
// its tasks back and comes again (without compression after damage); one turned away at
// the door is not replaced. A task lost three times, or no connection left, ends the
// pool's part: what is left of the plan goes on over the scan's own connection.
#include "OverviewFetch.h"
#include "ScanPlan.h"
#include "core/Settings.h"
#include "nntp/Connection.h"
#include "nntp/LoginSequence.h"
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace vt {

class AppCore;

class ScanPool : public QObject {
    Q_OBJECT
public:
    explicit ScanPool(AppCore &core, QObject *parent = nullptr);
    ~ScanPool() override;

    struct Target {
        ServerEntry server;
        LoginSequence::Options login;
        int connections = 1;
        QByteArray group;
    };
    static constexpr int kDepth = 2;          // tasks in flight on a connection
    static constexpr int kTries = 3;          // losses of one task before the pool gives up
    static constexpr int kLossesInARow = 5;   // connections lost with no burst between: given up

    // Fetches the plan's tasks until none is left; the plan is the caller's.
    void start(const Target &t, ScanPlan *plan);
    // Every connection closed; tasks in flight go back to the plan.
    void stop();
    bool running() const { return m_plan != nullptr; }
    // Held: nothing more is asked for (the crunch catches up); released: asking goes on.
    void setHeld(bool on);
    int openConnections() const { return int(m_workers.size()); }
    // Bytes received on every connection of this pool, closed ones included.
    qint64 bytesReceived() const;

    Connection::CertificateCheckFn certificateCheck;
    std::function<void(const ScanTask &, const QByteArray &lines)> burst;
    std::function<void(const ScanTask &)> empty;
    // No connection can go on: the plan keeps what is left.
    std::function<void(const QString &why)> gaveUp;
    std::function<void()> activity;

private:
    enum class Loss { Dropped, AtTheDoor, Damaged };
    struct Worker {
        int id = 0;
        std::unique_ptr<Connection> conn;
        LoginSequence login;
        OverviewFetch fetch;
        bool ready = false, started = false, xzver = false;
        qint64 lastData = 0;
    };
    void openOne();
    void onReply(int id, const Reply &r);
    void apply(int id, std::vector<OverviewFetch::Action> &acts);
    void fill(Worker &w);
    void lost(int id, const QString &why, Loss loss);
    void giveUp(const QString &why);
    void closeIdle();
    void watchdogTick();
    Worker *find(int id);
    void retire(std::unique_ptr<Connection> c);
    void log(const QString &m);
    QString serverName() const;

    AppCore &m_core;
    Target m_target;
    ScanPlan *m_plan = nullptr;
    std::vector<std::unique_ptr<Worker>> m_workers;
    int m_lossesInARow = 0;               // connections lost without a burst between
    std::map<qint32, int> m_taskLosses;  // by task start
    QSet<QString> m_plainOnly;           // servers whose compression failed
    int m_allowed = 0;
    int m_nextId = 0;
    int m_run = 0;                        // a reconnect due from an earlier run is dropped
    bool m_held = false;
    qint64 m_closedBytes = 0;
    QElapsedTimer m_clock;
    QTimer m_tick;
};

} // namespace vt
