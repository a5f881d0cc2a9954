#pragma once
// What drives the program from outside its window: the jobs, the API and the web page
// over HTTP, and the watched folder for NZB files.
#include "Jobs.h"
#include "RemoteServer.h"
#include "SabApi.h"
#include <QHash>
#include <QObject>
#include <QTimer>
#include <memory>

namespace vt {

class Engine;

class Remote : public QObject {
    Q_OBJECT
public:
    explicit Remote(Engine &engine, QObject *parent = nullptr);
    ~Remote() override;

    // After the headers are loaded: the jobs, the HTTP server when `http` (or the
    // settings) ask for it, and the watched folder when one is set.
    void start(bool http);
    // The options changed: the server starts, stops or moves to the new address.
    void settingsChanged();
    Jobs &jobs() { return m_jobs; }
    SabApi &api() { return m_api; }
    RemoteServer *server() { return m_server.get(); }
    // One look at the watched folder now (the timer looks every few seconds).
    void lookAtWatchedFolder();

private:
    Engine &m_engine;
    Jobs m_jobs;
    SabApi m_api;
    std::unique_ptr<RemoteServer> m_server;
    bool m_started = false, m_forced = false;
    QString m_address;   // where the server listens, as the settings said then
    int m_portAsked = -1;
    QTimer m_look;
    QHash<QString, qint64> m_sizes;   // a file's size at the last look: one still growing waits
};

} // namespace vt
