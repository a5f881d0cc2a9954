#pragma once
// The batch: items queued for download, in download order.
#include "headers/BatchSink.h"
#include <QObject>
#include <vector>

namespace vt {

class HeaderStore;

class BatchQueue : public QObject, public BatchSink {
    Q_OBJECT
public:
    explicit BatchQueue(HeaderStore &store, QObject *parent = nullptr) : QObject(parent), m_store(store) {}

    void AddToBatch(int item) override;
    void RemoveFromBatch(int item, bool markDeleted, bool freeSlot) override;
    int batchRows() const override { return int(m_rows.size()); }
    int batchPositionOf(int item) const override;
    const std::vector<int> &rows() const { return m_rows; }
    void clear();

signals:
    void changed();

private:
    HeaderStore &m_store;
    std::vector<int> m_rows;   // item indexes, top first
};

} // namespace vt
