#include "DecodeQueue.h"
#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>

namespace vt {

// What the decode thread reads: the generation of jobs still wanted and the cancel flag.
struct DecodeQueue::Shared {
    std::atomic<quint64> wanted{0};
    std::atomic<bool> cancel{false};
    DecodeWork work;   // used on the decode thread only
};

DecodeQueue::DecodeQueue(Decoder &decoder, QObject *parent)
    : QObject(parent), m_decoder(decoder), m_shared(std::make_shared<Shared>())
{
    m_thread.setObjectName(QStringLiteral("decode"));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    // Reports cross to this thread as queued calls; `this` outlives them (the destructor
    // waits for the thread, and pending calls die with the object).
    DecodeWork &w = m_shared->work;
    w.cancel = &m_shared->cancel;
    w.log = [this](const QString &m, bool record) {
        QMetaObject::invokeMethod(this, [this, m, record] { m_decoder.logFromWork(m, record); }, Qt::QueuedConnection);
    };
    // Progress and activity a few times a second: enough for a bar and a watchdog, and
    // little work for this thread while the decode runs.
    auto due = [](QElapsedTimer &t) {
        if (t.isValid() && t.elapsed() < 100) return false;
        t.start();
        return true;
    };
    w.fileProgress = [this, due](qint64 v, qint64 max) {
        thread_local QElapsedTimer shown;
        if (v != max && !due(shown)) return;
        QMetaObject::invokeMethod(this, [this, v, max] { m_decoder.fileProgressFromWork(v, max); }, Qt::QueuedConnection);
    };
    w.activity = [this, due] {
        thread_local QElapsedTimer heard;
        if (!due(heard)) return;
        QMetaObject::invokeMethod(this, [this] {
            if (m_decoder.activity) m_decoder.activity();
        }, Qt::QueuedConnection);
    };
    w.over = [this](const DecodeJob &job, const DecodeOutcome &o) {
        if (m_decoder.decodeOver) m_decoder.decodeOver(job, o);
    };
    m_thread.start();
}

DecodeQueue::~DecodeQueue()
{
    cancelAll();
    m_thread.quit();
    m_thread.wait();
}

bool DecodeQueue::enqueue(int item)
{
    if (contains(item)) return true;
    DecodeJob job;
    if (!m_decoder.prepare(item, &job)) return false;
    m_items.push_back(item);
    const quint64 generation = m_generation;
    // The decode thread's decoder takes this one's settings.
    const bool fast = m_decoder.yenc.useFastPath, atOffset = m_decoder.yenc.placeAtOffset;
    std::shared_ptr<Shared> shared = m_shared;
    QPointer<DecodeQueue> self(this);
    const std::function<void(int)> start = onJobStart;
    QMetaObject::invokeMethod(m_worker, [shared, job, generation, fast, atOffset, self, start] {
        DecodeOutcome o;
        if (start) start(job.item);
        if (shared->wanted.load() <= generation) {
            shared->work.yenc.useFastPath = fast;
            shared->work.yenc.placeAtOffset = atOffset;
            o = shared->work.run(job);
        } else {
            o.cancelled = true;
        }
        QMetaObject::invokeMethod(self.data(), [self, generation, job, o] {
            if (self) self->done(generation, job, o);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    return true;
}

bool DecodeQueue::contains(int item) const
{
    return std::find(m_items.begin(), m_items.end(), item) != m_items.end();
}

void DecodeQueue::cancelQueued()
{
    // Jobs queued so far are no longer wanted, except the one already running: it checks
    // the generation only before it starts.
    m_shared->wanted = ++m_generation;
}

void DecodeQueue::cancelAll()
{
    cancelQueued();
    m_shared->cancel = true;
}

bool DecodeQueue::cancelling() const { return m_shared->cancel.load(); }

void DecodeQueue::done(quint64 generation, const DecodeJob &job, const DecodeOutcome &o)
{
    const auto at = std::find(m_items.begin(), m_items.end(), job.item);
    if (at != m_items.end()) m_items.erase(at);
    (void)generation;
    const bool decoded = m_decoder.finish(job, o);
    emit finished(job.item, decoded, decoded ? QString() : m_decoder.localFailure());
}

} // namespace vt
