#include "Buffers.h"
#include <mutex>
#include <vector>

namespace vt {

namespace {
// The allocator alone does not bring a freed burst's pages back: small blocks made in
// between take them. Sixty-four cover fifty connections with a burst waiting each.
constexpr qsizetype kSmallest = 64 * 1024;
constexpr size_t kMostKept = 64;
std::mutex g_mutex;
std::vector<QByteArray> g_kept;
} // namespace

QByteArray reusedBuffer(qsizetype room, qsizetype least)
{
    QByteArray b;
    {
        // The smallest that holds `least`, else the largest: a buffer grown later lands
        // on fresh pages and copies what it held.
        std::lock_guard lock(g_mutex);
        auto better = [least](const QByteArray &a, const QByteArray &than) {
            const bool fits = a.capacity() >= least;
            if (fits != (than.capacity() >= least)) return fits;
            return fits ? a.capacity() < than.capacity() : a.capacity() > than.capacity();
        };
        if (!g_kept.empty()) {
            auto pick = g_kept.begin();
            for (auto it = pick + 1; it != g_kept.end(); ++it)
                if (better(*it, *pick)) pick = it;
            b = std::move(*pick);
            if (pick + 1 != g_kept.end()) *pick = std::move(g_kept.back());
            g_kept.pop_back();
        }
    }
    if (b.capacity() < std::max(least, qsizetype(1))) b.reserve(room);
    return b;
}

void reuseBuffer(QByteArray &&b)
{
    // A shared array is still read elsewhere (and a write would copy it anyway).
    if (b.capacity() < kSmallest || !b.isDetached()) return;
    b.truncate(0);
    QByteArray keep = std::move(b);
    std::lock_guard lock(g_mutex);
    if (g_kept.size() < kMostKept) g_kept.push_back(std::move(keep));
}

qsizetype buffersKept()
{
    std::lock_guard lock(g_mutex);
    return qsizetype(g_kept.size());
}

void dropReusedBuffers()
{
    std::vector<QByteArray> kept;
    {
        std::lock_guard lock(g_mutex);
        kept.swap(g_kept);
    }
}

} // namespace vt
