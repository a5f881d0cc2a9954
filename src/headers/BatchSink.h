#pragma once
// What the header database needs of the batch: put an item in, take it out.
#include <vector>

namespace vt {

class BatchSink {
public:
    virtual ~BatchSink() = default;
    virtual void AddToBatch(int item) = 0;
    // Many at once, in this order (a loaded header file's batch): the same as one by one.
    virtual void addAllToBatch(const std::vector<int> &items)
    {
        for (int i : items) AddToBatch(i);
    }
    // markDeleted hides the item; freeSlot also lets a new item take its slot.
    virtual void RemoveFromBatch(int item, bool markDeleted, bool freeSlot) = 0;
    virtual int batchRows() const = 0;
    // 1-based row of the item in the batch, or 0.
    virtual int batchPositionOf(int item) const = 0;
    // The queued items, top row first.
    virtual std::vector<int> batchItems() const = 0;
};

} // namespace vt
