#pragma once
// The restart countdown: after an emergency restart, count down a number of seconds on a
// one-second timer, then reconnect the scan or restart the batch download.
#include <QObject>
#include <QTimer>
#include <functional>

namespace vt {

class OpsLog;
class Sounds;

class Countdown : public QObject {
    Q_OBJECT
public:
    Countdown(OpsLog &log, Sounds &sounds, QObject *parent = nullptr);

    // What the countdown restarts, wired by the program.
    std::function<bool()> downloadRestartPending = [] { return false; };
    std::function<void()> startBatchDownload;
    std::function<void()> connectForScan;
    std::function<int()> rescanSeconds = [] { return 90; };

    // why: what the restart is for ("Connection refused by host:port"), shown with the count.
    void start(const QString &why = {});
    const QString &why() const { return m_why; }
    // Stop buttons: quiet cancel.
    void cancel();
    // A scan started by hand: the next tick reports the cancellation.
    void clearActive() { m_active = false; }

    void tick();

    bool active() const { return m_active; }
    int value() const { return m_value; }
    QTimer &timer() { return m_timer; }

private:
    OpsLog &m_log;
    Sounds &m_sounds;
    bool m_active = false;
    int m_value = 90;
    QString m_why;
    QTimer m_timer;
};

} // namespace vt
