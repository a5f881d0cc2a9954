#include "NewsgroupTable.h"
#include "core/OpsLog.h"
#include "core/Prompter.h"
#include "core/Text.h"
#include "core/UiState.h"
#include "headers/BatchSink.h"
#include "headers/HeaderStore.h"
#include <QFile>
#include <QSaveFile>
#include <algorithm>

namespace vt {

NewsgroupTable::NewsgroupTable(OpsLog &log, Prompter &prompter, UiState &ui, QObject *parent)
    : QAbstractTableModel(parent), m_log(log), m_prompter(prompter), m_ui(ui) {}

QVariant NewsgroupTable::headerData(int section, Qt::Orientation o, int role) const
{
    static const char *caps[] = {"Newsgroup Name", "Unread", "Last Read", "First", "Last", "Total"};
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 6) return QString::fromLatin1(caps[section]);
    return {};
}

QVariant NewsgroupTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const Row &r = m_rows[size_t(index.row())];
    const int ti = indexByKey(r.key);
    if (ti < 0) return {};
    const NewsgroupEntry &e = m_table[size_t(ti - 1)];
    if (role == Qt::DisplayRole) return cellText(r, index.column());
    if (role == Qt::ForegroundRole && e.disabled) return QVariant::fromValue(Qt::gray);
    if (role == Qt::UserRole) return r.key;
    if (role == Qt::UserRole + 1) return r.icon;
    return {};
}

QString NewsgroupTable::cellText(const Row &r, int column) const
{
    const int ti = indexByKey(r.key);
    if (ti < 0) return {};
    const NewsgroupEntry &e = m_table[size_t(ti - 1)];
    switch (column) {
    case 0: return e.name;
    case 1: return QString::number(e.unread);
    case 2: return r.lastReadBlank ? QString() : QString::number(e.lastRead);
    case 3: return QString::number(e.first);
    case 4: return QString::number(e.last);
    case 5: return QString::number(e.total).rightJustified(5, u'0');
    }
    return {};
}

bool NewsgroupTable::rowGreyed(int pos) const
{
    const int ti = indexByKey(rowKey(pos));
    return ti > 0 && m_table[size_t(ti - 1)].disabled;
}

void NewsgroupTable::setScanIcon(int pos)
{
    for (size_t i = 0; i < m_rows.size(); ++i) m_rows[i].icon = int(i) + 1 == pos ? 2 : 1;
    if (!m_rows.empty()) emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 0));
}

qint32 NewsgroupTable::ngFindFreeKey()
{
    for (qint32 k = 1; k <= 255; ++k)
        if (indexByKey(k) < 0) return k;
    m_log.LogOp(QStringLiteral("error finding unused key! (ngFindFreeKey)"), true);
    return 0;
}

qint32 NewsgroupTable::ngFindKeyByGroupName(const QString &name)
{
    for (const NewsgroupEntry &e : m_table)
        if (e.name == name) return e.key;
    m_log.LogOp(QStringLiteral("error in ngFindKeyByGroupName"), true);
    return 0;
}

QString NewsgroupTable::nameByKey(qint32 key) const
{
    const int i = indexByKey(key);
    return i > 0 ? m_table[size_t(i - 1)].name : QStringLiteral("error!");
}

int NewsgroupTable::indexByKey(qint32 key) const
{
    for (size_t i = 0; i < m_table.size(); ++i)
        if (m_table[i].key == key) return int(i) + 1;
    return -1;
}

NewsgroupEntry *NewsgroupTable::recordByKey(qint32 key)
{
    const int i = indexByKey(key);
    return i > 0 ? &m_table[size_t(i - 1)] : nullptr;
}

qint32 NewsgroupTable::lastReadByKey(qint32 key) const
{
    const int i = indexByKey(key);
    return i > 0 ? m_table[size_t(i - 1)].lastRead : 0;
}

void NewsgroupTable::setDisabledByKey(qint32 key, bool v)
{
    if (NewsgroupEntry *e = recordByKey(key)) e->disabled = v;
    refreshRow(key);
}

