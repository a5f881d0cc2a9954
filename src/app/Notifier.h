#pragma once
// Telling the desktop: a notification when a download or a scan ends or fails (the
// freedesktop notification service on the session bus, or the tray's balloon without
// one), and a tray icon whose tooltip gives the speed and what is left (a setting).
#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QWidget;

namespace vt {

class AppCore;

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    DesktopNotifier(AppCore &core, QWidget *window, QObject *parent = nullptr);
    // Said once, when notifications are on; failed ones carry an error icon.
    void notify(const QString &summary, const QString &body, bool failed);
    // The tray icon follows the setting; its tooltip the download.
    void applySettings();
    void setTrayText(const QString &text);
    QSystemTrayIcon *tray() const { return m_tray; }
    // Another bus than the session's (a test's own daemon); empty: the session bus.
    QString busAddress;

signals:
    // A notification went out (to the bus or the tray): for the log and the tests.
    void sent(const QString &summary, const QString &body);

private:
    AppCore &m_core;
    QWidget *m_window;
    QSystemTrayIcon *m_tray = nullptr;
};

} // namespace vt
