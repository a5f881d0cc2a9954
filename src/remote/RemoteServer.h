#pragma once
// The remote control's HTTP server: /api for automation tools, / for the web page. A
// request may bring at most an NZB's limit and a little more; one that sends more is
// answered 413 and its connection closed before it fills memory.
#include "SabApi.h"
#include <QAbstractHttpServer>
#include <QHostAddress>
#include <memory>

class QTcpServer;

namespace vt {

class Engine;

class RemoteServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    RemoteServer(Engine &engine, SabApi &api, QObject *parent = nullptr);
    ~RemoteServer() override;

    // Listens on the settings' address and port; the port taken (0 when it cannot).
    quint16 start();
    quint16 port() const { return m_port; }
    static constexpr qint64 kMaxRequest = 256LL * 1024 * 1024 + 64 * 1024;
    void setMaxRequest(qint64 bytes) { m_maxRequest = bytes; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    class Listener;
    Engine &m_engine;
    SabApi &m_api;
    Listener *m_listener = nullptr;
    quint16 m_port = 0;
    qint64 m_maxRequest = kMaxRequest;
};

} // namespace vt