void NewsgroupTable::resetLastReadByKey(qint32 key)
{
    if (NewsgroupEntry *e = recordByKey(key)) e->lastRead = 0;
}

int NewsgroupTable::rowOfKey(qint32 key) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].key == key) return int(i);
    return -1;
}

void NewsgroupTable::refreshRow(qint32 key)
{
    const int r = rowOfKey(key);
    if (r < 0) return;
    m_rows[size_t(r)].lastReadBlank = false;
    emit dataChanged(index(r, 0), index(r, 5));
}

void NewsgroupTable::set_high_msg(qint32 key, qint32 value, bool unconditional)
{
    if (!groupReplyTaken()) return;
    NewsgroupEntry *e = nullptr;
    for (auto it = m_table.rbegin(); it != m_table.rend(); ++it)
        if (it->key == key) { e = &*it; break; }
    if (!e) return;
    if (unconditional) {
        e->lastRead = value;
    } else if (value > e->lastRead) {
        e->lastRead = value;
        if (value > e->last) e->last = value;
    }
    if (e->first == 0) {
        refreshRow(key);
        return;
    }
    e->unread = e->last - e->lastRead;
    const qint64 M = m_ui.bar(UiState::ScanGroup).max;
    const qint64 v = M - e->unread;
    if (v >= 1 && v <= M) m_ui.setBar(UiState::ScanGroup, v);
    refreshRow(key);
}

qint32 NewsgroupTable::rangeUpdate(qint32 key, qint32 first, qint32 last)
{
    if (autoExpire) autoExpire(key, first);
    NewsgroupEntry *e = recordByKey(key);
    if (!e) return 0;
    e->first = first;
    e->last = last;
    e->unread = std::max(0, e->last - e->lastRead);
    m_ui.setBarMax(UiState::ScanGroup, e->unread + 1);
    m_ui.setBar(UiState::ScanGroup, 0);
    e->total = std::max(0, last - first);
    refreshRow(key);
    return e->unread;
}

bool NewsgroupTable::isSafeGroupName(const QString &name)
{
    // Group names become folder names: nothing that could leave the base folder.
    const QString n = trimBlanks(name);
    return !n.isEmpty() && !n.contains(u'/') && !n.contains(u'\\') && !n.contains(QStringLiteral("..")) && n != QStringLiteral(".");
}

bool NewsgroupTable::addGroup(const QString &name)
{
    const QString want = trimBlanks(name).toLower();
    for (const Row &r : m_rows)
        if (trimBlanks(nameByKey(r.key)).toLower() == want) return false;
    if (!isSafeGroupName(name)) {
        m_prompter.message(QStringLiteral("Error, \"") + name
                           + QStringLiteral("\" is not a usable newsgroup name: names may not contain \"/\", \"\\\" or \"..\"."));
        return false;
    }
    NewsgroupEntry e;
    e.name = name;
    e.key = ngFindFreeKey();
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_table.push_back(e);
    m_rows.push_back(Row{e.key});
    endInsertRows();
    emit groupsChanged();
    return true;
}

void NewsgroupTable::removeRow(int pos)
{
    beginRemoveRows({}, pos - 1, pos - 1);
    m_rows.erase(m_rows.begin() + (pos - 1));
    endRemoveRows();
    emit groupsChanged();
}

int NewsgroupTable::deleteGroup(qint32 key, const QString &name, HeaderStore &store, BatchSink *batch)
{
    int removed = 0;
    for (int i = 1; i <= store.itemCount(); ++i) {
        HeaderItem &it = store.item(i);
        if (it.parts.empty() || it.parts.front().groupKey() != key || it.deleted) continue;
        if (it.inBatch && batch) batch->RemoveFromBatch(i, false, false);
        it.deleted = true;
        store.touch(i);
        ++removed;
    }
    if (removed == 1) m_log.LogOp(QStringLiteral("Removed: ") + name + QStringLiteral(" (1 header)"), true);
    else if (removed > 1) m_log.LogOp(QStringLiteral("Removed: ") + name + u',' + num(removed) + QStringLiteral(" headers)"), true);
    if (removed) store.headersDirty = true;
    return removed;
}

