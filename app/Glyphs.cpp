#include "app/Glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace vek {

namespace {

QImage blankImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A USB-A plug standing upright, cable down, drawn on a 51-unit square.
void drawPlug(QPainter& p) {
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    p.setBrush(QColor(70, 70, 70));
    p.drawRoundedRect(QRectF(17.5, 34, 8, 15), 2, 2);  // cable

    QLinearGradient body(9, 0, 34, 0);
    body.setColorAt(0, QColor(95, 95, 100));
    body.setColorAt(1, QColor(45, 45, 50));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(9.5, 17, 24, 19), 3, 3);

    QLinearGradient shell(12, 0, 31, 0);
    shell.setColorAt(0, QColor(235, 235, 240));
    shell.setColorAt(1, QColor(160, 160, 170));
    p.setBrush(shell);
    p.drawRect(QRectF(12.5, 2.5, 18, 15));
    p.setBrush(QColor(40, 40, 40));
    p.drawRect(QRectF(15.5, 6.5, 4, 4));
    p.drawRect(QRectF(23.5, 6.5, 4, 4));

    // The USB trident on the plug's body.
    p.setPen(QPen(QColor(220, 220, 225), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF stem(21.5, 33), top(21.5, 20.5);
    p.drawLine(stem, top);
    p.drawPolyline(QPolygonF{{21.5, 29}, {16, 25.5}, {16, 23}});
    p.drawPolyline(QPolygonF{{21.5, 27}, {27, 24.5}, {27, 22.5}});
    p.setBrush(QColor(220, 220, 225));
    p.drawEllipse(QPointF(16, 22.5), 1.2, 1.2);
    p.drawRect(QRectF(26, 21, 2, 2));
    p.drawPolygon(QPolygonF{{19.5, 22}, {21.5, 19}, {23.5, 22}});
}

// The state badge at the lower right: a tick on green or a cross on red.
void drawBadge(QPainter& p, bool tick) {
    const QPointF centre(38, 38);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(tick ? QColor(30, 160, 50) : QColor(210, 30, 30));
    p.drawEllipse(centre, 11.5, 11.5);
    p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    if (tick) {
        p.drawPolyline(QPolygonF{{32.5, 38.5}, {36.5, 42.5}, {44, 33.5}});
    } else {
        p.drawLine(QPointF(33.5, 33.5), QPointF(42.5, 42.5));
        p.drawLine(QPointF(42.5, 33.5), QPointF(33.5, 42.5));
    }
}

// The dial's angle for a fraction of its sweep: 225 degrees at zero, clockwise to -45.
qreal dialAngle(qreal fraction) {
    return qDegreesToRadians(225.0 - 270.0 * fraction);
}

QPointF onDial(QPointF centre, qreal radius, qreal fraction) {
    const qreal a = dialAngle(fraction);
    return centre + QPointF(radius * qCos(a), -radius * qSin(a));
}

// The icon on a 64-unit square; fine detail is left out where the icon is small.
void drawApplicationIcon(QPainter& p, int size) {
    const bool detailed = size >= 32;
    QLinearGradient box(0, 0, 0, 64);
    box.setColorAt(0, QColor(40, 90, 160));
    box.setColorAt(1, QColor(15, 40, 85));
    p.setPen(QPen(QColor(10, 25, 55), 1.5));
    p.setBrush(box);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

    const QPointF centre(32, 36);
    const qreal radius = 21;
    const QRectF dial(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(235, 240, 250), detailed ? 4 : 6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(dial, 225 * 16, -246 * 16);
    p.setPen(QPen(QColor(240, 70, 50), detailed ? 4 : 6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(dial, -21 * 16, -24 * 16);  // the red zone at the top of the scale

    if (detailed) {
        p.setPen(QPen(QColor(235, 240, 250), 1.5, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i <= 10; ++i) {
            const qreal f = i / 10.0;
            p.drawLine(onDial(centre, radius - 4, f), onDial(centre, radius - (i % 5 ? 7 : 10), f));
        }
    }

    p.setPen(QPen(QColor(255, 190, 40), detailed ? 3 : 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, onDial(centre, radius - 3, 0.7));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 240, 250));
    p.drawEllipse(centre, detailed ? 4 : 6, detailed ? 4 : 6);
}

}  // namespace

QPixmap usbGlyph(int index) {
    if (index != kUsbGlyphOpen && index != kUsbGlyphClosed)
        return {};
    QImage image = blankImage(kUsbGlyphSize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawPlug(p);
    drawBadge(p, index == kUsbGlyphOpen);
    p.end();
    return QPixmap::fromImage(image);
}

QImage applicationIconImage(int size) {
    QImage image = blankImage(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    drawApplicationIcon(p, size);
    p.end();
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : kApplicationIconSizes)
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
    return icon;
}

}  // namespace vek
