#include "HeaderListModel.h"
#include "headers/NzbOrigins.h"
#include "core/Settings.h"
#include "HeaderStore.h"
#include "ItemText.h"
#include "GroupNames.h"
#include <QDate>
#include <QElapsedTimer>
#include <QTimer>
#include <array>
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

// Whether text holds needle (given in upper case), ASCII letters in any case: what the
// filter box asks of every item, without a copy of each name.
static bool containsUpper(QByteArrayView text, QByteArrayView needle)
{
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    const qsizetype n = needle.size(), last = text.size() - n;
    for (qsizetype i = 0; i <= last; ++i) {
        qsizetype k = 0;
        while (k < n && up(text[i + k]) == needle[k]) ++k;
        if (k == n) return true;
    }
    return false;
}

// Sort keys of Latin-1 texts as bytes in the order a case-insensitive comparison of the
// texts gives: each character's case fold, ranked among the folds of all 256 (one of
// them, the micro sign, folds outside Latin-1).
static const std::array<uchar, 256> &foldRanks()
{
    static const std::array<uchar, 256> ranks = [] {
        std::array<ushort, 256> fold{};
        for (int c = 0; c < 256; ++c) fold[size_t(c)] = QChar(ushort(c)).toCaseFolded().unicode();
        std::array<ushort, 256> sorted = fold;
        std::sort(sorted.begin(), sorted.end());
        const auto end = std::unique(sorted.begin(), sorted.end());
        std::array<uchar, 256> r{};
        for (int c = 0; c < 256; ++c) r[size_t(c)] = uchar(std::lower_bound(sorted.begin(), end, fold[size_t(c)]) - sorted.begin());
        return r;
    }();
    return ranks;
}

