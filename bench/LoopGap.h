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

// The longest single dispatch of an event by this thread, in the thread's own CPU time: a
// loaded machine that takes the core away shows in LoopGap, not here. It names the receiver.
#include <QCoreApplication>
#include <ctime>

class MeteredApp : public QCoreApplication {
public:
    MeteredApp(int &argc, char **argv) : QCoreApplication(argc, argv) {}
    bool notify(QObject *to, QEvent *e) override
    {
        if (m_depth++ > 0) {
            const bool r = QCoreApplication::notify(to, e);
            --m_depth;
            return r;
        }
        const double before = cpuMs();
        const char *what = to ? to->metaObject()->className() : "?";
        const int type = e->type();
        const bool r = QCoreApplication::notify(to, e);
        const double spent = cpuMs() - before;
        if (spent > s_longest) {
            s_longest = spent;
            s_what = QByteArray(what) + " event " + QByteArray::number(type);
        }
        --m_depth;
        return r;
    }
    // Resets the record; the next call says what the longest step since then was.
    static double takeLongestMs(QByteArray *what = nullptr)
    {
        const double l = s_longest;
        if (what) *what = s_what;
        s_longest = 0;
        s_what.clear();
        return l;
    }

private:
    static double cpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }
    int m_depth = 0;
    static inline double s_longest = 0;
    static inline QByteArray s_what;
};
