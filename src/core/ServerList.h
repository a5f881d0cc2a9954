#pragma once
// The news servers as the options list them: the first (the settings' own keys) and the
// ones after it, edited straight into the settings.
#include "Settings.h"
#include <QAbstractTableModel>

namespace vt {

class ServerList : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ServerList(Settings &settings, QObject *parent = nullptr);

    int rowCount(const QModelIndex &p = {}) const override;
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : 6; }
    QVariant data(const QModelIndex &i, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    ServerEntry entry(int row) const;
    // Row 0 is the first server: its level stays 0 (it is always a main server).
    void setEntry(int row, const ServerEntry &e);
    void add(const ServerEntry &e);
    // The first server cannot be removed.
    bool remove(int row);
    // Called when the settings were loaded or changed elsewhere.
    void reload();
    // Connections of the main servers that are on, together.
    int mainConnections() const;

private:
    Settings &m_settings;
};

} // namespace vt
