#include "HeaderListModel.h"
#include "headers/NzbOrigins.h"
#include "core/Settings.h"
#include "HeaderStore.h"
#include "ItemText.h"
#include "GroupNames.h"
#include <QDate>
#include <algorithm>

namespace vt {

QString itemStateKey(ItemState s)
{
    switch (s) {
    case ItemState::Complete: return QStringLiteral("complete");
    case ItemState::Incomplete: return QStringLiteral("incomplete");
    case ItemState::Unknown: return QStringLiteral("unknown");
    case ItemState::Text: return QStringLiteral("text");
    case ItemState::InBatch: return QStringLiteral("iteminbatch");
    }
    return {};
}

QByteArray itemDisplayName(const HeaderItem &it)
{
    return it.subject.contains("[xx/000") ? it.subject.left(it.subject.size() - 13) : it.subject;
}

RowOpens doubleClickTarget(const QByteArray &subject, bool textItem)
{
    if (textItem) return RowOpens::Viewer;
    const QByteArray ext = (subject.endsWith(']') && subject.size() >= 14 ? subject.chopped(13) : subject).right(4).toUpper();
    if (ext == ".MP3" || ext == ".MPG") return RowOpens::Preview;
    if (ext == ".TXT" || ext == ".NFO" || ext == ".DIZ") return RowOpens::Viewer;
    return RowOpens::Parts;
}

QString mbText(qint64 bytes) { return QString::number(double(bytes) / 1e6, 'f', 3).rightJustified(7, u'0'); }

QString lifeText(int life)
{
    if (life == -1) return QStringLiteral("need scan");
    return (life < 0 ? QStringLiteral("-") + QString::number(-life).rightJustified(2, u'0')
                     : QString::number(life).rightJustified(2, u'0'))
           + u'%';
}

HeaderListModel::HeaderListModel(HeaderStore &store, const GroupNames *groups, QObject *parent)
    : QAbstractTableModel(parent), m_store(store), m_groups(groups)
{
}

QVariant HeaderListModel::headerData(int section, Qt::Orientation o, int role) const
{
    return columnCaption(Settings::headerColumnDefs(), section, o, role);
}

QVariant HeaderListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const int item = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole) return textOf(item, index.column());
    if (role == IconKeyRole) return iconKey(item);
    if (role == ItemRole) return item;
    return {};
}

QString HeaderListModel::cellText(int row, int column) const { return textOf(m_rows[size_t(row)], column); }

QString HeaderListModel::textOf(int item, int column) const
{
    const HeaderItem &it = m_store.item(item);
    switch (column) {
    case Subject: return QString::fromLatin1(itemDisplayName(it));
    case Parts: {
        const qint64 p = qint64(it.parts.size());
        if (it.declaredTotal > 0)
            return QString::number(p).rightJustified(3, u'0') + u'/' + QString::number(it.declaredTotal).rightJustified(3, u'0');
        return p > 1 ? QString::number(p) + QStringLiteral("/???") : QString();
    }
    case MB: return mbText(m_store.ItemByteTotal(item));
    case From: return QString::fromLatin1(it.poster);
    case Date: {
        const QDate d = toDateTime(it.postDate).date();
        return d == QDate(1899, 12, 30) ? QStringLiteral("?") : d.toString(QStringLiteral("yyyy-MM-dd"));
    }
    case Newsgroup: return itemGroupText(it, m_groups, nzb);
    case Life: return lifeText(itemLife ? itemLife(item) : -1);
    }
    return {};
}

QString HeaderListModel::iconKey(int item) const { return itemStateKey(m_store.itemState(item)); }

