#include "OverviewFetch.h"
#include "nntp/Overview.h"
#include "nntp/ReplyKind.h"
#include <algorithm>

namespace vt {

void OverviewFetch::start(const QByteArray &group, bool xzver)
{
    m_group = group;
    m_xzver = xzver;
    m_groupAsked = false;
    m_loginAsked = false;
    m_sent.clear();
    m_refused.clear();
}

void OverviewFetch::send(const Sent &s, std::vector<Action> &out)
{
    if (s.group) {
        m_groupAsked = true;
        out.push_back({Action::Send, "GROUP " + m_group, {}, {}, {}});
    } else {
        out.push_back({Action::Send,
                       (m_xzver ? QByteArrayLiteral("XZVER ") : QByteArrayLiteral("XOVER ")) + QByteArray::number(s.task.from) + '-'
                           + QByteArray::number(s.task.to),
                       s.task, {}, {}});
    }
    m_sent.push_back(s);
}

void OverviewFetch::add(const ScanTask &t, std::vector<Action> &out)
{
    if (m_loginAsked) {
        m_refused.push_back({false, t});
        return;
    }
    // Behind its GROUP at once: should the group be refused, the connection ends anyway.
    if (!m_groupAsked) send({true, {}}, out);
    send({false, t}, out);
}

int OverviewFetch::inFlight() const
{
    return int(std::count_if(m_sent.begin(), m_sent.end(), [](const Sent &s) { return !s.group; })
               + std::count_if(m_refused.begin(), m_refused.end(), [](const Sent &s) { return !s.group; }));
}

void OverviewFetch::take(const Reply &r, std::vector<Action> &out)
{
    if (m_sent.empty()) return;
    const Sent s = m_sent.front();
    m_sent.pop_front();
    const ReplyKind k = replyKind(r.code);
    const QString line = QString::fromLatin1(r.firstLine().left(200));
    if (!r.multiline && k == ReplyKind::LoginWanted) {
        if (s.group) m_groupAsked = false;
        m_refused.push_back(s);
        if (!m_loginAsked) out.push_back({Action::LoginWanted, {}, {}, {}, {}});
        m_loginAsked = true;
        return;
    }
    if (!r.multiline && endsConnection(k)) {
        m_sent.push_front(s);
        out.push_back({Action::Lost, {}, {}, {}, line});
        return;
    }
    if (s.group) {
        if (k == ReplyKind::GroupSelected) return;
        out.push_back({Action::Lost, {}, {}, {}, k == ReplyKind::NoSuchGroup ? QStringLiteral("the group is not there: ") + line
                                                                              : QStringLiteral("GROUP answered ") + line});
        return;
    }
    QByteArray lines;
    QString why;
    switch (overviewAnswer(r, m_xzver, &lines, &why)) {
    case OverviewAnswer::Lines: out.push_back({Action::Burst, {}, s.task, std::move(lines), {}}); return;
    case OverviewAnswer::Nothing: out.push_back({Action::Empty, {}, s.task, {}, {}}); return;
    case OverviewAnswer::Damaged:
        m_sent.push_front(s);   // not answered: it comes back with the others
        out.push_back({Action::Damaged, {}, {}, {}, why});
        return;
    case OverviewAnswer::Other:
        m_sent.push_front(s);
        out.push_back({Action::Lost, {}, {}, {}, QStringLiteral("Reply not understood: ") + line});
        return;
    }
}

void OverviewFetch::resume(std::vector<Action> &out)
{
    m_loginAsked = false;
    // Logged in anew: the group is selected again, whatever the server kept.
    m_groupAsked = false;
    std::vector<Sent> again;
    again.swap(m_refused);
    for (const Sent &s : again)
        if (!s.group) add(s.task, out);
}

std::vector<ScanTask> OverviewFetch::takeBack()
{
    std::vector<ScanTask> back;
    for (const Sent &s : m_sent)
        if (!s.group) back.push_back(s.task);
    for (const Sent &s : m_refused)
        if (!s.group) back.push_back(s.task);
    m_sent.clear();
    m_refused.clear();
    std::sort(back.begin(), back.end(), [](const ScanTask &a, const ScanTask &b) { return a.from < b.from; });
    return back;
}

} // namespace vt
