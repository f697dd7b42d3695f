#include "picture_art.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cmath>

namespace {

QByteArray encodePng(const QImage &image)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out;
}

// A stable seed per name, so a picture never changes between runs.
quint32 seedFor(const QString &key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return quint32(quint8(digest[0])) << 24 | quint32(quint8(digest[1])) << 16
           | quint32(quint8(digest[2])) << 8 | quint32(quint8(digest[3]));
}

QPolygonF regularPolygon(QPointF centre, double radius, int corners, double turn)
{
    QPolygonF polygon;
    for (int i = 0; i < corners; ++i) {
        const double angle = turn + 2 * M_PI * i / corners;
        polygon << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
    return polygon;
}

// A ridge of peaks across the picture, filled down to the bottom edge.
QPainterPath ridge(QRandomGenerator &random, double width, double height, double baseline, double roughness)
{
    QPainterPath path(QPointF(0, height));
    const int peaks = 5 + int(random.bounded(4));
    for (int i = 0; i <= peaks; ++i) {
        const double x = width * i / peaks;
        const double y = baseline - random.bounded(roughness);
        path.lineTo(x, y);
        if (i < peaks)
            path.lineTo(x + width / peaks / 2, baseline - roughness * 0.15 - random.bounded(roughness * 0.4));
    }
    path.lineTo(width, height);
    path.closeSubpath();
    return path;
}

} // namespace

namespace PictureArt {

QByteArray avatar(int number)
{
    constexpr int size = 256;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    const int hue = (number * 47) % 360;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(0, 0, size, size);
    background.setColorAt(0, QColor::fromHsv(hue, 150, 235));
    background.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 200, 120));
    painter.fillRect(image.rect(), background);

    // The badge's outline varies with the number: circle, square, triangle, hexagon.
    const QPointF centre(size / 2.0, size / 2.0 + 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((hue + 180) % 360, 90, 250));
    switch (number % 4) {
    case 0: painter.drawEllipse(centre, 82, 82); break;
    case 1: painter.drawRoundedRect(QRectF(centre.x() - 80, centre.y() - 80, 160, 160), 30, 30); break;
    case 2: painter.drawPolygon(regularPolygon(centre + QPointF(0, 14), 104, 3, -M_PI / 2)); break;
    default: painter.drawPolygon(regularPolygon(centre, 90, 6, 0)); break;
    }

    // A small face, the same on every badge.
    painter.setBrush(QColor(30, 30, 40));
    painter.drawEllipse(centre + QPointF(-28, -12), 11, 14);
    painter.drawEllipse(centre + QPointF(28, -12), 11, 14);
    QPen smile(QColor(30, 30, 40), 9, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(smile);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(centre.x() - 32, centre.y() - 6, 64, 44), 200 * 16, 140 * 16);
    painter.end();
    return encodePng(image);
}

QByteArray scene(const QString &key, bool wide)
{
    const int width = wide ? 840 : 256;
    const int height = wide ? 420 : 256;
    QRandomGenerator random(seedFor(key));
    const int hue = int(random.bounded(360));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor::fromHsv(hue, 170, 60));
    sky.setColorAt(0.6, QColor::fromHsv((hue + 25) % 360, 160, 170));
    sky.setColorAt(1, QColor::fromHsv((hue + 50) % 360, 120, 230));
    painter.fillRect(image.rect(), sky);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 180));
    for (int i = 0; i < width / 12; ++i)
        painter.drawEllipse(QPointF(random.bounded(width), random.bounded(height / 2)), 1.4, 1.4);

    const QPointF sun(width * (0.2 + random.bounded(0.6)), height * 0.38);
    QRadialGradient glow(sun, height * 0.3);
    glow.setColorAt(0, QColor::fromHsv((hue + 180) % 360, 60, 255, 230));
    glow.setColorAt(0.35, QColor::fromHsv((hue + 180) % 360, 90, 255, 120));
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setBrush(glow);
    painter.drawEllipse(sun, height * 0.3, height * 0.3);

    for (int layer = 0; layer < 3; ++layer) {
        painter.setBrush(QColor::fromHsv((hue + 200 + layer * 10) % 360, 120, 110 - layer * 35));
        painter.drawPath(ridge(random, width, height, height * (0.62 + layer * 0.12), height * (0.35 - layer * 0.08)));
    }

    // A perspective grid on the ground gives the cards a common look.
    painter.setPen(QPen(QColor::fromHsv((hue + 180) % 360, 120, 255, 70), wide ? 2 : 1));
    const double horizon = height * 0.86;
    for (int i = -8; i <= 8; ++i)
        painter.drawLine(QPointF(width / 2.0 + i * width / 40.0, horizon), QPointF(width / 2.0 + i * width / 6.0, height));
    for (int i = 0; i < 4; ++i) {
        const double y = horizon + (height - horizon) * (i * i) / 9.0;
        painter.drawLine(QPointF(0, y), QPointF(width, y));
    }
    painter.end();
    return encodePng(image);
}

} // namespace PictureArt
