#include "BatchQueue.h"
#include "headers/NzbOrigins.h"
#include "core/ListRoles.h"
#include "core/Settings.h"
#include "core/OpsLog.h"
#include "core/Text.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include <QDate>
#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace vt {

BatchQueue::BatchQueue(HeaderStore &store, const NewsgroupTable *groups, OpsLog *log, QObject *parent)
    : QAbstractTableModel(parent), m_store(store), m_groups(groups), m_log(log)
{
}

QVariant BatchQueue::headerData(int section, Qt::Orientation o, int role) const
{
    return columnCaption(Settings::batchColumnDefs(), section, o, role);
}

QVariant BatchQueue::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    if (role == Qt::DisplayRole) return cellText(index.row(), index.column());
    if (role == Qt::UserRole) return m_rows[size_t(index.row())].tag;
    if (role == IconKeyRole && index.column() == 0) return QStringLiteral("iteminbatch");
    if (role == Qt::ToolTipRole && (index.column() == Progress || index.column() == TimeLeft)) {
        const auto f = m_flows.find(m_rows[size_t(index.row())].tag);
        if (f == m_flows.end() || f->second.total <= 0) return {};
        QString tip = QString::number(double(f->second.done) / 1e6, 'f', 1) + QStringLiteral(" of ")
                      + QString::number(double(f->second.total) / 1e6, 'f', 1) + QStringLiteral(" MB");
        if (f->second.bytesPerSecond > 0)
            tip += QStringLiteral(" at ") + QString::number(f->second.bytesPerSecond / 1e6, 'f', 1) + QStringLiteral(" MB/s");
        return tip;
    }
    if (role == ProgressRole && index.column() == Progress) {
        const auto f = m_flows.find(m_rows[size_t(index.row())].tag);
        if (f == m_flows.end() || f->second.total <= 0) return {};
        return int(std::clamp<qint64>(f->second.done * 100 / f->second.total, 0, 100));
    }
    return {};
}

void BatchQueue::setFlows(std::unordered_map<int, Flow> flows)
{
    if (flows == m_flows) return;
    m_flows = std::move(flows);
    if (!m_rows.empty()) emit dataChanged(index(0, Progress), index(int(m_rows.size()) - 1, TimeLeft));
}

void BatchQueue::setPaused(const std::vector<int> &rows, bool on)
{
    bool changed = false;
    for (int r : rows) {
        if (r < 0 || r >= int(m_rows.size())) continue;
        const int tag = m_rows[size_t(r)].tag;
        changed |= on ? m_paused.insert(tag).second : m_paused.erase(tag) > 0;
        emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    }
    if (changed) emit pausedChanged();
}

qint64 BatchQueue::itemSize(int item) const
{
    qint64 s = 0;
    for (const PartRecord &p : m_store.item(item).parts) s += p.byteCount;
    return s;
}

qint32 BatchQueue::roundedKB(qint64 bytes) { return qint32(std::nearbyint(double(bytes) / 1000.0)); }

QString BatchQueue::cellText(int row, int column) const
{
    const Row &r = m_rows[size_t(row)];
    const HeaderItem &it = m_store.item(r.tag);
    switch (column) {
    case Subject: return QString::fromLatin1(itemDisplayName(it));
    case Parts: return QString::number(it.declaredTotal ? it.declaredTotal : qint64(it.parts.size())).rightJustified(3, u'0');
    case MB: return mbText(itemSize(r.tag));
    case Date: return toDateTime(it.postDate).date().toString(QStringLiteral("yyyy-MM-dd"));
    case From: return QString::fromLatin1(it.poster);
    case Newsgroup: return itemGroupText(it, m_groups, nzb);
    case Life: return r.life;
    case Progress: {
        const auto f = m_flows.find(r.tag);
        const bool held = m_paused.count(r.tag) > 0;
        if (f == m_flows.end() || f->second.total <= 0) return held ? QStringLiteral("Paused") : QString();
        const qint64 pct = std::clamp<qint64>(f->second.done * 100 / f->second.total, 0, 100);
        // Short enough for the bar it is written on; the size is in its own column.
        return (held ? QStringLiteral("Paused, ") : QString()) + QString::number(pct) + u'%';
    }
    case TimeLeft: {
        const auto f = m_flows.find(r.tag);
        if (f == m_flows.end() || f->second.secondsLeft < 0 || m_paused.count(r.tag)) return {};
        const qint64 t = f->second.secondsLeft;
        return t >= 3600 ? QStringLiteral("%1:%2:%3").arg(t / 3600).arg(t / 60 % 60, 2, 10, QLatin1Char('0')).arg(t % 60, 2, 10, QLatin1Char('0'))
                         : QStringLiteral("%1:%2").arg(t / 60).arg(t % 60, 2, 10, QLatin1Char('0'));
    }
    }
    return {};
}

