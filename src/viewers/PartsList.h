#pragma once
// The parts list: one row per part slot of one item, in slot order, so a row's position is
// its slot.
#include <QAbstractTableModel>
#include <vector>

namespace vt {

class HeaderStore;
class NewsgroupTable;

// The poster as the list shows it: the bare address, or the name before "(".
QString shortPoster(const QByteArray &poster);

class PartsList : public QAbstractTableModel {
    Q_OBJECT
public:
    PartsList(const HeaderStore &store, const NewsgroupTable &groups, QObject *parent = nullptr)
        : QAbstractTableModel(parent), m_store(store), m_groups(groups)
    {
    }
    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 5; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    void ShowPartsList(int item);
    void AddPartRow(int item, int slot);
    QString caption() const { return m_caption; }
    int item() const { return m_item; }

private:
    struct Row {
        QString cells[5];
        int item;
    };
    const HeaderStore &m_store;
    const NewsgroupTable &m_groups;
    std::vector<Row> m_rows;
    QString m_caption;
    int m_item = 0;
};

} // namespace vt
