#pragma once
// Fetching articles on one connection, as a machine: parts go in, replies go in, actions
// come out (what to send, what to store, what this server does not have, what failed).
// It never touches a socket, so every answer a server can give is tested on its own.
//
// A part is asked for in its group (GROUP first, when the connection is in another one):
// ARTICLE by message-id, and after a 430 by its number in that group. An imported part
// lists several groups: each is tried in turn. What the server said of a group is kept
// for all its connections: a group it does not carry (411) is not asked again, and the
// part is still asked for by message-id, which needs no group; behind a group it has
// confirmed, ARTICLE goes out at once, behind any other it waits for the answer. Commands
// are pipelined: the replies are matched to them in order.
#include "headers/HeaderStore.h"
#include "nntp/ReplyFramer.h"
#include <QByteArrayList>
#include <QString>
#include <deque>
#include <set>
#include <vector>

namespace vt {

struct FetchJob {
    ItemRef item;
    int part = 0;                 // 1-based
    QByteArray messageId;         // with its angle brackets
    qint32 number = 0;            // in groups.front(); 0 = none (an imported part)
    QByteArrayList groups;        // to select, in order; may be empty
};

class ArticleFetch {
public:
    // Why a server does not have a part.
    enum class Miss { NotFound, GroupNotCarried };
    struct Action {
        enum Kind {
            Send,          // line
            Store,         // job, article: the whole 220 reply as received
            NotHere,       // job, miss: this server has no copy of it
            Failed,        // job, text: an answer not understood (a failed try on this server)
            LoginWanted,   // the server asks for a login; what was refused is sent again on resume()
            Lost,          // text: the server will not go on with this connection
            Say,           // text: for the log
        } kind;
        QByteArray line;
        FetchJob job;
        QByteArray article;
        QString text;
        Miss miss = Miss::NotFound;
    };

    // What a server said of its groups, shared by its connections.
    struct Groups {
        std::set<QByteArray> carried, notCarried;
    };
    // A new connection: nothing selected, nothing asked (groups may be null).
    void start(Groups *groups);
    // Asks for a part.
    void add(FetchJob job, std::vector<Action> &out);
    // Whether the next reply answers one of this machine's commands (the rest, such as
    // the replies to a login, belong to the login).
    bool expecting() const { return !m_sent.empty(); }
    void take(const Reply &r, std::vector<Action> &out);
    // After a login asked for in the middle: the refused commands go out again.
    void resume(std::vector<Action> &out);
    // Parts asked for and not answered yet, in order.
    int inFlight() const { return int(m_tasks.size()); }
    // The connection is lost: its parts come back, in the order they were asked.
    std::vector<FetchJob> takeBack();
    const QByteArray &selectedGroup() const { return m_selected; }

private:
    struct Task {
        quint64 id = 0;
        FetchJob job;
        int groupAt = 0;      // the group being tried
        bool byNumber = false;
        bool anyCarried = false;   // some listed group was selected or not refused
        QByteArray waitingFor;     // the group whose answer its ARTICLE waits for
        bool inGroup = false;      // its request goes out behind its own group's GROUP
        bool behind = false;       // waits only for the connection to be free of that answer
    };
    struct Sent {
        enum What { Group, ById, ByNumber } what;
        quint64 task;
        QByteArray line;
    };
    Task *task(quint64 id);
    void ask(Task &t, std::vector<Action> &out);
    void send(Sent::What what, quint64 task, const QByteArray &line, std::vector<Action> &out);
    void missed(Task &t, bool byNumber, std::vector<Action> &out);
    void nextGroup(Task &t, std::vector<Action> &out);
    void groupAnswered(const QByteArray &g, bool selected, std::vector<Action> &out);
    void finish(quint64 id);
    bool carried(const QByteArray &g) const { return !m_groups || !m_groups->notCarried.count(g); }
    bool confirmed(const QByteArray &g) const { return m_groups && m_groups->carried.count(g); }

    std::deque<Task> m_tasks;
    std::deque<Sent> m_sent;
    std::vector<Sent> m_refused;   // refused for a login, sent again on resume()
    bool m_paused = false;
    QByteArray m_selected;         // the group the server has selected now
    QByteArray m_selecting;        // the group selected once every command sent is answered
    Groups *m_groups = nullptr;
    quint64 m_nextId = 0;
};

} // namespace vt
