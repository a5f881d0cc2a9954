// Writes the files the installed program ships as pictures: the application icon (SVG and
// PNG at the sizes desktops ask for, drawn from the same shapes) and the built-in skin
// pictures as .ico files.
//   vantrel-icons OUTDIR
#include "ui/Skin.h"
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const char *kId = "org.vantrel.Vantrel";

// On a 256 grid: a blue tile, a white arrow down onto a white bar (news coming in).
constexpr double kTile[] = {16, 16, 224, 224, 40};
constexpr double kArrow[][2] = {{104, 40}, {152, 40}, {152, 120}, {196, 120}, {128, 188}, {60, 120}, {104, 120}};
constexpr double kBar[] = {60, 200, 136, 18};
constexpr const char *kBlue = "#1f5f9f";

QString svg()
{
    QString pts;
    for (const auto &p : kArrow) pts += QStringLiteral("%1,%2 ").arg(p[0]).arg(p[1]);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
                          "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n"
                          "  <polygon points=\"%7\" fill=\"#ffffff\"/>\n"
                          "  <rect x=\"%8\" y=\"%9\" width=\"%10\" height=\"%11\" fill=\"#ffffff\"/>\n"
                          "</svg>\n")
        .arg(kTile[0]).arg(kTile[1]).arg(kTile[2]).arg(kTile[3]).arg(kTile[4]).arg(QLatin1String(kBlue))
        .arg(pts.trimmed()).arg(kBar[0]).arg(kBar[1]).arg(kBar[2]).arg(kBar[3]);
}

QImage png(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(QLatin1String(kBlue)));
    p.drawRoundedRect(QRectF(kTile[0], kTile[1], kTile[2], kTile[3]), kTile[4], kTile[4]);
    p.setBrush(Qt::white);
    QPolygonF arrow;
    for (const auto &pt : kArrow) arrow << QPointF(pt[0], pt[1]);
    p.drawPolygon(arrow);
    p.drawRect(QRectF(kBar[0], kBar[1], kBar[2], kBar[3]));
    return img;
}

bool save(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: vantrel-icons OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString apps = out + QStringLiteral("/icons/hicolor/%1/apps/") + QLatin1String(kId);
    bool ok = save(apps.arg(QStringLiteral("scalable")) + QStringLiteral(".svg"), svg().toUtf8());
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = apps.arg(QStringLiteral("%1x%1").arg(size)) + QStringLiteral(".png");
        QDir().mkpath(QFileInfo(path).absolutePath());
        ok = png(size).save(path, "PNG") && ok;
    }
    QDir().mkpath(out + QStringLiteral("/vantrelskin"));
    for (const vt::SkinFile &f : vt::skinFiles()) {
        QImageWriter w(out + QStringLiteral("/vantrelskin/") + QLatin1String(f.file), "ico");
        ok = w.write(vt::builtInImage(f.builtIn, 16)) && ok;
    }
    if (!ok) fprintf(stderr, "vantrel-icons: could not write every file under %s\n", argv[1]);
    return ok ? 0 : 1;
}