std::vector<int> NewsgroupTable::moveRows(const std::vector<int> &positions, int how)
{
    // Which current positions hold a selected row; kept in step with every swap so a
    // block of selected rows moves together and a row at the edge stays.
    std::vector<char> picked(m_rows.size(), 0);
    for (int p : positions)
        if (p >= 1 && p <= int(m_rows.size())) picked[size_t(p - 1)] = 1;
    beginResetModel();
    m_sortColumn = -1;
    const size_t n = m_rows.size();
    if (how == 0) {
        std::vector<Row> top, rest;
        for (size_t i = 0; i < n; ++i) (picked[i] ? top : rest).push_back(m_rows[i]);
        const size_t count = top.size();
        top.insert(top.end(), rest.begin(), rest.end());
        m_rows = top;
        std::fill(picked.begin(), picked.end(), 0);
        std::fill(picked.begin(), picked.begin() + ptrdiff_t(count), 1);
    } else if (how < 0) {
        for (size_t i = 1; i < n; ++i)
            if (picked[i] && !picked[i - 1]) {
                std::swap(m_rows[i], m_rows[i - 1]);
                std::swap(picked[i], picked[i - 1]);
            }
    } else {
        for (size_t i = n - 1; i-- > 0;)
            if (picked[i] && !picked[i + 1]) {
                std::swap(m_rows[i], m_rows[i + 1]);
                std::swap(picked[i], picked[i + 1]);
            }
    }
    endResetModel();
    emit groupsChanged();
    std::vector<int> now;
    for (size_t i = 0; i < n; ++i)
        if (picked[i]) now.push_back(int(i) + 1);
    return now;
}

void NewsgroupTable::toggleRow(int pos)
{
    const qint32 key = rowKey(pos);
    setDisabledByKey(key, !rowGreyed(pos));
    emit groupsChanged();
}

void NewsgroupTable::resetRow(int pos)
{
    const qint32 key = rowKey(pos);
    resetLastReadByKey(key);
    m_rows[size_t(pos - 1)].lastReadBlank = true;
    emit dataChanged(index(pos - 1, 2), index(pos - 1, 2));
}

void NewsgroupTable::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 5) return;
    if (column == m_sortColumn) order = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else order = Qt::AscendingOrder;
    m_sortColumn = column;
    m_sortOrder = order;
    beginResetModel();
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row &a, const Row &b) {
        // Texts come from the rows themselves: positions move while the sort runs.
        const QString x = cellText(a, column);
        const QString y = cellText(b, column);
        return order == Qt::AscendingOrder ? x < y : y < x;
    });
    endResetModel();
    emit groupsChanged();
}

