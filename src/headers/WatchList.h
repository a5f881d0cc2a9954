#pragma once
// Patterns the user wants collected unattended: an item that completes and whose subject
// or poster contains one goes into the batch. Kept in WATCH.TXT.
#include <QAbstractTableModel>
#include <QString>
#include <vector>

namespace vt {

class HeaderStore;
class OpsLog;

struct WatchEntry {
    QString text;
    int field = 0;          // 0 subject, 1 poster
    bool matchCase = false;
};

class WatchList : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit WatchList(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_entries.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    bool watchEnabled = false;
    const std::vector<WatchEntry> &entries() const { return m_entries; }

    void LoadWatchList(const QString &path);
    bool SaveWatchList(const QString &path, OpsLog *log = nullptr) const;
    void AddWatch(const QString &text, int field, bool matchCase);
    void removeRows(std::vector<int> rows);   // 0-based
    bool WatchMatches(const HeaderStore &store, int item) const;
    bool watching() const { return watchEnabled && !m_entries.empty(); }

    static QString warningText(bool enabled)
    {
        return enabled ? QStringLiteral("Matching complete files are automatically added to batch.")
                       : QStringLiteral("Not Enabled.  Enable Watch List in options.");
    }

private:
    std::vector<WatchEntry> m_entries;
};

} // namespace vt
