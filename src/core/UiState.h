#pragma once
// What the engine shows on the main window besides the log: progress bars, the Scan
// button and the download status light. The window binds to it; the core only sets it.
#include <QObject>

namespace vt {

class UiState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    struct Bar {
        qint64 value = 0;
        qint64 max = 100;
    };
    enum BarId { ScanOverall, ScanGroup, Part, File, BarCount };   // ProgressBar1..4

    Bar bar(BarId b) const { return m_bars[b]; }
    void setBar(BarId b, qint64 value) { m_bars[b].value = value; emit changed(); }
    void setBarMax(BarId b, qint64 max) { m_bars[b].max = max; emit changed(); }
    void resetScanBars() { m_bars[ScanOverall].value = 0; m_bars[ScanGroup].value = 0; emit changed(); }
    void resetAllBars()
    {
        for (Bar &b : m_bars) b.value = 0;
        emit changed();
    }

    bool scanEnabled() const { return m_scanEnabled; }
    void setScanEnabled(bool e) { m_scanEnabled = e; emit changed(); }
    int statusLight() const { return m_light; }   // 0 idle, 1 busy
    void setStatusLight(int p) { m_light = p; emit changed(); }

signals:
    void changed();

private:
    Bar m_bars[BarCount];
    bool m_scanEnabled = true;
    int m_light = 0;
};

} // namespace vt