int BatchQueue::ItemLife(int item) const
{
    const HeaderItem &it = m_store.item(item);
    if (!m_groups || it.parts.empty()) return -1;
    const int idx = m_groups->indexByKey(it.parts[0].groupKey());
    if (idx < 0) return -1;
    const NewsgroupEntry &g = m_groups->records()[size_t(idx - 1)];
    // A group whose range is empty has nothing to measure against.
    if (g.first == 0 || g.total == 0) return -1;
    const int life = int(std::nearbyint(double(it.parts[0].articleNumber - g.first) / double(g.total) * 100.0));
    return std::min(life, 99);
}

QString BatchQueue::lifeText(int item) const { return vt::lifeText(ItemLife(item)); }

void BatchQueue::AddToBatch(int item)
{
    if (item < 1 || item > m_store.itemCount() || m_queued.count(item)) return;
    HeaderItem &it = m_store.item(item);
    // A deleted item (expired, or its slot free for another post) is no download.
    if (it.deleted) return;
    it.inBatch = true;
    m_store.touch(item);
    m_store.headersDirty = true;
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back(Row{item, lifeText(item), it.use});
    m_queued.insert(item);
    endInsertRows();
    m_totalKB += roundedKB(itemSize(item));
    if (journal) journal(item, '+');
    ShowBatchSize();
    emit itemsChanged();
}

void BatchQueue::addAllToBatch(const std::vector<int> &items)
{
    std::vector<int> add;
    add.reserve(items.size());
    for (int item : items) {
        if (item < 1 || item > m_store.itemCount() || m_queued.count(item) || m_store.item(item).deleted) continue;
        m_queued.insert(item);
        add.push_back(item);
    }
    if (add.empty()) return;
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row + int(add.size()) - 1);
    for (int item : add) {
        HeaderItem &it = m_store.item(item);
        it.inBatch = true;
        m_store.touch(item);
        m_rows.push_back(Row{item, lifeText(item), it.use});
        m_totalKB += roundedKB(itemSize(item));
    }
    endInsertRows();
    m_store.headersDirty = true;
    ShowBatchSize();
    emit itemsChanged();
}

void BatchQueue::RemoveFromBatch(int item, bool markDeleted, bool freeSlot)
{
    if (item < 1 || item > m_store.itemCount()) return;
    HeaderItem &h = m_store.item(item);
    h.inBatch = false;
    if (!m_queued.count(item)) return;
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [item](const Row &r) { return r.tag == item; });
    const int row = int(it - m_rows.begin());
    beginRemoveRows({}, row, row);
    m_rows.erase(it);
    m_queued.erase(item);
    m_paused.erase(item);
    endRemoveRows();
    m_totalKB -= roundedKB(itemSize(item));
    if (journal) journal(item, markDeleted ? 'x' : '-');
    ShowBatchSize();
    m_store.headersDirty = true;
    m_store.touch(item);
    if (freeSlot && !h.reusable) {
        h.reusable = true;
        ++m_store.freeSlotCount;
    }
    if (markDeleted) h.deleted = true;
    else emit itemsChanged();
}

void BatchQueue::dropRow(int row)
{
    if (row < 0 || row >= int(m_rows.size())) return;
    const int tag = m_rows[size_t(row)].tag;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    m_queued.erase(tag);
    m_paused.erase(tag);
    endRemoveRows();
    if (tag >= 1 && tag <= m_store.itemCount()) m_totalKB -= roundedKB(itemSize(tag));
    if (journal) journal(tag, '-');
    m_store.headersDirty = true;
    ShowBatchSize();
}

int BatchQueue::batchPositionOf(int item) const
{
    if (!m_queued.count(item)) return 0;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].tag == item) return int(i) + 1;
    return 0;
}

std::vector<int> BatchQueue::batchItems() const
{
    std::vector<int> v;
    v.reserve(m_rows.size());
    for (const Row &r : m_rows) v.push_back(r.tag);
    return v;
}

void BatchQueue::ShowBatchSize()
{
    QString t;
    if (m_rows.empty()) {
        m_totalKB = 0;
        t = QStringLiteral("Batch empty.");
    } else if (m_totalKB == 0) {
        t = QStringLiteral("Batch empty.");
    } else if (m_totalKB >= 1000) {
        t = QStringLiteral("Total batch size: ") + fmt(double(m_totalKB) / 1000.0, 1, false) + QStringLiteral("MB");
    } else {
        t = QStringLiteral("Total batch size: ") + fmt(double(m_totalKB), 1, false) + QStringLiteral("KB");
    }
    m_sizeText = t;
    if (m_log) m_log->LogOp(t, false);
    emit sizeTextChanged(t);
}

void BatchQueue::BatchLifeUpdate()
{
    for (size_t i = 0; i < m_rows.size(); ++i) m_rows[i].life = lifeText(m_rows[i].tag);
    if (!m_rows.empty()) emit dataChanged(index(0, Life), index(int(m_rows.size()) - 1, Life));
}

