#include "PartsList.h"
#include "core/ListRoles.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"

namespace vt {

QString shortPoster(const QByteArray &poster)
{
    const QString p = QString::fromLatin1(poster);
    if (const qsizetype lt = p.indexOf(u'<'); lt >= 0) {
        const QString rest = p.mid(lt + 1);
        const qsizetype gt = rest.indexOf(u'>');
        return gt >= 0 ? rest.left(gt) : rest;
    }
    if (const qsizetype paren = p.indexOf(u'('); paren >= 0) return p.left(paren);
    return p;
}

QVariant PartsList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const Row &r = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole) return r.cells[index.column()];
    if (role == Qt::UserRole) return r.item;
    if (role == IconKeyRole && index.column() == 0) return QStringLiteral("text");
    return {};
}

QVariant PartsList::headerData(int section, Qt::Orientation o, int role) const
{
    static const char *captions[5] = {"Article#", "Size (KB)", "Subject", "From", "Newsgroup"};
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 4) return {};
    return QString::fromLatin1(captions[section]);
}

void PartsList::ShowPartsList(int item)
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
    m_item = item;
    if (item < 1 || item > m_store.itemCount()) return;
    m_caption = QStringLiteral("View Parts: ") + QString::fromLatin1(m_store.item(item).subject);
    for (int p = 1; p <= int(m_store.item(item).parts.size()); ++p) AddPartRow(item, p);
}

void PartsList::AddPartRow(int item, int slot)
{
    if (item < 1 || item > m_store.itemCount()) return;
    const HeaderItem &it = m_store.item(item);
    if (slot < 1 || slot > int(it.parts.size())) return;
    const PartRecord &p = it.parts[size_t(slot - 1)];
    Row r;
    r.item = item;
    r.cells[0] = QString::number(p.articleNumber);
    r.cells[1] = QString::asprintf("%05.1f", p.byteCount / 1000.0);
    r.cells[2] = QString::fromLatin1(it.subject.contains("[xx/000") ? it.prefix() + p.subjectTail() : it.subject);
    r.cells[3] = shortPoster(it.poster);
    r.cells[4] = m_groups.nameByKey(p.groupKey());
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_rows.push_back(std::move(r));
    endInsertRows();
}

} // namespace vt
