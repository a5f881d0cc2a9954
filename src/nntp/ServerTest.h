#pragma once
// The options' Test button: connects to a server as the download would, logs in, and says
// whether that worked and what the server said.
#include "Connection.h"
#include "LoginSequence.h"
#include "core/Settings.h"
#include <QObject>
#include <QTimer>

namespace vt {

class ServerTest : public QObject {
    Q_OBJECT
public:
    explicit ServerTest(QObject *parent = nullptr);
    void start(const ServerEntry &server);
    bool running() const { return m_running; }
    // Accepted certificates, as the session checks them.
    Connection::CertificateCheckFn certificateCheck;

signals:
    void finished(bool ok, const QString &text);

private:
    void end(bool ok, const QString &text);
    Connection m_conn;
    LoginSequence m_login;
    QTimer m_timeout;
    QString m_greeting;
    bool m_running = false;
};

} // namespace vt
