#pragma once
#include "core/ListRoles.h"
// The header list: one row per shown item, chosen by the group chooser and the status
// toggles. Row texts are made when the view asks for them, so a full refresh is one
// filter pass over the store and a burst's update touches only the items it flagged.
#include <QAbstractTableModel>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace vt {

class NzbCatalog;

class HeaderStore;
class GroupNames;

class HeaderListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Subject, Parts, MB, From, Date, Newsgroup, Life, ColumnCount };
    // Roles beside the texts: the row's icon key and its item.
    enum Role { IconKeyRole = vt::IconKeyRole, ItemRole };
    static constexpr qint32 AllGroups = -2, DisplayOff = -1;

    HeaderListModel(HeaderStore &store, const GroupNames *groups = nullptr, QObject *parent = nullptr);
    ~HeaderListModel() override;

    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : ColumnCount; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    // The view state.
    qint32 viewGroupKey = AllGroups;
    bool showComplete = true, showText = true, showUnknown = true, showIncomplete = true, showInBatch = true;
    bool newOnly = false;
    // The filter box: only items whose name holds this text (any case); empty: all.
    void setTextFilter(const QString &text);
    const QString &textFilter() const { return m_textFilter; }
    int sortColumn() const { return m_sortColumn; }
    bool sortDescending() const { return m_descending; }
    // The "Life" column (the batch list computes it); -1 shows "need scan".
    std::function<int(int item)> itemLife;

    void ViewRefresh(bool restoreDeleted);
    // The same pass in steps that return to the event loop when the store is large: the
    // list keeps its rows until the pass is through, then takes the new ones at once
    // (refreshed() says so), and updates meanwhile wait for it.
    void ViewRefreshInSteps();
    bool refreshing() const { return m_pass != nullptr; }
    // Only the items whose displayRefresh is set. allGroups: the chooser shows "All Newsgroups".
    void ViewUpdate(bool allGroups = false);
    void ResetNewFlags();
    // The delete command on 0-based selected rows; false when none was selected.
    bool deleteRows(std::vector<int> rows);
    // "Delete all": every item, shown or not.
    void deleteAll();
    // Items whose name contains the text; the chooser goes back to "All Newsgroups".
    int search(const QString &text, bool matchCase, bool searchDeleted);
    // A column click: the same column again reverses the order.
    void sortByColumn(int column);

    int itemAt(int row) const { return m_rows[size_t(row)]; }
    int rowOfItem(int item) const;
    QString cellText(int row, int column) const;
    QString counterText() const;
    bool passes(int item, bool checkGroup = true) const;

    // Origins of imported items, for their group column.
    const NzbCatalog *nzb = nullptr;

signals:
    void counterChanged(const QString &text);
    void refreshed();

private:
    QString textOf(int item, int column) const;
    // What a column sorts by: numbers by their value (a size of 9 MB before one of 10 MB),
    // the rest by their text.
    static bool numericColumn(int column) { return column == Parts || column == MB || column == Date || column == Life; }
    // A column's sort keys for rows, sorted apart from the store (on a thread for a long list).
    struct SortKeys {
        int column = 0;
        bool descending = false;
        std::vector<std::pair<double, int>> numbers;
        // Text keys one after the other in one block: no heap block per row to make or free.
        struct Text {
            quint32 at, length;
            int item;
        };
        std::vector<char> bytes;
        std::vector<Text> texts;
        std::vector<int> sorted();
    };
    void addSortKey(SortKeys &k, int item) const;
    double valueOf(int item, int column) const;
    QString iconKey(int item) const;
    bool lessThan(int a, int b) const;
    void sortRows();
    void setRows(std::vector<int> rows, bool sorted = false);
    void reindex() const;
    void announce();

    void startPass(bool sortOnly);
    void refreshStep();
    void passDone(std::vector<int> rows, bool sorted);
    static constexpr int kStepsFrom = 50'000;   // items or rows: below, one pass is quick
    static constexpr int kStepMs = 8;
    struct Pass {
        enum Phase { Filter, Keys, Sorting } phase = Filter;
        std::vector<int> rows;
        int next = 1;
        size_t keyNext = 0;
        SortKeys keys;
        quint64 generation = 0;
        quint64 serial = 0;
    };
    std::unique_ptr<Pass> m_pass;
    quint64 m_passSerial = 0;
    std::thread m_sorter;
    bool m_sorting = false;   // the worker has not handed back its sort yet
    bool m_lastUpdateAllGroups = false;

    HeaderStore &m_store;
    const GroupNames *m_groups;
    std::vector<int> m_rows;
    mutable std::vector<int> m_rowOf;   // item -> row, -1 = not shown
    mutable bool m_indexStale = true;
    int m_sortColumn = -1;
    QString m_textFilter;
    QByteArray m_needle;   // the filter text, upper case
    bool m_descending = false;
};

} // namespace vt
