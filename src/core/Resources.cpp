#include "Resources.h"
#include "Settings.h"
#include "Sound.h"
#include "Text.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <cmath>

namespace vt {

static QString existingAncestor(const QString &path)
{
    QFileInfo fi(path);
    QString p = fi.absoluteFilePath();
    while (!p.isEmpty() && !QFileInfo::exists(p)) {
        const qsizetype s = p.lastIndexOf(u'/');
        if (s <= 0) return QStringLiteral("/");
        p = p.left(s);
    }
    return p;
}

double FreeSpaceMB(const QString &path)
{
    if (path.isEmpty()) return 0;
    QStorageInfo si(existingAncestor(path));
    if (!si.isValid() || !si.isReady()) return 0;
    return double(si.bytesAvailable()) / 1048576.0;
}

QString MountOf(const QString &path)
{
    if (path.isEmpty()) return {};
    QStorageInfo si(existingAncestor(path));
    return si.isValid() ? si.rootPath() : QString();
}

MemoryStatus ReadMemoryStatus()
{
    MemoryStatus m;
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly)) return m;
    const auto lines = f.readAll().split('\n');
    for (const QByteArray &l : lines) {
        auto val = [&](const char *key) -> double {
            return double(leadingInt(l.mid(qsizetype(strlen(key))))) * 1024.0;
        };
        if (l.startsWith("MemAvailable:")) m.availPhysBytes = val("MemAvailable:");
        else if (l.startsWith("SwapFree:")) m.availSwapBytes = val("SwapFree:");
    }
    return m;
}

ResourceMonitor::ResourceMonitor(const Settings &s, Sounds &sounds, QObject *parent)
    : QObject(parent), m_s(s), m_sounds(sounds)
{
    tempFolder = [] { return QDir::tempPath(); };
    connect(&m_timer, &QTimer::timeout, this, &ResourceMonitor::tick);
}

void ResourceMonitor::ShowResourceStats(bool warn)
{
    auto diskLine = [&](const QString &folder, const char *label, const char *sound, int idx) {
        const double mb = std::round(freeSpace(folder));
        m_lines[idx] = u' ' + MountOf(folder) + u' ' + fmt(mb, 0, true) + QString::fromLatin1(label);
        if (warn && mb < 100) m_sounds.PlaySound(QString::fromLatin1(sound));
    };
    diskLine(m_s.Download_Path, "MB free (download)", "vtv005.wav", 0);
    const QString tmp = tempFolder ? tempFolder() : QString();
    if (!tmp.isEmpty()) diskLine(tmp, "MB free (temp)", "vtv006.wav", 1);
    diskLine(m_s.Cache_Path, "MB free (cache)", "vtv005.wav", 2);

    const MemoryStatus ms = memory();
    const double physKB = std::round(ms.availPhysBytes / 1024.0);
    const double pageKB = std::round(ms.availSwapBytes / 1024.0);
    m_lines[3] = fmt(physKB / 1024.0, 1, true) + QStringLiteral("MB free physical RAM");
    m_lines[4] = fmt((physKB + pageKB) / 1024.0, 1, true) + QStringLiteral("MB free total RAM");
    if (warn && std::round(physKB / 1024.0) + std::round(pageKB / 1024.0) < 100)
        m_sounds.PlaySound(QStringLiteral("vtv007.wav"));
    emit changed();
}

void ResourceMonitor::tick()
{
    if (!m_s.chkDisableStats) {
        ShowResourceStats(false);
        m_visible = true;
    } else {
        m_visible = false;
    }
    emit changed();
}

void ResourceMonitor::setDisabled(bool disabled)
{
    if (disabled) {
        m_visible = false;
        m_timer.stop();
    } else {
        m_visible = true;
        m_timer.start(10000);
    }
    emit changed();
}

} // namespace vt
