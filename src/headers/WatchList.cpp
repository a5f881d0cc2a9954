#include "WatchList.h"
#include "HeaderStore.h"
#include "core/OpsLog.h"
#include "core/Text.h"
#include <QFile>
#include <QSaveFile>
#include <algorithm>

namespace vt {

QVariant WatchList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= int(m_entries.size())) return {};
    const WatchEntry &e = m_entries[size_t(index.row())];
    switch (index.column()) {
    case 0: return e.text;
    case 1: return e.field == 0 ? QStringLiteral("Subject") : QStringLiteral("From");
    case 2: return e.matchCase ? QStringLiteral("Sensitive") : QStringLiteral("Insensitive");
    }
    return {};
}

QVariant WatchList::headerData(int section, Qt::Orientation o, int role) const
{
    static const char *caps[] = {"Watch for", "Field", "Case"};
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3) return QString::fromLatin1(caps[section]);
    return {};
}

void WatchList::LoadWatchList(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    QList<QByteArray> lines = f.readAll().split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r')) l.chop(1);
    beginResetModel();
    m_entries.clear();
    const qint64 count = lines.isEmpty() ? 0 : leadingInt(trimBlanks(lines[0]));
    // A count the file cannot hold is cut to what is there.
    for (qint64 i = 0; i < count && 1 + 3 * i + 2 < lines.size(); ++i) {
        WatchEntry e;
        e.text = QString::fromUtf8(lines[1 + 3 * i]);
        e.field = int(leadingInt(trimBlanks(lines[2 + 3 * i])));
        const QByteArray b = trimBlanks(lines[3 + 3 * i]);
        e.matchCase = b.compare("True", Qt::CaseInsensitive) == 0 || (b != "False" && leadingInt(b) != 0);
        m_entries.push_back(e);
    }
    endResetModel();
}

bool WatchList::SaveWatchList(const QString &path, OpsLog *log) const
{
    if (m_entries.empty()) {
        QFile::remove(path);
        return true;
    }
    QByteArray out = num(qint64(m_entries.size())).toUtf8() + "\r\n";
    for (const WatchEntry &e : m_entries)
        out += e.text.toUtf8() + "\r\n" + num(e.field).toUtf8() + "\r\n" + (e.matchCase ? "True" : "False") + "\r\n";
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size() || !f.commit()) {
        if (log) log->LogOp(QStringLiteral("Error: WATCH.TXT not saved: ") + f.errorString(), true);
        return false;
    }
    return true;
}

void WatchList::AddWatch(const QString &text, int field, bool matchCase)
{
    beginInsertRows({}, int(m_entries.size()), int(m_entries.size()));
    m_entries.push_back({text, field, matchCase});
    endInsertRows();
}

void WatchList::removeRows(std::vector<int> rows)
{
    std::sort(rows.rbegin(), rows.rend());
    beginResetModel();
    for (int r : rows)
        if (r >= 0 && r < int(m_entries.size())) m_entries.erase(m_entries.begin() + r);
    endResetModel();
}

bool WatchList::WatchMatches(const HeaderStore &store, int item) const
{
    if (!watching()) return false;
    const HeaderItem &it = store.item(item);
    const QString subject = QString::fromLatin1(it.subject) + u' ';
    const QString poster = QString::fromLatin1(it.poster) + u' ';
    for (const WatchEntry &e : m_entries) {
        if (e.field != 0 && e.field != 1) continue;
        const QString &target = e.field == 0 ? subject : poster;
        if (target.contains(e.text, e.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive)) return true;
    }
    return false;
}

} // namespace vt
