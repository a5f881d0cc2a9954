#pragma once
// Free space on the folders' filesystems and free memory, shown as five status lines and
// refreshed every 10 seconds; low values sound a warning at start-up.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace vt {

class Sounds;
struct Settings;

// Free MB available to this user on the filesystem holding path (0 when unknown).
double FreeSpaceMB(const QString &path);
// Mount point of the filesystem holding path, for the status line.
QString MountOf(const QString &path);

struct MemoryStatus {
    double availPhysBytes = 0;
    double availSwapBytes = 0;
};
MemoryStatus ReadMemoryStatus();

class ResourceMonitor : public QObject {
    Q_OBJECT
public:
    ResourceMonitor(const Settings &s, Sounds &sounds, QObject *parent = nullptr);

    void ShowResourceStats(bool warn);
    // The option changed (also when the value loads): hide and stop, or show and run.
    void setDisabled(bool disabled);

    const QStringList &lines() const { return m_lines; }   // elements 0..4
    bool visible() const { return m_visible; }
    QTimer &timer() { return m_timer; }

    // Overridable inputs so the line format can be checked with chosen numbers.
    std::function<double(const QString &)> freeSpace = FreeSpaceMB;
    std::function<MemoryStatus()> memory = ReadMemoryStatus;
    std::function<QString()> tempFolder;

signals:
    void changed();

private:
    void tick();
    const Settings &m_s;
    Sounds &m_sounds;
    QStringList m_lines{QString(), QString(), QString(), QString(), QString()};
    bool m_visible = true;
    QTimer m_timer;
};

} // namespace vt
