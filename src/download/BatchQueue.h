#pragma once
// The batch: items queued for download, top row first (the download order), with the
// running size and the "Life" column; and the reordering commands.
#include "headers/BatchSink.h"
#include "headers/HeaderStore.h"
#include "headers/ItemText.h"
#include <QAbstractTableModel>
#include <QByteArray>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vt {

class NzbCatalog;

class HeaderStore;
class NewsgroupTable;
class OpsLog;
struct HeaderItem;


class BatchQueue : public QAbstractTableModel, public BatchSink {
    Q_OBJECT
public:
    enum Column { Subject, Parts, MB, Date, From, Newsgroup, Life, Progress, TimeLeft, ColumnCount };
    BatchQueue(HeaderStore &store, const NewsgroupTable *groups = nullptr, OpsLog *log = nullptr,
               QObject *parent = nullptr);

    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : ColumnCount; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // Sorts once; the list does not stay sorted. The same column again reverses.
    void sortOnce(int column);

    void AddToBatch(int item) override;
    // One insertion for all of them: a batch of 100,000 items loads in one step.
    void addAllToBatch(const std::vector<int> &items) override;
    void RemoveFromBatch(int item, bool markDeleted, bool freeSlot) override;
    int batchRows() const override { return int(m_rows.size()); }
    int batchPositionOf(int item) const override;
    std::vector<int> batchItems() const override;

    int tagAt(int row) const { return m_rows[size_t(row)].tag; }   // 0-based row
    // Told of each item queued ('+'), taken out ('-') or taken out and hidden ('x'), one at a
    // time (not of a loaded batch).
    std::function<void(int item, char change)> journal;
    // The row's item as a handle: it no longer resolves once the post is gone.
    ItemRef refAt(int row) const { return ItemRef{m_rows[size_t(row)].tag, m_rows[size_t(row)].use}; }
    std::vector<int> rows() const { return batchItems(); }
    QString cellText(int row, int column) const;

    void ShowBatchSize();
    QString sizeText() const { return m_sizeText; }
    qint32 batchTotalKB() const { return m_totalKB; }
    int ItemLife(int item) const;
    void BatchLifeUpdate();

    // Moves act on 0-based selected rows and return the rows the moved items stand on now.
    std::vector<int> MoveSelectedToTop(const std::vector<int> &selected);
    std::vector<int> MoveSelectedToBottom(const std::vector<int> &selected);
    std::vector<int> MoveSelectedUp(const std::vector<int> &selected);
    std::vector<int> MoveSelectedDown(const std::vector<int> &selected);
    // Dropped where row `before` stands (the end when past the last), in their order.
    std::vector<int> MoveSelectedTo(const std::vector<int> &selected, int before);
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // The remove command: false when nothing was selected ("Nothing selected.").
    bool removeSelected(const std::vector<int> &selected);
    // Drops rows whose item is no longer queued (an inconsistent top row).
    void dropRow(int row);


    // Origins of imported items, for their group column.
    const NzbCatalog *nzb = nullptr;

    // What the download says of each item while it runs: bytes in of its total, and the
    // seconds until it is in at the present rate (-1: not known). Empty: no run.
    struct Flow {
        qint64 done = 0, total = 0;
        qint64 secondsLeft = -1;
        double bytesPerSecond = 0;   // while its parts arrive
        bool operator==(const Flow &) const = default;
    };
    void setFlows(std::unordered_map<int, Flow> flows);
    // Paused items stay in place and are passed over by the download until resumed.
    bool paused(int item) const { return m_paused.count(item) > 0; }
    void setPaused(const std::vector<int> &rows, bool on);

signals:
    // Items went into or out of the batch: the header list shows it.
    void itemsChanged();
    void sizeTextChanged(const QString &text);
    // Items were paused or resumed: the download looks again.
    void pausedChanged();

private:
    struct Row {
        int tag = 0;
        QString life;
        quint32 use = 0;   // the post the slot held when queued
    };
    QString lifeText(int item) const;
    static qint32 roundedKB(qint64 bytes);
    qint64 itemSize(int item) const;
    void setOrder(std::vector<Row> rows);
    std::vector<int> positionsOf(const std::unordered_set<int> &tags) const;

    HeaderStore &m_store;
    const NewsgroupTable *m_groups;
    OpsLog *m_log;
    std::vector<Row> m_rows;
    std::unordered_set<int> m_queued;   // tags of the rows
    std::unordered_set<int> m_paused;   // tags of paused rows
    std::unordered_map<int, Flow> m_flows;
    qint32 m_totalKB = 0;
    QString m_sizeText = QStringLiteral("Batch empty.");
    int m_sortColumn = -1;
    bool m_sortDescending = false;
};

} // namespace vt
