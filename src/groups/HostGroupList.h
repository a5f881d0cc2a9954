#pragma once
// The server's whole list of newsgroups: fetched with LIST on feature connection 3 and
// streamed to HOSTGRPS.TXT as it arrives, loaded into memory, searched by name, and the
// chosen groups added to the newsgroup table.
#include "nntp/Connection.h"
#include "nntp/LoginSequence.h"
#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <memory>
#include <deque>
#include <vector>

namespace vt {

class AppCore;
class NewsgroupTable;
class Session;

// One row per matching group: name, "Total (est.)", "First", "Last".
class HostGroupResults : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        QString name, total, first, last;
    };
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void clear();
    void append(std::vector<Row> &rows);   // moves the batch in, one insert
    const Row &row(int r) const { return m_rows[size_t(r)]; }

private:
    std::deque<Row> m_rows;   // grows by a million rows in a search: no moving them all
};

class HostGroupList : public QObject {
    Q_OBJECT
public:
    HostGroupList(AppCore &core, Session &session, NewsgroupTable &groups, QObject *parent = nullptr);
    ~HostGroupList() override;

    enum SearchType { StartsWith, Contains };

    void Preload_groups();
    // cmdGetHostGroups: false when nothing was started (declined, no server). Asks before replacing the file; true when the download started at once (a question
    // answered later starts it then).
    bool download(bool forAssistant = false);
    // cmdQR: starts a search, or stops the one running.
    void search(const QString &query, SearchType type);
    // cmdAdd for these result rows.
    void add(const std::vector<int> &rows);
    // The window went away: a running search stops, the connection closes.
    void closed();

    QString filePath() const;
    bool searchable() const { return m_loaded; }
    bool downloading() const { return m_downloading; }
    bool searching() const { return m_searching; }
    int matches() const { return m_matches; }
    QString statusText(int panel) const { return panel == 0 ? m_status0 : m_status1; }

    QByteArray hostGroupText;
    bool hostGroupsReady = false;
    bool hostGroupsForAssistant = false;
    HostGroupResults results;
    Connection conn;
    LoginSequence login;

    // Kilobytes as "###,###" (whole) or "###,###.0".
    static QString kbText(qint64 bytes, bool tenths);
    // The longest step of the last search (the event loop runs between steps), and how
    // many steps it took.
    qint64 longestGapMs() const { return m_longestGap; }
    int yields() const { return m_yields; }

signals:
    void statusChanged(const QString &text, int panel, bool forAssistant);
    void stateChanged();   // searchable, downloading or searching changed
    void progressChanged(qint64 value, qint64 max);

private:
    bool startDownload(bool forAssistant);
    bool m_asking = false;
    void Status(const QString &text, int panel = 0);
    void onReply(const Reply &r);
    void onBody(const QByteArray &bytes);
    void WriteGroupPacket();
    void SaveGroupPacket();
    void endDownload();
    void send(const QByteArray &line);

    AppCore &m_core;
    Session &m_session;
    NewsgroupTable &m_groups;
    QString m_status0, m_status1;
    struct Search;
    void searchStep();
    std::unique_ptr<Search> m_search;
    bool m_loaded = false, m_downloading = false, m_searching = false, m_abort = false;
    int m_matches = 0;
    qint64 m_received = 0;
    qint64 m_longestGap = 0;
    int m_yields = 0;
};

} // namespace vt