void BatchQueue::setOrder(std::vector<Row> rows)
{
    m_store.headersDirty = true;
    emit layoutAboutToBeChanged();
    m_rows = std::move(rows);
    emit layoutChanged();
}

std::vector<int> BatchQueue::positionsOf(const std::unordered_set<int> &tags) const
{
    std::vector<int> out;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (tags.count(m_rows[i].tag)) out.push_back(int(i));
    return out;
}

namespace {
std::vector<bool> mask(const std::vector<int> &sel, size_t n)
{
    std::vector<bool> m(n, false);
    for (int r : sel)
        if (r >= 0 && size_t(r) < n) m[size_t(r)] = true;
    return m;
}
} // namespace

std::vector<int> BatchQueue::MoveSelectedToTop(const std::vector<int> &selected)
{
    const std::vector<bool> m = mask(selected, m_rows.size());
    std::vector<Row> out;
    std::unordered_set<int> tags;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m[i]) out.push_back(m_rows[i]), tags.insert(m_rows[i].tag);
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (!m[i]) out.push_back(m_rows[i]);
    setOrder(std::move(out));
    return positionsOf(tags);
}

std::vector<int> BatchQueue::MoveSelectedTo(const std::vector<int> &selected, int before)
{
    const std::vector<bool> m = mask(selected, m_rows.size());
    std::vector<Row> out, moved;
    std::unordered_set<int> tags;
    before = std::clamp(before, 0, int(m_rows.size()));
    int at = -1;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (int(i) == before) at = int(out.size());
        if (m[i]) moved.push_back(m_rows[i]), tags.insert(m_rows[i].tag);
        else out.push_back(m_rows[i]);
    }
    if (at < 0) at = int(out.size());
    out.insert(out.begin() + at, moved.begin(), moved.end());
    setOrder(std::move(out));
    return positionsOf(tags);
}

// Rows can be dragged: the window moves them where they are dropped.
Qt::ItemFlags BatchQueue::flags(const QModelIndex &index) const
{
    return QAbstractTableModel::flags(index) | (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

std::vector<int> BatchQueue::MoveSelectedToBottom(const std::vector<int> &selected)
{
    const std::vector<bool> m = mask(selected, m_rows.size());
    std::vector<Row> out;
    std::unordered_set<int> tags;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (!m[i]) out.push_back(m_rows[i]);
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m[i]) out.push_back(m_rows[i]), tags.insert(m_rows[i].tag);
    setOrder(std::move(out));
    return positionsOf(tags);
}

std::vector<int> BatchQueue::MoveSelectedUp(const std::vector<int> &selected)
{
    std::vector<bool> m = mask(selected, m_rows.size());
    std::unordered_set<int> tags;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m[i]) tags.insert(m_rows[i].tag);
    std::vector<Row> rows = m_rows;
    // The top row among the selection: nothing moves.
    if (!rows.empty() && !m[0])
        for (size_t i = 1; i < rows.size(); ++i)
            if (m[i]) {
                std::swap(rows[i - 1], rows[i]);
                std::vector<bool>::swap(m[i - 1], m[i]);
            }
    setOrder(std::move(rows));
    return positionsOf(tags);
}

std::vector<int> BatchQueue::MoveSelectedDown(const std::vector<int> &selected)
{
    std::vector<bool> m = mask(selected, m_rows.size());
    std::unordered_set<int> tags;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m[i]) tags.insert(m_rows[i].tag);
    std::vector<Row> rows = m_rows;
    if (!rows.empty() && !m.back())
        for (size_t i = rows.size() - 1; i-- > 0;)
            if (m[i]) {
                std::swap(rows[i + 1], rows[i]);
                std::vector<bool>::swap(m[i + 1], m[i]);
            }
    setOrder(std::move(rows));
    return positionsOf(tags);
}

bool BatchQueue::removeSelected(const std::vector<int> &selected)
{
    if (selected.empty()) return false;
    std::vector<int> sorted = selected;
    std::sort(sorted.begin(), sorted.end());
    for (auto r = sorted.rbegin(); r != sorted.rend(); ++r)
        if (*r >= 0 && *r < int(m_rows.size())) RemoveFromBatch(m_rows[size_t(*r)].tag, false, false);
    return true;
}

void BatchQueue::sortOnce(int column)
{
    if (column < 0 || column >= ColumnCount) return;
    m_sortDescending = column == m_sortColumn ? !m_sortDescending : false;
    m_sortColumn = column;
    std::vector<std::pair<QString, Row>> keyed;
    keyed.reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i) keyed.emplace_back(cellText(int(i), column), m_rows[i]);
    std::stable_sort(keyed.begin(), keyed.end(), [this](const auto &a, const auto &b) {
        const int c = QString::compare(a.first, b.first, Qt::CaseInsensitive);
        return m_sortDescending ? c > 0 : c < 0;
    });
    std::vector<Row> rows;
    rows.reserve(keyed.size());
    for (auto &k : keyed) rows.push_back(k.second);
    setOrder(std::move(rows));
}

} // namespace vt
