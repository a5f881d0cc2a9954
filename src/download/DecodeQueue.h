#pragma once
// Decodes on a thread of their own, one at a time in the order queued (the library is not
// re-entrant), while the download goes on. Each job is copied from the store when queued
// and applied to the item when it ends, on this thread; the window never waits for a
// decode, and no decode runs twice for one item.
#include "Decoder.h"
#include <QObject>
#include <QThread>
#include <atomic>
#include <deque>
#include <memory>

namespace vt {

class DecodeQueue : public QObject {
    Q_OBJECT
public:
    explicit DecodeQueue(Decoder &decoder, QObject *parent = nullptr);
    ~DecodeQueue() override;   // cancels what is queued, ends the running one, waits

    // False (with the decoder's localFailure) when the job could not be made.
    bool enqueue(int item);
    // Queued or running.
    bool contains(int item) const;
    int pending() const { return int(m_items.size()); }
    bool idle() const { return m_items.empty(); }
    // What has not started goes (the items keep their parts and places); the running
    // decode finishes.
    void cancelQueued();
    // Also ends the running decode early (the program exits).
    void cancelAll();
    bool cancelling() const;

    // Called on the decode thread as a job starts (tests hold a decode here).
    std::function<void(int item)> onJobStart;

signals:
    // decoded: the outcome was applied; otherwise localFailure says why not (empty when
    // cancelled).
    void finished(int item, bool decoded, const QString &localFailure);

private:
    struct Shared;
    void done(quint64 generation, const DecodeJob &job, const DecodeOutcome &o);

    Decoder &m_decoder;
    QThread m_thread;
    QObject *m_worker = nullptr;   // lives on m_thread
    std::shared_ptr<Shared> m_shared;
    std::deque<int> m_items;
    quint64 m_generation = 0;
};

} // namespace vt
