#include "ServerList.h"
#include <algorithm>

namespace vt {

ServerList::ServerList(Settings &settings, QObject *parent) : QAbstractTableModel(parent), m_settings(settings) {}

int ServerList::rowCount(const QModelIndex &p) const { return p.isValid() ? 0 : 1 + int(m_settings.servers.size()); }

ServerEntry ServerList::entry(int row) const
{
    if (row <= 0) return m_settings.firstServer();
    return m_settings.servers[size_t(row - 1)];
}

QVariant ServerList::data(const QModelIndex &i, int role) const
{
    if (!i.isValid() || role != Qt::DisplayRole || i.row() >= rowCount()) return {};
    const ServerEntry e = entry(i.row());
    switch (i.column()) {
    case 0: return e.host;
    case 1: return e.port;
    case 2: return e.tls ? QStringLiteral("TLS") : QString();
    case 3: return e.connections;
    case 4: return e.level == 0 ? QStringLiteral("main") : QStringLiteral("backup %1").arg(e.level);
    case 5: return e.enabled ? QStringLiteral("on") : QStringLiteral("off");
    }
    return {};
}

QVariant ServerList::headerData(int section, Qt::Orientation o, int role) const
{
    static const char *names[] = {"Server", "Port", "TLS", "Connections", "Level", "On"};
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 6) return {};
    return QString::fromLatin1(names[section]);
}

void ServerList::setEntry(int row, const ServerEntry &in)
{
    ServerEntry e = in;
    e.connections = std::clamp(e.connections, 1, 50);
    e.level = std::max(0, e.level);
    if (row <= 0) {
        Settings &s = m_settings;
        s.News_Host = e.host.trimmed();
        s.News_Port = e.port.trimmed();
        s.chkSSL = e.tls;
        s.User_Name = e.user.trimmed();
        s.password = e.password;
        s.News_Connections = e.connections;
        row = 0;
    } else if (row <= int(m_settings.servers.size())) {
        m_settings.servers[size_t(row - 1)] = e;
    } else {
        return;
    }
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void ServerList::add(const ServerEntry &in)
{
    ServerEntry e = in;
    e.connections = std::clamp(e.connections, 1, 50);
    e.level = std::max(0, e.level);
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_settings.servers.push_back(e);
    endInsertRows();
}

bool ServerList::remove(int row)
{
    if (row < 1 || row >= rowCount()) return false;
    beginRemoveRows({}, row, row);
    m_settings.servers.erase(m_settings.servers.begin() + (row - 1));
    endRemoveRows();
    return true;
}

void ServerList::reload()
{
    beginResetModel();
    endResetModel();
}

int ServerList::mainConnections() const
{
    int n = 0;
    for (int r = 0; r < rowCount(); ++r) {
        const ServerEntry e = entry(r);
        if (e.enabled && e.level == 0) n += e.connections;
    }
    return n;
}

} // namespace vt
