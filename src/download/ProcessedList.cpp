#include "ProcessedList.h"
#include <QFile>
#include <QSaveFile>
#include "core/ListRoles.h"
#include "core/Settings.h"
#include <algorithm>

namespace vt {

namespace {
const QString &cell(const ProcessedEntry &e, int c) { return c == 0 ? e.subject : c == 1 ? e.status : e.fileName; }
} // namespace

QVariant ProcessedList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const ProcessedEntry &e = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole) return cell(e, index.column());
    // The whole story, however narrow the column.
    if (role == Qt::ToolTipRole)
        return e.subject + u'\n' + e.status + (e.fileName.isEmpty() ? QString() : u'\n' + e.fileName);
    if (role == IconKeyRole && index.column() == 0) return e.ok ? QStringLiteral("proc_true") : QStringLiteral("proc_false");
    return {};
}

QVariant ProcessedList::headerData(int section, Qt::Orientation o, int role) const
{
    return columnCaption(Settings::processedColumnDefs(), section, o, role);
}

void ProcessedList::add(ProcessedEntry e)
{
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_rows.push_back(std::move(e));
    endInsertRows();
    append(m_rows.back());
    if (m_sortColumn >= 0) resort();
}

void ProcessedList::renameFile(const QString &from, const QString &to)
{
    for (size_t r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].fileName == from) {
            m_rows[r].fileName = to;
            emit dataChanged(index(int(r), 0), index(int(r), columnCount() - 1));
        }
    rewrite();
}

void ProcessedList::clearAll()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
    rewrite();
}

void ProcessedList::removeSelected(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        if (*r < 0 || *r >= int(m_rows.size())) continue;
        beginRemoveRows({}, *r, *r);
        m_rows.erase(m_rows.begin() + *r);
        endRemoveRows();
    }
    rewrite();
}

void ProcessedList::sortBy(int column)
{
    if (column < 0 || column > 2) return;
    m_descending = column == m_sortColumn ? !m_descending : false;
    m_sortColumn = column;
    resort();
}

void ProcessedList::resort()
{
    emit layoutAboutToBeChanged();
    std::stable_sort(m_rows.begin(), m_rows.end(), [this](const ProcessedEntry &a, const ProcessedEntry &b) {
        const int c = QString::compare(cell(a, m_sortColumn), cell(b, m_sortColumn), Qt::CaseInsensitive);
        return m_descending ? c > 0 : c < 0;
    });
    emit layoutChanged();
    rewrite();
}

// One row a line: ok, subject, status, file, tab-separated; tabs and line ends inside a
// field become blanks. A line cut by a kill is passed over when read.
static QByteArray rowLine(const ProcessedEntry &e)
{
    auto field = [](const QString &s) {
        QByteArray b = s.toUtf8();
        for (char &c : b)
            if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        return b;
    };
    return QByteArray(e.ok ? "1" : "0") + '\t' + field(e.subject) + '\t' + field(e.status) + '\t' + field(e.fileName) + "\r\n";
}

void ProcessedList::append(const ProcessedEntry &e) const
{
    if (m_path.isEmpty()) return;
    QFile f(m_path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) f.write(rowLine(e));
}

void ProcessedList::rewrite() const
{
    if (m_path.isEmpty()) return;
    QByteArray all;
    for (const ProcessedEntry &e : m_rows) all += rowLine(e);
    QSaveFile f(m_path);
    if (f.open(QIODevice::WriteOnly) && f.write(all) == all.size()) f.commit();
}

void ProcessedList::keepIn(const QString &path)
{
    m_path = path;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    std::vector<ProcessedEntry> rows;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        if (!raw.endsWith('\r')) continue;   // the last line, cut or empty
        const QList<QByteArray> p = raw.chopped(1).split('\t');
        if (p.size() != 4 || (p[0] != "0" && p[0] != "1")) continue;
        rows.push_back({QString::fromUtf8(p[1]), QString::fromUtf8(p[2]), QString::fromUtf8(p[3]), p[0] == "1"});
    }
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

} // namespace vt
