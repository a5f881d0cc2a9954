#pragma once
// The user's newsgroups: records with keys and high-water marks, and the list rows whose
// order is the scan order and whose greyed rows are switched off. Stored in favs.txt.
#include "headers/GroupNames.h"
#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <map>
#include <vector>

namespace vt {

class HeaderStore;
class BatchSink;
class OpsLog;
class Prompter;
class UiState;

struct NewsgroupEntry {
    QString name;
    qint32 key = 0;
    bool disabled = false;
    qint32 lastRead = 0;
    qint32 first = 0;
    qint32 last = 0;
    qint32 total = 0;
    qint32 unread = 0;
};

class NewsgroupTable : public QAbstractTableModel, public GroupNames {
    Q_OBJECT
public:
    NewsgroupTable(OpsLog &log, Prompter &prompter, UiState &ui, QObject *parent = nullptr);

    // Model: one row per listed group.
    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 6; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Rows (1-based positions as the scan sees them).
    int rows() const { return int(m_rows.size()); }
    int rowOfKey(qint32 key) const;   // 0-based; -1 when the group is gone
    qint32 rowKey(int pos) const { return m_rows[size_t(pos - 1)].key; }
    bool rowGreyed(int pos) const;
    void setScanIcon(int pos);          // this row 2, all others 1; 0: all 1
    int rowIcon(int pos) const { return m_rows[size_t(pos - 1)].icon; }

    // Look-ups by key.
    qint32 ngFindFreeKey();
    qint32 ngFindKeyByGroupName(const QString &name);
    QString nameByKey(qint32 key) const override;
    int indexByKey(qint32 key) const;       // 1..groupCount or -1
    qint32 lastReadByKey(qint32 key) const;
    void setDisabledByKey(qint32 key, bool v);
    void resetLastReadByKey(qint32 key);
    const std::vector<NewsgroupEntry> &records() const { return m_table; }
    NewsgroupEntry *recordByKey(qint32 key);

    // High-water mark; acts only while the current group's reply is taken.
    std::function<bool()> groupReplyTaken = [] { return true; };
    void set_high_msg(qint32 key, qint32 value, bool unconditional);
    // After a GROUP reply: expire, store the range; returns the unread count.
    std::function<void(qint32 key, qint32 first)> autoExpire;
    qint32 rangeUpdate(qint32 key, qint32 first, qint32 last);

    // Adding and removing. A name that could escape a folder is refused with a message.
    static bool isSafeGroupName(const QString &name);
    bool addGroup(const QString &name);
    void removeRow(int pos);
    // Removes the group's headers (items whose first part is of the group), taking them
    // out of the batch first; returns how many were removed.
    int deleteGroup(qint32 key, const QString &name, HeaderStore &store, BatchSink *batch);
    // -1 up, +1 down, 0 top; returns the rows' new positions.
    std::vector<int> moveRows(const std::vector<int> &positions, int how);
    void toggleRow(int pos);
    void resetRow(int pos);

    // favs.txt
    void loadFavourites(const QString &path);
    bool saveFavourites(const QString &path);

    // favs.txt never carries a read mark past the headers on disk: a scan's marks are kept
    // aside when the headers' save starts and written once that save is on disk, so a kill
    // or a full disk between the two never skips headers that were not saved.
    void marksLoaded();        // favs.txt and the header file agree as loaded
    void takeMarksForSave();   // a save of the headers starts: the marks it covers
    void marksSaved();         // that save is on disk

signals:
    void groupsChanged();   // names or on/off state changed: the group chooser follows

private:
    std::map<qint32, qint32> m_savedMarks, m_pendingMarks;   // key -> lastRead
    bool m_marksKnown = false;
    struct Row {
        qint32 key;
        int icon = 1;
        bool lastReadBlank = false;
    };
    void refreshRow(qint32 key);
    QString cellText(const Row &r, int column) const;
    void assignFreshKeys();
    std::vector<std::pair<size_t, size_t>> m_loadPairs;   // record, row of lines being loaded

    OpsLog &m_log;
    Prompter &m_prompter;
    UiState &m_ui;
    std::vector<NewsgroupEntry> m_table;
    std::vector<Row> m_rows;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace vt
