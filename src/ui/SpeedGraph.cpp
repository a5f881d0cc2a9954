#include "SpeedGraph.h"
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace vt {

QString rateText(double bps)
{
    if (bps >= 1e6) return QString::number(bps / 1e6, 'f', 1) + QStringLiteral(" MB/s");
    return QString::number(bps / 1e3, 'f', 0) + QStringLiteral(" KB/s");
}

SpeedGraph::SpeedGraph(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("speedGraph"));
    setMinimumSize(160, 36);
    setToolTip(QStringLiteral("Download speed over the last three minutes"));
}

void SpeedGraph::addSample(double bytesPerSecond)
{
    m_samples.push_back(std::max(0.0, bytesPerSecond));
    while (m_samples.size() > size_t(kSamples)) m_samples.pop_front();
    update();
}

void SpeedGraph::clear()
{
    m_samples.clear();
    update();
}

void SpeedGraph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette &pal = palette();
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.fillRect(rect(), pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(r);
    if (m_samples.empty()) return;
    // The scale keeps a little room above the fastest second.
    const double top = std::max(1.0, *std::max_element(m_samples.begin(), m_samples.end()) * 1.15);
    const double step = r.width() / double(kSamples - 1);
    const double x0 = r.right() - step * double(m_samples.size() - 1);
    QPainterPath area;
    area.moveTo(x0, r.bottom());
    for (size_t i = 0; i < m_samples.size(); ++i) area.lineTo(x0 + step * double(i), r.bottom() - r.height() * m_samples[i] / top);
    area.lineTo(r.right(), r.bottom());
    area.closeSubpath();
    QColor fill = pal.color(QPalette::Highlight);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(area, fill);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(pal.color(QPalette::Text));
    p.drawText(r.adjusted(4, 2, -4, -2), Qt::AlignLeft | Qt::AlignTop, rateText(m_samples.back()));
}

} // namespace vt