void NewsgroupTable::loadFavourites(const QString &path)
{
    QFile f(path);
    if (!f.exists() || !f.open(QIODevice::ReadOnly)) return;
    beginResetModel();
    const QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray raw = lines[i];
        if (raw.endsWith('\r')) raw.chop(1);
        if (i == lines.size() - 1 && raw.isEmpty()) break;
        if (trimBlanks(QString::fromUtf8(raw)).isEmpty()) continue;   // a blank line names no group
        const QString line = QString::fromUtf8(raw);
        const qsizetype c1 = line.indexOf(u',');
        if (c1 < 0) {
            assignFreshKeys();
            endResetModel();
            m_prompter.message(QStringLiteral("Error reading favs.txt, unexpected space."));
            emit groupsChanged();
            return;
        }
        NewsgroupEntry e;
        e.name = trimBlanks(line.left(c1));
        if (!isSafeGroupName(e.name)) {
            m_prompter.message(QStringLiteral("Error, \"") + e.name
                               + QStringLiteral("\" in favs.txt is not a usable newsgroup name and was skipped."));
            continue;
        }
        const QString rest = trimBlanks(line.mid(c1 + 1));
        const qsizetype c2 = rest.indexOf(u',');
        if (c2 < 0) {
            e.key = -1;   // the key is missing: a fresh one, so that the group can be scanned
            m_loadPairs.emplace_back(m_table.size(), m_rows.size());
            m_table.push_back(e);
            m_rows.push_back(Row{0});
            assignFreshKeys();
            endResetModel();
            m_prompter.message(QStringLiteral("Error reading favs.txt, expected another comma."));
            emit groupsChanged();
            return;
        }
        e.lastRead = qint32(leadingInt(trimBlanks(rest.left(c2))));
        const QString tail = trimBlanks(rest.mid(c2 + 1));
        auto boolOf = [](const QString &t) {
            const QString x = trimBlanks(t);
            if (x.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
            if (x.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
            return leadingInt(x) != 0;
        };
        const qsizetype c3 = tail.indexOf(u',');
        if (c3 < 0) {
            e.disabled = boolOf(tail);
            e.key = -1;   // older form: a fresh key once every stored key is known
        } else {
            e.disabled = boolOf(tail.left(c3));
            e.key = qint32(leadingInt(trimBlanks(tail.mid(c3 + 1))));
        }
        m_loadPairs.emplace_back(m_table.size(), m_rows.size());
        m_table.push_back(e);
        m_rows.push_back(Row{e.key});
    }
    assignFreshKeys();
    endResetModel();
    emit groupsChanged();
}

void NewsgroupTable::assignFreshKeys()
{
    // Keys must stay unique: parts store them. Older-form lines, and keys out of range or
    // already taken by an earlier line, get the smallest free key.
    std::vector<bool> used(256, false);
    std::vector<size_t> fresh;
    for (const auto &[rec, row] : m_loadPairs) {
        const qint32 k = m_table[rec].key;
        if (k >= 1 && k <= 255 && !used[size_t(k)]) used[size_t(k)] = true;
        else fresh.push_back(rec);   // missing, 0, out of range or taken: every row gets a key
    }
    for (size_t rec : fresh) {
        qint32 k = 1;
        while (k <= 255 && used[size_t(k)]) ++k;
        if (k > 255) {
            m_log.LogOp(QStringLiteral("error finding unused key! (ngFindFreeKey)"), true);
            k = 0;
        } else {
            used[size_t(k)] = true;
        }
        m_table[rec].key = k;
    }
    for (const auto &[rec, row] : m_loadPairs) m_rows[row].key = m_table[rec].key;
    m_loadPairs.clear();
}

bool NewsgroupTable::saveFavourites(const QString &path)
{
    if (m_rows.empty()) {
        QFile::remove(path);
        return true;
    }
    QByteArray out;
    for (const Row &r : m_rows) {
        const int i = indexByKey(r.key);
        if (i < 0) continue;
        const NewsgroupEntry &e = m_table[size_t(i - 1)];
        qint32 mark = e.lastRead;
        if (m_marksKnown) {
            auto at = m_savedMarks.find(e.key);
            mark = at == m_savedMarks.end() ? 0 : std::min(at->second, e.lastRead);
        }
        out += e.name.toUtf8() + ',' + QByteArray::number(mark) + ',' + (e.disabled ? "True" : "False") + ','
               + QByteArray::number(e.key) + "\r\n";
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size() || !f.commit()) {
        m_log.LogOp(QStringLiteral("Error: favs.txt not saved: ") + f.errorString(), true);
        return false;
    }
    return true;
}

void NewsgroupTable::marksLoaded()
{
    m_savedMarks.clear();
    for (const NewsgroupEntry &e : m_table) m_savedMarks[e.key] = e.lastRead;
    m_pendingMarks = m_savedMarks;
    m_marksKnown = true;
}

void NewsgroupTable::takeMarksForSave()
{
    m_pendingMarks.clear();
    for (const NewsgroupEntry &e : m_table) m_pendingMarks[e.key] = e.lastRead;
}

void NewsgroupTable::marksSaved()
{
    m_savedMarks = m_pendingMarks;
    m_marksKnown = true;
}

} // namespace vt
