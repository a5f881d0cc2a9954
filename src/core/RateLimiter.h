#pragma once
// A speed limit shared by every connection of a download: a token bucket that fills at the
// rate and holds at most a tenth of a second of it, so the average over seconds keeps to
// the rate while no connection waits long. Rate 0: no limit.
#include <QtGlobal>
#include <functional>

namespace vt {

class RateLimiter {
public:
    using Clock = std::function<qint64()>;   // nanoseconds, steady
    explicit RateLimiter(Clock clock = {});

    // Takes effect at once, also in the middle of a download.
    void setRate(qint64 bytesPerSecond);
    qint64 rate() const { return m_rate; }
    bool limited() const { return m_rate > 0; }
    // How many of `want` bytes may be read now (all of them when there is no limit).
    qint64 take(qint64 want);
    // Milliseconds until some bytes may be read again; 0 when they may now.
    int waitMs();

private:
    void refill();
    qint64 capacity() const;
    Clock m_clock;
    qint64 m_rate = 0;
    double m_tokens = 0;
    qint64 m_last = 0;
};

} // namespace vt
