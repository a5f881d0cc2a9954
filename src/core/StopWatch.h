#pragma once
#include <QElapsedTimer>

namespace vt {

// Millisecond stopwatch on the monotonic clock.
class CStopWatch {
public:
    CStopWatch() { m_t.start(); }
    qint64 Elapsed() const { return m_t.elapsed(); }
    static int MinimumResolution() { return 1; }
    static int MaximumResolution() { return 1000000; }
    void Reset() { m_t.restart(); }

private:
    QElapsedTimer m_t;
};

} // namespace vt
