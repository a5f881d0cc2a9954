#include "Notifier.h"
#include "core/AppCore.h"
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QSystemTrayIcon>
#include <QWidget>

namespace vt {

DesktopNotifier::DesktopNotifier(AppCore &core, QWidget *window, QObject *parent) : QObject(parent), m_core(core), m_window(window)
{
    m_tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_tray->setToolTip(QStringLiteral("Vantrel"));
    connect(m_tray, &QSystemTrayIcon::activated, this, [this] {
        if (!m_window) return;
        m_window->showNormal();
        m_window->raise();
        m_window->activateWindow();
    });
}

void DesktopNotifier::applySettings()
{
    m_tray->setVisible(m_core.settings.chkTray && QSystemTrayIcon::isSystemTrayAvailable());
}

void DesktopNotifier::setTrayText(const QString &text) { m_tray->setToolTip(text); }

void DesktopNotifier::notify(const QString &summary, const QString &body, bool failed)
{
    if (!m_core.settings.chkNotify) return;
    QDBusConnection bus = busAddress.isEmpty() ? QDBusConnection::sessionBus()
                                               : QDBusConnection::connectToBus(busAddress, QStringLiteral("vantrel-notify"));
    if (bus.isConnected()) {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                        QStringLiteral("/org/freedesktop/Notifications"),
                                                        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vantrel"));
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(failed ? 2 : 1)));
        m << QStringLiteral("Vantrel") << uint(0) << (failed ? QStringLiteral("dialog-error") : QStringLiteral("vantrel")) << summary << body
          << QStringList() << hints << int(-1);
        // Never waited for: a desktop without the service just does not answer.
        bus.asyncCall(m);
    } else if (m_tray->isVisible()) {
        m_tray->showMessage(summary, body, failed ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    } else {
        return;
    }
    emit sent(summary, body);
}

} // namespace vt
