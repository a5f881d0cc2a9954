#include "RateLimiter.h"
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

namespace vt {

namespace {
constexpr qint64 kMinBurst = 4096;
qint64 steadyNs()
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.nsecsElapsed();
}
} // namespace

RateLimiter::RateLimiter(Clock clock) : m_clock(clock ? std::move(clock) : Clock(steadyNs)), m_last(m_clock()) {}

qint64 RateLimiter::capacity() const { return std::max(kMinBurst, m_rate / 10); }

void RateLimiter::setRate(qint64 bytesPerSecond)
{
    refill();
    m_rate = std::max<qint64>(0, bytesPerSecond);
    m_tokens = std::min(m_tokens, double(capacity()));
}

void RateLimiter::refill()
{
    const qint64 now = m_clock();
    const qint64 dt = now - m_last;
    m_last = now;
    if (m_rate <= 0 || dt <= 0) return;
    m_tokens = std::min(double(capacity()), m_tokens + double(m_rate) * double(dt) / 1e9);
}

qint64 RateLimiter::take(qint64 want)
{
    if (want <= 0) return 0;
    if (!limited()) return want;
    refill();
    const qint64 n = std::min(want, qint64(m_tokens));
    m_tokens -= double(n);
    return n;
}

int RateLimiter::waitMs()
{
    if (!limited()) return 0;
    refill();
    // Waits for a useful amount, not for a single byte.
    const double need = std::min<double>(double(capacity()) / 4, double(kMinBurst)) - m_tokens;
    if (need <= 0) return 0;
    return std::max(1, int(std::ceil(need * 1000.0 / double(m_rate))));
}

} // namespace vt
