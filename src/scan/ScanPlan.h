#pragma once
// A group's unread range cut into tasks for many connections. Tasks go out lowest first and
// come back in any order; the read mark moves only over tasks whose headers are all filed,
// so a Stop or a crash never skips headers. What was filed beyond the mark is kept, so that
// the next scan of the group asks for exactly the rest.
#include <QtGlobal>
#include <deque>
#include <map>
#include <vector>

namespace vt {

struct ScanTask {
    qint32 from = 0, to = 0;   // article numbers, both included
    bool operator==(const ScanTask &) const = default;
};

class ScanPlan {
public:
    using Ranges = std::map<qint32, qint32>;   // from -> to, disjoint and not touching
    // Everything up to mark is read; last is the group's end. Ranges already filed beyond
    // the mark are left out.
    void start(qint32 mark, qint32 last, qint32 taskSize, const Ranges &filedBeyond = {});
    // The next task to ask for; false when none is left to give.
    bool next(ScanTask *t);
    // A task that was not answered (its connection was lost): asked for again, first.
    void giveBack(const ScanTask &t);
    // Every header of the task is filed (or the server has none in it).
    void filed(const ScanTask &t);
    qint32 mark() const { return m_mark; }
    qint32 last() const { return m_last; }
    // Every task of the range filed.
    bool done() const { return m_mark >= m_last; }
    bool anyLeftToGive() const { return !m_back.empty() || nextFrom() <= m_last; }
    const Ranges &filedBeyond() const { return m_filed; }

private:
    qint32 nextFrom() const;
    qint32 m_mark = 0, m_last = 0, m_size = 1, m_cursor = 1;
    std::deque<ScanTask> m_back;
    Ranges m_filed;
};

} // namespace vt
