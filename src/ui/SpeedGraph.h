#pragma once
// The download speed over the last minutes, one sample a second, drawn in the desktop's
// own colours (light or dark alike), the latest rate written on it.
#include <QWidget>
#include <deque>

namespace vt {

class SpeedGraph : public QWidget {
    Q_OBJECT
public:
    explicit SpeedGraph(QWidget *parent = nullptr);
    static constexpr int kSamples = 180;   // three minutes
    void addSample(double bytesPerSecond);
    void clear();
    const std::deque<double> &samples() const { return m_samples; }
    QSize sizeHint() const override { return {240, 44}; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    std::deque<double> m_samples;
};

// "12.3 MB/s", "850 KB/s".
QString rateText(double bytesPerSecond);

} // namespace vt
