#pragma once
// The longest gap between two turns of the event loop while it runs: a 1 ms timer notes
// how long it waited for its turn each time.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

class LoopGap {
public:
    LoopGap()
    {
        m_tick.setInterval(1);
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_gap.restart()); });
        m_gap.start();
        m_tick.start();
    }
    qint64 longestMs() const { return m_longest; }

private:
    QTimer m_tick;
    QElapsedTimer m_gap;
    qint64 m_longest = 0;
};
