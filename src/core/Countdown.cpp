#include "Countdown.h"
#include "OpsLog.h"
#include "Sound.h"
#include "Text.h"

namespace vt {

Countdown::Countdown(OpsLog &log, Sounds &sounds, QObject *parent) : QObject(parent), m_log(log), m_sounds(sounds)
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &Countdown::tick);
}

void Countdown::start(const QString &why)
{
    m_why = why;
    m_active = true;
    m_value = rescanSeconds();
    m_timer.start(1000);
}

void Countdown::cancel()
{
    m_active = false;
    m_value = rescanSeconds();
    m_timer.stop();
}

void Countdown::tick()
{
    const bool dl = downloadRestartPending();
    if (!m_active) {
        m_timer.stop();
        m_log.LogOp(dl ? QStringLiteral("Download restart coundown cancelled by user.")
                       : QStringLiteral("Re-scan countdown cancelled by user."), true);
        return;
    }
    const int n = m_value;
    if (n <= 0) return;
    m_value = n - 1;
    if (m_value > 0) {
        if (!m_why.isEmpty())
            m_log.LogOp(m_why + QStringLiteral(" — retrying in ") + QString::number(m_value) + QStringLiteral(" s (hit stop to abort)"), false);
        else
            m_log.LogOp((dl ? QStringLiteral("Download Restart in") : QStringLiteral("Rescan in")) + num(m_value)
                            + QStringLiteral(" seconds (hit stop to abort)"), false);
    } else {
        if (dl) {
            m_log.LogOp(QStringLiteral("Download Restart Initiated"), false);
            m_timer.stop();
            if (startBatchDownload) startBatchDownload();
        } else {
            m_log.LogOp(QStringLiteral("Rescan initiated"), false);
            m_timer.stop();
            if (connectForScan) connectForScan();
        }
        return;
    }
    if (m_value >= 1 && m_value <= 10) m_sounds.PlaySound(QString::number(m_value) + QStringLiteral(".wav"));
}

} // namespace vt
