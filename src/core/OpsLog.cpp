#include "OpsLog.h"
#include "Text.h"
#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace vt {

QVariant LogListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return m_rows[index.row()];
    return {};
}

void LogListModel::prepend(const QString &entry)
{
    beginInsertRows({}, 0, 0);
    m_rows.prepend(entry);
    endInsertRows();
}

void LogListModel::removeLast()
{
    if (m_rows.isEmpty()) return;
    const int r = int(m_rows.size()) - 1;
    beginRemoveRows({}, r, r);
    m_rows.removeLast();
    endRemoveRows();
}

void LogListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

OpsLog::OpsLog(QObject *parent) : QObject(parent), m_list(this) {}

QString OpsLog::listEntry(const QDateTime &t, const QString &msg)
{
    return t.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + msg;
}

QString OpsLog::fileEntry(const QDateTime &t, const QString &msg)
{
    return QLocale::system().toString(t.date(), QLocale::ShortFormat) + u' '
        + t.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + msg;
}

void OpsLog::LogOp(const QString &message, bool record)
{
    QString msg = message;
    const qsizetype cr = msg.indexOf(u'\r');
    if (cr >= 0) msg = trimBlanks(msg.left(cr));

    m_status = msg;
    emit statusChanged(msg);
    if (m_minimized)
        emit minimizedTitleChanged(m_appName + QStringLiteral(" [") + (m_host ? m_host() : QString()) + QStringLiteral("] ") + msg);
    if (!enableLogging) return;

    const QDateTime now = QDateTime::currentDateTime();
    if (record) {
        m_list.prepend(listEntry(now, msg));
        emit selectRow(0);
    }
    if (m_list.rowCount() >= 100) m_list.removeLast();

    if (logFile && record && !m_filePath.isEmpty()) {
        QFile f(m_filePath);
        bool ok = f.open(QIODevice::WriteOnly | QIODevice::Append);
        if (ok) {
            const QByteArray line = (fileEntry(now, msg) + QStringLiteral("\r\n")).toUtf8();
            ok = f.write(line) == line.size();
        }
        if (!ok && !m_fileFailReported) {
            // Said once, in the list only: the file is the thing that fails.
            m_fileFailReported = true;
            m_list.prepend(listEntry(now, QStringLiteral("Error: cannot write ") + m_filePath + QStringLiteral(": ") + f.errorString()));
            if (m_list.rowCount() >= 100) m_list.removeLast();
        } else if (ok) {
            m_fileFailReported = false;
        }
    }
}

} // namespace vt
