#include "BatchQueue.h"
#include "headers/HeaderStore.h"
#include <algorithm>

namespace vt {

void BatchQueue::AddToBatch(int item)
{
    if (item < 1 || item > m_store.itemCount()) return;
    HeaderItem &it = m_store.item(item);
    if (it.inBatch && batchPositionOf(item)) return;
    it.inBatch = true;
    it.displayRefresh = true;
    m_rows.push_back(item);
    m_store.headersDirty = true;
    emit changed();
}

void BatchQueue::RemoveFromBatch(int item, bool markDeleted, bool freeSlot)
{
    auto it = std::find(m_rows.begin(), m_rows.end(), item);
    if (it != m_rows.end()) m_rows.erase(it);
    if (item >= 1 && item <= m_store.itemCount()) {
        HeaderItem &h = m_store.item(item);
        h.inBatch = false;
        h.displayRefresh = true;
        if (markDeleted) h.deleted = true;
        if (freeSlot) {
            h.deleted = h.reusable = true;
            ++m_store.freeSlotCount;
        }
    }
    m_store.headersDirty = true;
    emit changed();
}

int BatchQueue::batchPositionOf(int item) const
{
    auto it = std::find(m_rows.begin(), m_rows.end(), item);
    return it == m_rows.end() ? 0 : int(it - m_rows.begin()) + 1;
}

void BatchQueue::clear()
{
    m_rows.clear();
    emit changed();
}

} // namespace vt
