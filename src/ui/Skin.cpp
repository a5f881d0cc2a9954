#include "Skin.h"
#include "core/ListRoles.h"
#include "core/Prompter.h"
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace vt {

QIcon ImageList::icon(const QString &key) const
{
    for (const auto &[k, i] : m_images)
        if (k == key) return i;
    return {};
}

QStringList ImageList::keys() const
{
    QStringList out;
    for (const auto &kv : m_images) out << kv.first;
    return out;
}

namespace {

QPainterPath polygon(std::initializer_list<QPointF> points, bool closed)
{
    QPainterPath path(*points.begin());
    for (auto it = points.begin() + 1; it != points.end(); ++it) path.lineTo(*it);
    if (closed) path.closeSubpath();
    return path;
}

// Each picture is drawn on a 16-unit grid and rendered at every size a screen may ask for,
// so it stays sharp at 16 px and on high-DPI displays alike.
void drawIcon(QPainter &p, int index)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QColor outline(40, 40, 40);
    auto disc = [&](QColor fill) {
        p.setPen(QPen(fill.darker(150), 1.0));
        p.setBrush(fill);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    };
    auto check = [&](QColor c, qreal w) {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(polygon({{4.2, 8.3}, {6.9, 11}, {11.8, 5}}, false));
    };
    switch (index) {
    case 0:   // complete: green disc with a tick
        disc(QColor(46, 160, 67));
        check(Qt::white, 2.0);
        break;
    case 1: { // incomplete: amber disc, part of it missing
        disc(QColor(230, 150, 30));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPie(QRectF(3.5, 3.5, 9, 9), 90 * 16, -120 * 16);
        break;
    }
    case 2: { // unknown: grey disc with a question mark
        disc(QColor(130, 130, 140));
        QFont f;
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, 16, 16.5), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case 3: { // text: a page with lines
        p.setPen(QPen(outline, 1.0));
        p.setBrush(Qt::white);
        p.drawPath(polygon({{3.5, 1.5}, {10, 1.5}, {12.5, 4}, {12.5, 14.5}, {3.5, 14.5}}, true));
        p.setPen(QPen(QColor(60, 90, 170), 1.0));
        for (qreal y : {5.5, 8.0, 10.5, 12.5}) p.drawLine(QPointF(5, y), QPointF(11, y));
        break;
    }
    case 4: { // in batch: blue arrow down into a tray
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 100, 200));
        p.drawPath(polygon({{6, 1.5}, {10, 1.5}, {10, 6.5}, {13, 6.5}, {8, 11.5}, {3, 6.5}, {6, 6.5}}, true));
        p.setPen(QPen(outline, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(polygon({{2, 10.5}, {2, 14}, {14, 14}, {14, 10.5}}, false));
        break;
    }
    case 5:   // done: a bold green tick
        check(QColor(30, 140, 50), 2.6);
        break;
    case 6:   // failed: a red cross
        p.setPen(QPen(QColor(200, 40, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    default: { // new: a yellow star
        QPainterPath star;
        for (int i = 0; i < 10; ++i) {
            const qreal r = i % 2 ? 3.0 : 7.0;
            const qreal a = (-90 + i * 36) * M_PI / 180.0;
            const QPointF pt(8 + r * std::cos(a), 8.5 + r * std::sin(a));
            if (i == 0) star.moveTo(pt);
            else star.lineTo(pt);
        }
        star.closeSubpath();
        p.setPen(QPen(QColor(170, 120, 0), 1.0));
        p.setBrush(QColor(255, 205, 40));
        p.drawPath(star);
        break;
    }
    }
}

} // namespace

QIcon builtInIcon(int index)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.scale(size / 16.0, size / 16.0);
        drawIcon(p, index);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

const std::array<SkinFile, 8> &skinFiles()
{
    static constexpr std::array<SkinFile, 8> rows{{{"incomplete", "incomplete.ico", 1},
                                                   {"unknown", "unknown.ico", 2},
                                                   {"complete", "complete.ico", 0},
                                                   {"text", "text.ico", 3},
                                                   {"iteminbatch", "batch.ico", 4},
                                                   {"proc_true", "proc_true.ico", 5},
                                                   {"proc_false", "proc_false.ico", 6},
                                                   {"new", "new.ico", 7}}};
    return rows;
}

QImage builtInImage(int index, int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    drawIcon(p, index);
    return img;
}

void load_default_skin(ImageList &list, const QString &skinFolder, Prompter &prompter)
{
    list.clear();
    list.imageWidth = list.imageHeight = 16;
    for (const SkinFile &r : skinFiles()) {
        const QString path = skinFolder + QLatin1String(r.file);
        if (!QFileInfo(path).isFile()) {
            list.add(QLatin1String(r.key), builtInIcon(r.builtIn));
            continue;
        }
        QImageReader reader(path);
        const QImage img = reader.read();
        if (img.isNull()) {
            // The key stays out of the list; the later images move up one place.
            prompter.message(QStringLiteral("Error in load_default_skin:") + reader.errorString());
            continue;
        }
        list.add(QLatin1String(r.key), QIcon(QPixmap::fromImage(img)));
    }
}

QVariant IconProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == 0) {
        const QString key = QIdentityProxyModel::data(index, IconKeyRole).toString();
        if (key.isEmpty()) return {};
        const QIcon i = m_images.icon(key);
        return i.isNull() ? QVariant() : QVariant(i);
    }
    if (role == Qt::ForegroundRole || role == Qt::BackgroundRole) {
        const QVariant v = QIdentityProxyModel::data(index, role);
        if (v.metaType() == QMetaType::fromType<Qt::GlobalColor>()) return QColor(v.value<Qt::GlobalColor>());
        return v;
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace vt
