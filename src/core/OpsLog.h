#pragma once
// The one reporting operation. Every message becomes the status line; recorded ones are
// kept in a list (newest first, at most 99) and optionally appended to OPSLOG.TXT.
#include <QAbstractListModel>
#include <QStringList>
#include <functional>

namespace vt {

class LogListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    QVariant data(const QModelIndex &index, int role) const override;
    void prepend(const QString &entry);
    void removeLast();
    void clear();
    const QStringList &rows() const { return m_rows; }

private:
    QStringList m_rows;
};

class OpsLog : public QObject {
    Q_OBJECT
public:
    explicit OpsLog(QObject *parent = nullptr);

    void LogOp(const QString &message, bool record);

    // Settings that gate the list and the file (the log window's two boxes).
    bool enableLogging = false;   // "chkEnableLogging"
    bool logFile = false;         // "chkLogFile"

    void setLogFilePath(const QString &p) { m_filePath = p; }
    QString logFilePath() const { return m_filePath; }
    // Minimized-title inputs: the window state and the news host as typed.
    void setMinimized(bool m) { m_minimized = m; }
    void setTitleParts(const QString &appFolderName, std::function<QString()> host)
    {
        m_appName = appFolderName;
        m_host = std::move(host);
    }

    QString statusLine() const { return m_status; }
    LogListModel *list() { return &m_list; }

    static QString listEntry(const QDateTime &t, const QString &msg);
    static QString fileEntry(const QDateTime &t, const QString &msg);

signals:
    void statusChanged(const QString &text);
    void minimizedTitleChanged(const QString &title);
    void selectRow(int row);

private:
    LogListModel m_list;
    QString m_status;
    QString m_filePath;
    bool m_minimized = false;
    QString m_appName;
    std::function<QString()> m_host;
    bool m_fileFailReported = false;
};

} // namespace vt