static void foldKey(std::vector<char> &out, QByteArrayView latin1)
{
    const std::array<uchar, 256> &ranks = foldRanks();
    const size_t at = out.size();
    out.resize(at + size_t(latin1.size()));
    for (qsizetype i = 0; i < latin1.size(); ++i) out[at + size_t(i)] = char(ranks[uchar(latin1[i])]);
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
    if (!m_needle.isEmpty() && !containsUpper(itemDisplayName(it), m_needle)) return false;
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

void HeaderListModel::setRows(std::vector<int> rows, bool sorted)
{
    beginResetModel();
    m_rows = std::move(rows);
    m_indexStale = true;
    if (m_sortColumn >= 0 && !sorted) sortRows();
    endResetModel();
    announce();
}

HeaderListModel::~HeaderListModel()
{
    if (m_sorter.joinable()) m_sorter.join();
}

void HeaderListModel::ViewRefreshInSteps()
{
    // An item's state reads its parts: many parts make a long pass too.
    if (m_store.itemCount() < kStepsFrom && m_store.totalParts() < 20 * qint64(kStepsFrom)) {
        ViewRefresh(false);
        return;
    }
    startPass(false);
}

void HeaderListModel::startPass(bool sortOnly)
{
    m_pass = std::make_unique<Pass>();
    m_pass->serial = ++m_passSerial;
    m_pass->generation = m_store.generation();
    if (sortOnly) {
        m_pass->rows = m_rows;
        m_pass->phase = Pass::Keys;
    } else {
        m_pass->rows.reserve(m_rows.size());
    }
    QMetaObject::invokeMethod(this, &HeaderListModel::refreshStep, Qt::QueuedConnection);
}

void HeaderListModel::refreshStep()
{
    if (!m_pass) return;
    Pass &p = *m_pass;
    if (p.generation != m_store.generation()) {
        // The store was cleared meanwhile: the pass starts over.
        startPass(false);
        return;
    }
    QElapsedTimer t;
    t.start();
    auto again = [&](int ms) {
        QTimer::singleShot(ms, this, &HeaderListModel::refreshStep);
    };
    if (p.phase == Pass::Filter) {
        while (p.next <= m_store.itemCount()) {
            if (passes(p.next)) p.rows.push_back(p.next);
            if ((++p.next & 63) == 0 && t.elapsed() >= kStepMs) return again(0);
        }
        if (m_sortColumn < 0 || int(p.rows.size()) < kStepsFrom) {
            std::vector<int> rows = std::move(p.rows);
            m_pass.reset();
            return passDone(std::move(rows), false);
        }
        p.phase = Pass::Keys;
    }
    if (p.phase == Pass::Keys) {
        if (p.keyNext == 0) {
            p.keys = SortKeys{};
            p.keys.column = m_sortColumn;
            p.keys.descending = m_descending;
            // Room at once: growing a block of this size copies it within one step.
            if (numericColumn(m_sortColumn)) {
                p.keys.numbers.reserve(p.rows.size());
            } else {
                p.keys.texts.reserve(p.rows.size());
                p.keys.bytes.reserve(p.rows.size() * 64);
            }
        }
        while (p.keyNext < p.rows.size()) {
            addSortKey(p.keys, p.rows[p.keyNext]);
            if ((++p.keyNext & 1023) == 0 && t.elapsed() >= kStepMs) return again(0);
        }
        // One sort at a time on the worker: a sort asked for before the last one is over
        // waits for it.
        if (m_sorting) return again(5);
        if (m_sorter.joinable()) m_sorter.join();
        p.phase = Pass::Sorting;
        m_sorting = true;
        m_sorter = std::thread([this, serial = p.serial, keys = std::move(p.keys)]() mutable {
            std::vector<int> rows = keys.sorted();
            keys = SortKeys{};   // freed here, not while the next sort waits to start
            QMetaObject::invokeMethod(this, [this, serial, rows = std::move(rows)]() mutable {
                m_sorting = false;
                if (!m_pass || m_pass->serial != serial || m_pass->generation != m_store.generation()) return;
                m_pass.reset();
                passDone(std::move(rows), true);
            }, Qt::QueuedConnection);
        });
    }
}

void HeaderListModel::passDone(std::vector<int> rows, bool sorted)
{
    setRows(std::move(rows), sorted);
    // What changed while the pass ran was held back: it comes now.
    ViewUpdate(m_lastUpdateAllGroups);
    emit refreshed();
}

void HeaderListModel::ViewRefresh(bool restoreDeleted)
{
    m_pass.reset();
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
    m_lastUpdateAllGroups = allGroups;
    // A refresh in steps takes these when it is through.
    if (m_pass) return;
    std::vector<int> touched = m_store.takeTouched();
    if (touched.empty()) {
        announce();
        return;
    }
    reindex();
    if (int(m_rowOf.size()) < m_store.itemCount() + 1) m_rowOf.resize(size_t(m_store.itemCount()) + 1, -1);
    std::vector<int> removeRowsAt, add;
    // In store order, once each, as a pass over the whole store would find them.
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (int i : touched) {
        if (i < 1 || i > m_store.itemCount()) continue;
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

void HeaderListModel::addSortKey(SortKeys &k, int item) const
{
    if (numericColumn(k.column)) {
        k.numbers.emplace_back(valueOf(item, k.column), item);
        return;
    }
    const HeaderItem &it = m_store.item(item);
    const size_t at = k.bytes.size();
    // Subject and poster are Latin-1 already: their keys come without a QString.
    if (k.column == Subject) foldKey(k.bytes, itemDisplayName(it));
    else if (k.column == From) foldKey(k.bytes, it.poster);
    else foldKey(k.bytes, textOf(item, k.column).toLatin1());
    k.texts.push_back(SortKeys::Text{quint32(at), quint32(k.bytes.size() - at), item});
}

std::vector<int> HeaderListModel::SortKeys::sorted()
{
    std::vector<int> rows;
    if (numericColumn(column)) {
        std::stable_sort(numbers.begin(), numbers.end(), [this](const auto &x, const auto &y) {
            return descending ? x.first > y.first : x.first < y.first;
        });
        for (const auto &n : numbers) rows.push_back(n.second);
    } else {
        const char *b = bytes.data();
        auto less = [b](const Text &x, const Text &y) {
            const int c = memcmp(b + x.at, b + y.at, std::min(x.length, y.length));
            return c < 0 || (c == 0 && x.length < y.length);
        };
        std::stable_sort(texts.begin(), texts.end(), [&](const Text &x, const Text &y) { return descending ? less(y, x) : less(x, y); });
        for (const Text &t : texts) rows.push_back(t.item);
    }
    return rows;
}

void HeaderListModel::sortRows()
{
    // The keys once per row, not once per comparison.
    SortKeys k;
    k.column = m_sortColumn;
    k.descending = m_descending;
    for (int item : m_rows) addSortKey(k, item);
    m_rows = k.sorted();
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
    if (int(m_rows.size()) >= kStepsFrom) {
        // Keys in steps, the sort on a thread: the list keeps its order until then.
        startPass(true);
        return;
    }
    m_pass.reset();
    beginResetModel();
    sortRows();
    endResetModel();
}

} // namespace vt
