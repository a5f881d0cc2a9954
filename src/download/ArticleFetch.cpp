#include "ArticleFetch.h"
#include "nntp/ReplyKind.h"
#include <algorithm>

namespace vt {

void ArticleFetch::start(Groups *groups)
{
    m_tasks.clear();
    m_sent.clear();
    m_refused.clear();
    m_paused = false;
    m_selected.clear();
    m_selecting.clear();
    m_groups = groups;
}

ArticleFetch::Task *ArticleFetch::task(quint64 id)
{
    for (Task &t : m_tasks)
        if (t.id == id) return &t;
    return nullptr;
}

void ArticleFetch::add(FetchJob job, std::vector<Action> &out)
{
    Task t;
    t.id = ++m_nextId;
    t.job = std::move(job);
    m_tasks.push_back(std::move(t));
    ask(m_tasks.back(), out);
}

// GROUP when the part's group is not the one the connection will be in, then the article
// by message-id (once the group is known to be there). With every listed group refused,
// the message-id alone.
void ArticleFetch::ask(Task &t, std::vector<Action> &out)
{
    const QByteArrayList &g = t.job.groups;
    while (t.groupAt < g.size() && !carried(g[t.groupAt])) ++t.groupAt;
    t.byNumber = false;
    t.inGroup = false;
    if (t.groupAt < g.size()) {
        const QByteArray &group = g[t.groupAt];
        if (group != m_selecting) {
            // Another part waits for the answer to the group asked last: the connection
            // stays there until it comes.
            const bool waiting = !m_selecting.isEmpty() && std::any_of(m_tasks.begin(), m_tasks.end(), [&](const Task &o) {
                return &o != &t && o.waitingFor == m_selecting && !o.behind;
            });
            if (waiting) {
                t.waitingFor = m_selecting;
                t.behind = true;
                return;
            }
            m_selecting = group;
            send(Sent::Group, t.id, "GROUP " + group, out);
        }
        if (!confirmed(group)) {
            t.waitingFor = group;
            return;
        }
        t.inGroup = true;
    }
    send(Sent::ById, t.id, "ARTICLE " + t.job.messageId, out);
}

// The parts that waited for a group's answer: asked for there, or in their next group.
void ArticleFetch::groupAnswered(const QByteArray &g, bool selected, std::vector<Action> &out)
{
    // Those that asked for this group first, then those that only waited behind it.
    std::vector<quint64> waiting;
    for (const bool behind : {false, true})
        for (const Task &t : m_tasks)
            if (t.waitingFor == g && t.behind == behind) waiting.push_back(t.id);
    for (quint64 id : waiting) task(id)->waitingFor.clear();
    for (quint64 id : waiting) {
        Task *t = task(id);
        if (!t) continue;
        if (t->behind) {
            t->behind = false;
            ask(*t, out);
        } else if (selected) {
            // The connection may have moved to another group since: asked anew, behind it.
            t->anyCarried = true;
            ask(*t, out);
        } else {
            nextGroup(*t, out);
        }
    }
}

// On to the next listed group the server may carry; with none left, the message-id alone.
void ArticleFetch::nextGroup(Task &t, std::vector<Action> &out)
{
    ++t.groupAt;
    const QByteArrayList &g = t.job.groups;
    while (t.groupAt < g.size() && !carried(g[t.groupAt])) ++t.groupAt;
    if (t.groupAt < g.size()) {
        ask(t, out);
        return;
    }
    t.byNumber = false;
    t.inGroup = false;
    send(Sent::ById, t.id, "ARTICLE " + t.job.messageId, out);
}

// While a login asked for in the middle is under way, commands wait for it.
void ArticleFetch::send(Sent::What what, quint64 task, const QByteArray &line, std::vector<Action> &out)
{
    Sent s{what, task, line};
    if (m_paused) {
        m_refused.push_back(std::move(s));
        return;
    }
    out.push_back({Action::Send, line, {}, {}, {}, {}});
    m_sent.push_back(std::move(s));
}

void ArticleFetch::resume(std::vector<Action> &out)
{
    if (!m_paused) return;
    m_paused = false;
    std::vector<Sent> again = std::move(m_refused);
    m_refused.clear();
    for (Sent &s : again) send(s.what, s.task, s.line, out);
}

void ArticleFetch::finish(quint64 id)
{
    m_tasks.erase(std::remove_if(m_tasks.begin(), m_tasks.end(), [&](const Task &t) { return t.id == id; }), m_tasks.end());
}

void ArticleFetch::take(const Reply &r, std::vector<Action> &out)
{
    if (m_sent.empty()) return;
    const Sent s = std::move(m_sent.front());
    m_sent.pop_front();
    const ReplyKind kind = replyKind(r.code);
    const QByteArray line = r.firstLine().left(200);
    if (kind == ReplyKind::LoginWanted) {
        m_refused.push_back(s);
        if (!m_paused) {
            m_paused = true;
            out.push_back({Action::LoginWanted, {}, {}, {}, {}, {}});
        }
        return;
    }
    if (s.what == Sent::Group) {
        const QByteArray g = s.line.mid(6);
        if (kind == ReplyKind::GroupSelected) {
            m_selected = g;
            if (m_groups) m_groups->carried.insert(g);
            groupAnswered(g, true, out);
            return;
        }
        m_selected.clear();
        if (m_selecting == g) m_selecting.clear();
        if (endsConnection(kind)) {
            out.push_back({Action::Lost, {}, {}, {}, QString::fromLatin1(line), {}});
            return;
        }
        if (kind == ReplyKind::NoSuchGroup) {
            if (m_groups) m_groups->notCarried.insert(g);
            out.push_back({Action::Say, {}, {}, {}, QStringLiteral("Newsgroup ") + QString::fromLatin1(g) + QStringLiteral(" is not on the server"), {}});
        } else {
            out.push_back({Action::Say, {}, {}, {}, QStringLiteral("Reply not understood: ") + QString::fromLatin1(line), {}});
        }
        // A request already out behind it is answered on its own, not in its group.
        for (Task &t : m_tasks)
            if (t.inGroup && t.groupAt < t.job.groups.size() && t.job.groups[t.groupAt] == g) t.inGroup = false;
        groupAnswered(g, false, out);
        return;
    }
    Task *t = task(s.task);
    if (!t) return;
    if (kind == ReplyKind::Article && r.multiline) {
        out.push_back({Action::Store, {}, std::move(t->job), r.data, {}, {}});
        finish(s.task);
        return;
    }
    if (isMissingArticle(kind) || kind == ReplyKind::NoGroupSelected) {
        missed(*t, s.what == Sent::ByNumber, out);
        return;
    }
    // Anything else is a failed try of this part here; a server that is going away also
    // ends the connection.
    out.push_back({Action::Failed, {}, std::move(t->job), {}, QStringLiteral("Reply not understood: ") + QString::fromLatin1(line), {}});
    finish(s.task);
    if (endsConnection(kind)) out.push_back({Action::Lost, {}, {}, {}, QString::fromLatin1(line), {}});
}

// Not there by message-id: by number in its own group, once that group is selected; then
// in the next listed group; then not on this server.
void ArticleFetch::missed(Task &t, bool byNumber, std::vector<Action> &out)
{
    const QByteArrayList &g = t.job.groups;
    const bool inGroup = t.inGroup && t.groupAt < g.size() && m_groups && m_groups->carried.count(g[t.groupAt]);
    t.anyCarried = t.anyCarried || inGroup;
    if (!byNumber && inGroup && t.groupAt == 0 && t.job.number > 0) {
        // A number means something only in its group: selected again if the connection
        // moved on meanwhile.
        if (m_selecting != g[0]) {
            m_selecting = g[0];
            send(Sent::Group, t.id, "GROUP " + m_selecting, out);
        }
        t.byNumber = true;
        send(Sent::ByNumber, t.id, "ARTICLE " + QByteArray::number(t.job.number), out);
        return;
    }
    if (t.groupAt < g.size()) {
        ++t.groupAt;
        while (t.groupAt < g.size() && !carried(g[t.groupAt])) ++t.groupAt;
        if (t.groupAt < g.size()) {
            ask(t, out);
            return;
        }
    }
    const bool noGroup = !g.isEmpty() && !t.anyCarried && std::none_of(g.begin(), g.end(), [&](const QByteArray &x) { return carried(x); });
    Action a{Action::NotHere, {}, std::move(t.job), {}, {}, {}};
    a.miss = noGroup ? Miss::GroupNotCarried : Miss::NotFound;
    out.push_back(std::move(a));
    finish(t.id);
}

std::vector<FetchJob> ArticleFetch::takeBack()
{
    std::vector<FetchJob> back;
    for (Task &t : m_tasks) back.push_back(std::move(t.job));
    m_tasks.clear();
    m_sent.clear();
    m_refused.clear();
    m_paused = false;
    return back;
}

} // namespace vt
