#include "ScanPlan.h"
#include <algorithm>

namespace vt {

void ScanPlan::start(qint32 mark, qint32 last, qint32 taskSize, const Ranges &filedBeyond)
{
    m_mark = mark;
    m_last = last;
    m_size = std::max(1, taskSize);
    m_cursor = mark + 1;
    m_back.clear();
    m_filed.clear();
    for (const auto &[from, to] : filedBeyond)
        if (to > mark && from <= last) filed({std::max(from, mark + 1), std::min(to, last)});
}

// The first number at or after the cursor that no filed range holds (ranges never touch,
// so one step past the range holding it is enough).
qint32 ScanPlan::nextFrom() const
{
    auto it = m_filed.upper_bound(m_cursor);
    if (it == m_filed.begin()) return m_cursor;
    --it;
    return it->second >= m_cursor ? it->second + 1 : m_cursor;
}

bool ScanPlan::next(ScanTask *t)
{
    if (!m_back.empty()) {
        *t = m_back.front();
        m_back.pop_front();
        return true;
    }
    const qint32 from = nextFrom();
    if (from > m_last) return false;
    // A task stops short of the next range already filed.
    qint32 to = std::min<qint64>(qint64(from) + m_size - 1, m_last);
    const auto after = m_filed.upper_bound(from);
    if (after != m_filed.end()) to = std::min(to, after->first - 1);
    *t = {from, to};
    m_cursor = to + 1;
    return true;
}

void ScanPlan::giveBack(const ScanTask &t)
{
    const auto at = std::lower_bound(m_back.begin(), m_back.end(), t, [](const ScanTask &a, const ScanTask &b) { return a.from < b.from; });
    m_back.insert(at, t);
}

void ScanPlan::filed(const ScanTask &t)
{
    qint32 from = std::max(t.from, m_mark + 1), to = t.to;
    if (to < from) return;
    // Merged with its neighbours, so that the ranges never touch.
    auto it = m_filed.upper_bound(from);
    if (it != m_filed.begin()) {
        auto before = std::prev(it);
        if (before->second >= from - 1) {
            from = before->first;
            to = std::max(to, before->second);
            it = m_filed.erase(before);
        }
    }
    while (it != m_filed.end() && it->first <= to + 1) {
        to = std::max(to, it->second);
        it = m_filed.erase(it);
    }
    m_filed[from] = to;
    const auto first = m_filed.begin();
    if (first->first == m_mark + 1) {
        m_mark = std::min(first->second, m_last);
        m_filed.erase(first);
    }
}

} // namespace vt
