#pragma once
// One window per state folder: a later start hands its command line to the running
// program over a local socket that only this user can open, and ends. A socket left by a
// program that crashed is removed, not obeyed.
#include <QObject>
#include <QStringList>

class QLocalServer;

namespace vt {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &stateFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The socket's name: per user and per state folder, in the user's runtime folder.
    static QString serverName(const QString &stateFolder);
    QString serverName() const { return m_name; }

    // Hands `arguments` (without the program's name) to a running program. Taken and
    // NoAnswer (a program is there but hangs) both mean this start should end. Blocks for
    // at most a few times `timeoutMs`, before the event loop runs.
    enum class HandOff { Taken, NobodyRunning, NoAnswer };
    HandOff handOff(const QStringList &arguments, int timeoutMs = 5000);
    // Takes the later starts' command lines from now on.
    bool listen();

signals:
    void argumentsReceived(const QStringList &arguments);

private:
    void onConnection();
    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace vt