bool HeaderListModel::passes(int item, bool checkGroup) const
{
    const HeaderItem &it = m_store.item(item);
    if (it.deleted) return false;
    if (checkGroup && viewGroupKey != AllGroups) {
        if (viewGroupKey == DisplayOff || it.parts.empty() || it.parts[0].groupKey() != viewGroupKey) return false;
    }
    if (newOnly && !it.isNew) return false;
    if (!m_needle.isEmpty() && !itemDisplayName(it).toUpper().contains(m_needle)) return false;
    switch (m_store.itemState(item)) {
    case ItemState::Incomplete: return showIncomplete;
    case ItemState::Complete: return showComplete;
    case ItemState::Unknown: return showUnknown;
    case ItemState::Text: return showText;
    case ItemState::InBatch: return showInBatch;
    }
    return true;
}

void HeaderListModel::reindex() const
{
    if (!m_indexStale) return;
    m_rowOf.assign(size_t(m_store.itemCount()) + 1, -1);
    for (size_t r = 0; r < m_rows.size(); ++r) m_rowOf[size_t(m_rows[r])] = int(r);
    m_indexStale = false;
}

int HeaderListModel::rowOfItem(int item) const
{
    if (item < 1 || item > m_store.itemCount()) return -1;
    reindex();
    return item < int(m_rowOf.size()) ? m_rowOf[size_t(item)] : -1;
}

QString HeaderListModel::counterText() const
{
    return QStringLiteral("View Filter: ") + QString::number(m_rows.size()) + QStringLiteral(" items showing");
}

void HeaderListModel::announce() { emit counterChanged(counterText()); }

void HeaderListModel::setRows(std::vector<int> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    m_indexStale = true;
    if (m_sortColumn >= 0) sortRows();
    endResetModel();
    announce();
}

void HeaderListModel::ViewRefresh(bool restoreDeleted)
{
    std::vector<int> rows;
    rows.reserve(m_rows.size());
    for (int i = 1; i <= m_store.itemCount(); ++i) {
        HeaderItem &it = m_store.item(i);
        if (restoreDeleted && it.deleted && !it.reusable) it.deleted = false;
        if (passes(i)) rows.push_back(i);
    }
    setRows(std::move(rows));
}

void HeaderListModel::ViewUpdate(bool allGroups)
{
    reindex();
    if (int(m_rowOf.size()) < m_store.itemCount() + 1) m_rowOf.resize(size_t(m_store.itemCount()) + 1, -1);
    std::vector<int> removeRowsAt, add;
    for (int i = 1; i <= m_store.itemCount(); ++i) {
        HeaderItem &it = m_store.item(i);
        if (!it.displayRefresh) continue;
        it.displayRefresh = false;
        const bool shown = passes(i, !allGroups);
        const int row = m_rowOf[size_t(i)];
        if (row >= 0 && !shown) removeRowsAt.push_back(row);
        else if (row >= 0) emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        else if (shown) add.push_back(i);
    }
    // Removals last row first, so the rows still to go keep their positions.
    std::sort(removeRowsAt.rbegin(), removeRowsAt.rend());
    for (int row : removeRowsAt) {
        beginRemoveRows({}, row, row);
        m_rowOf[size_t(m_rows[size_t(row)])] = -1;
        m_rows.erase(m_rows.begin() + row);
        endRemoveRows();
        m_indexStale = true;
    }
    if (!add.empty()) {
        if (m_sortColumn < 0) {
            const int first = int(m_rows.size());
            beginInsertRows({}, first, first + int(add.size()) - 1);
            m_rows.insert(m_rows.end(), add.begin(), add.end());
            endInsertRows();
        } else {
            for (int item : add) {
                const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), item,
                                                 [this](int a, int b) { return lessThan(a, b); });
                const int row = int(at - m_rows.begin());
                beginInsertRows({}, row, row);
                m_rows.insert(at, item);
                endInsertRows();
            }
        }
        m_indexStale = true;
    }
    announce();
}

void HeaderListModel::ResetNewFlags()
{
    bool any = false;
    for (int i = 1; i <= m_store.itemCount(); ++i) {
        HeaderItem &it = m_store.item(i);
        if (it.isNew) {
            it.isNew = false;
            any = true;
        }
    }
    if (any && viewGroupKey != DisplayOff) ViewRefresh(false);
}

