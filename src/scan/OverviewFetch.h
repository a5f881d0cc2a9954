#pragma once
// Fetching overview ranges on one scan connection, as a machine: tasks go in, replies go
// in, actions come out. GROUP first, then XOVER (or XZVER) for each task, pipelined; the
// replies are matched to the commands in order. It never touches a socket.
#include "ScanPlan.h"
#include "nntp/ReplyFramer.h"
#include <QString>
#include <deque>
#include <vector>

namespace vt {

class OverviewFetch {
public:
    struct Action {
        enum Kind {
            Send,          // line
            Burst,         // task, lines: its overview, as XOVER sends it
            Empty,         // task: the server has nothing in it
            LoginWanted,   // the server asks for a login; what it refused goes out again on resume()
            Lost,          // text: this connection cannot go on (its tasks come back with takeBack())
            Damaged,       // text: a compressed reply that does not unpack
        } kind;
        QByteArray line;
        ScanTask task;
        QByteArray lines;
        QString text;
    };

    void start(const QByteArray &group, bool xzver);
    void add(const ScanTask &t, std::vector<Action> &out);
    bool expecting() const { return !m_sent.empty(); }
    void take(const Reply &r, std::vector<Action> &out);
    void resume(std::vector<Action> &out);
    int inFlight() const;
    // Every task asked for and not answered, lowest first.
    std::vector<ScanTask> takeBack();

private:
    struct Sent {
        bool group = false;
        ScanTask task;
    };
    void send(const Sent &s, std::vector<Action> &out);
    QByteArray m_group;
    bool m_xzver = false;
    bool m_groupAsked = false;
    bool m_loginAsked = false;
    std::deque<Sent> m_sent;
    std::vector<Sent> m_refused;
};

} // namespace vt
