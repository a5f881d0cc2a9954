#pragma once
// One row per finished, skipped or failed item: what happened and where the file went.
#include <QAbstractTableModel>
#include <vector>

namespace vt {

struct ProcessedEntry {
    QString subject, status, fileName;
    bool ok = false;
};

class ProcessedList : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // The list stays sorted by the last column clicked.
    void sortBy(int column);

    void add(ProcessedEntry e);
    const ProcessedEntry &entry(int row) const { return m_rows[size_t(row)]; }
    const std::vector<ProcessedEntry> &entries() const { return m_rows; }
    void clearAll();
    // A file that got its real name (a par2 repair): its rows follow it.
    void renameFile(const QString &from, const QString &to);
    void removeSelected(std::vector<int> rows);
    // Keeps the rows in this file, loading what it holds: each new row is added to it as it
    // comes, so the page outlives a crash.
    void keepIn(const QString &path);

private:
    void append(const ProcessedEntry &e) const;
    void rewrite() const;
    QString m_path;
    void resort();
    std::vector<ProcessedEntry> m_rows;
    int m_sortColumn = -1;
    bool m_descending = false;
};

} // namespace vt
