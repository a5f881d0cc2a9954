#include "PageWarmer.h"
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fcntl.h>
#include <malloc.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace vt {

namespace {

// The main heap grows by this much at a time once warming is asked of it: enough ahead of
// the filing that the warming stays in front.
constexpr size_t kHeapStep = 16u << 20;
// A range is warmed a slice at a time, so that neither an exit nor the other ranges wait
// for a large one.
constexpr size_t kSlice = 1u << 20;

class Warmer {
public:
    ~Warmer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    void add(uintptr_t from, uintptr_t to)
    {
        const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
        from &= ~(page - 1);
        to = (to + page - 1) & ~(page - 1);
        if (from >= to) return;
        {
            std::lock_guard lock(m_mutex);
            if (!m_works) return;
            m_queue.push_back({from, to});
            if (!m_thread.joinable()) {
                m_thread = std::thread([this] { run(); });
                pthread_setname_np(m_thread.native_handle(), "vt-warm");
            }
        }
        m_wake.notify_all();
    }

    void heapAhead()
    {
        std::call_once(m_padSet, [] { mallopt(M_TOP_PAD, int(kHeapStep)); });
        // sbrk(0) only reads the break: the heap's allocator moves it, never this. The last
        // two steps below it are warmed whenever it moved, up or down (a trim gives pages
        // back, and they come back fresh).
        const uintptr_t brk = uintptr_t(sbrk(0));
        {
            std::lock_guard lock(m_mutex);
            if (brk == m_lastBreak) return;
            m_lastBreak = brk;
        }
        add(brk - std::min<uintptr_t>(brk, 2 * kHeapStep), brk);
    }

    bool waitIdle()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
        return m_works;
    }

private:
    struct Range {
        uintptr_t from, to;
    };

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) return;
            // A slice of each range in turn: the heap's next pages must not wait behind
            // a whole new index table.
            const Range r = m_queue.front();
            m_queue.pop_front();
            const uintptr_t from = r.from, to = std::min(r.to, r.from + kSlice);
            if (to < r.to) m_queue.push_back({to, r.to});
            m_busy = true;
            lock.unlock();
            // EFAULT/ENOMEM: the range was freed meanwhile. EINVAL: a kernel without it.
            const bool unsupported = madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE) != 0 && errno == EINVAL;
            lock.lock();
            m_busy = false;
            if (unsupported) {
                m_works = false;
                m_queue.clear();
            }
            if (m_queue.empty()) m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::deque<Range> m_queue;
    std::thread m_thread;
    std::once_flag m_padSet;
    uintptr_t m_lastBreak = 0;
    bool m_busy = false;
    bool m_stop = false;
    bool m_works = true;
};

Warmer &warmer()
{
    static Warmer w;
    return w;
}

} // namespace

void warmPages(const void *at, size_t bytes)
{
    const uintptr_t from = reinterpret_cast<uintptr_t>(at);
    warmer().add(from, from + bytes);
}

void warmHeapAhead() { warmer().heapAhead(); }

bool waitPagesWarmed() { return warmer().waitIdle(); }

void WriteBehind::written(int fd, long long end)
{
    constexpr long long kStep = 4 << 20, kRetry = 64 << 20;
    if (fd < 0 || end - m_handed < kStep) return;
    // Dropping dirty pages starts their writing and keeps them; clean ones go.
    posix_fadvise(fd, m_handed, end - m_handed, POSIX_FADV_DONTNEED);
    const long long from = std::max(0LL, m_handed - kRetry);
    if (m_handed > from) posix_fadvise(fd, from, m_handed - from, POSIX_FADV_DONTNEED);
    m_handed = end;
}

} // namespace vt