bool HeaderListModel::deleteRows(std::vector<int> rows)
{
    if (rows.empty()) return false;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        if (*r < 0 || *r >= int(m_rows.size())) continue;
        m_store.item(m_rows[size_t(*r)]).deleted = true;
        beginRemoveRows({}, *r, *r);
        m_rows.erase(m_rows.begin() + *r);
        endRemoveRows();
    }
    m_indexStale = true;
    m_store.headersDirty = true;
    announce();
    return true;
}

void HeaderListModel::deleteAll()
{
    for (int i = 1; i <= m_store.itemCount(); ++i) m_store.item(i).deleted = true;
    m_store.headersDirty = true;
    ViewRefresh(false);
}

int HeaderListModel::search(const QString &text, bool matchCase, bool searchDeleted)
{
    viewGroupKey = AllGroups;
    const QByteArray needle = matchCase ? text.toLatin1() : text.toLatin1().toUpper();
    std::vector<int> rows;
    for (int i = 1; i <= m_store.itemCount(); ++i) {
        const HeaderItem &it = m_store.item(i);
        if (it.deleted && !searchDeleted) continue;
        if ((matchCase ? it.subject : it.subject.toUpper()).contains(needle)) rows.push_back(i);
    }
    setRows(std::move(rows));
    return int(m_rows.size());
}

bool HeaderListModel::lessThan(int a, int b) const
{
    if (numericColumn(m_sortColumn)) {
        const double x = valueOf(a, m_sortColumn), y = valueOf(b, m_sortColumn);
        return m_descending ? x > y : x < y;
    }
    const int c = QString::compare(textOf(a, m_sortColumn), textOf(b, m_sortColumn), Qt::CaseInsensitive);
    return m_descending ? c > 0 : c < 0;
}

void HeaderListModel::sortRows()
{
    // The keys once per row, not once per comparison.
    if (numericColumn(m_sortColumn)) {
        std::vector<std::pair<double, int>> keyed;
        keyed.reserve(m_rows.size());
        for (int item : m_rows) keyed.emplace_back(valueOf(item, m_sortColumn), item);
        std::stable_sort(keyed.begin(), keyed.end(), [this](const auto &x, const auto &y) {
            return m_descending ? x.first > y.first : x.first < y.first;
        });
        for (size_t r = 0; r < keyed.size(); ++r) m_rows[r] = keyed[r].second;
        return;
    }
    std::vector<std::pair<QString, int>> keyed;
    keyed.reserve(m_rows.size());
    for (int item : m_rows) keyed.emplace_back(textOf(item, m_sortColumn), item);
    std::stable_sort(keyed.begin(), keyed.end(), [this](const auto &x, const auto &y) {
        const int c = QString::compare(x.first, y.first, Qt::CaseInsensitive);
        return m_descending ? c > 0 : c < 0;
    });
    for (size_t r = 0; r < keyed.size(); ++r) m_rows[r] = keyed[r].second;
}

double HeaderListModel::valueOf(int item, int column) const
{
    const HeaderItem &it = m_store.item(item);
    switch (column) {
    case Parts: return double(it.parts.size());
    case MB: return double(m_store.ItemByteTotal(item));
    case Date: return double(it.postDate);
    case Life: return itemLife ? double(itemLife(item)) : -1.0;
    }
    return 0;
}

void HeaderListModel::setTextFilter(const QString &text)
{
    m_textFilter = text;
    m_needle = text.trimmed().toLatin1().toUpper();
}

void HeaderListModel::sortByColumn(int column)
{
    if (column < 0 || column >= ColumnCount) return;
    m_descending = column == m_sortColumn ? !m_descending : false;
    m_sortColumn = column;
    beginResetModel();
    sortRows();
    endResetModel();
}

} // namespace vt
