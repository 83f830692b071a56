#include "dialogs/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace loader
{
namespace
{

QPen Pen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A row of pins along one edge of a chip body.
void DrawPins(QPainter &p, const QRectF &body, int count, bool horizontal)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 200, 200));
    const qreal span = horizontal ? body.width() : body.height();
    const qreal pitch = span / count;
    for (int pin = 0; pin < count; ++pin) {
        const qreal at = pitch * (pin + 0.5) - 1.5;
        if (horizontal) {
            p.drawRect(QRectF(body.left() + at, body.top() - 4, 3, 4));
            p.drawRect(QRectF(body.left() + at, body.bottom(), 3, 4));
        } else {
            p.drawRect(QRectF(body.left() - 4, body.top() + at, 4, 3));
            p.drawRect(QRectF(body.right(), body.top() + at, 4, 3));
        }
    }
}

} // namespace

QPixmap TavrinPicture()
{
    QPixmap picture(120, 110);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    // The board with its mounting holes.
    const QRectF board(2.5, 6.5, 115, 97);
    QLinearGradient green(board.topLeft(), board.bottomRight());
    green.setColorAt(0, QColor(0, 120, 60));
    green.setColorAt(1, QColor(0, 80, 40));
    p.setPen(Pen(QColor(0, 50, 25), 1));
    p.setBrush(green);
    p.drawRoundedRect(board, 6, 6);
    p.setBrush(QColor(230, 200, 120));
    for (QPointF hole : {QPointF(10, 14), QPointF(110, 14), QPointF(10, 96), QPointF(110, 96)})
        p.drawEllipse(hole, 3, 3);

    // Copper traces from the connector to the chip.
    p.setPen(Pen(QColor(210, 170, 80), 1.6));
    p.setBrush(Qt::NoBrush);
    for (int trace = 0; trace < 4; ++trace) {
        const qreal y = 44 + 7 * trace;
        QPainterPath path(QPointF(24, y));
        path.lineTo(34 + 3 * trace, y);
        path.lineTo(42 + 3 * trace, y - 10 + 2 * trace);
        path.lineTo(50, y - 10 + 2 * trace);
        p.drawPath(path);
    }
    for (int trace = 0; trace < 3; ++trace) {
        const qreal x = 62 + 10 * trace;
        p.drawPolyline(QPolygonF({{x, 66}, {x, 78}, {x + 6, 84}, {x + 6, 92}}));
    }

    // The serial connector on the left edge: a D-shaped shell with its nine pins.
    p.setPen(Pen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(180, 180, 190));
    p.drawPolygon(QPolygonF({{6, 34}, {24, 38}, {24, 72}, {6, 76}}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 60));
    for (int pin = 0; pin < 5; ++pin)
        p.drawEllipse(QPointF(12, 42 + 7 * pin), 1.4, 1.4);
    for (int pin = 0; pin < 4; ++pin)
        p.drawEllipse(QPointF(18, 45.5 + 7 * pin), 1.4, 1.4);

    // The flash chip, with a notch and a row of pins on each side.
    const QRectF chip(50, 24, 52, 38);
    DrawPins(p, chip, 7, true);
    p.setPen(Pen(QColor(20, 20, 20), 1));
    p.setBrush(QColor(35, 35, 40));
    p.drawRoundedRect(chip, 2, 2);
    p.setBrush(QColor(70, 70, 80));
    p.drawEllipse(QPointF(chip.left() + 6, chip.top() + 6), 2.5, 2.5);
    p.setPen(Pen(QColor(200, 200, 210), 1.2));
    p.drawLine(QPointF(chip.left() + 12, chip.center().y()),
               QPointF(chip.right() - 8, chip.center().y()));
    p.drawLine(QPointF(chip.left() + 12, chip.center().y() + 6),
               QPointF(chip.right() - 20, chip.center().y() + 6));

    // A status lamp in the lower right corner.
    p.setPen(Pen(QColor(90, 0, 0), 1));
    p.setBrush(QColor(230, 40, 40));
    p.drawEllipse(QPointF(104, 84), 4, 4);
    return picture;
}

QPixmap SupportPicture()
{
    QPixmap picture(41, 41);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    // Headband over the ear cups.
    p.setPen(Pen(QColor(40, 40, 60), 3.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 4, 29, 30), 10 * 16, 160 * 16);

    // Ear cups.
    p.setPen(Pen(QColor(20, 20, 30), 1));
    p.setBrush(QColor(0, 70, 160));
    p.drawRoundedRect(QRectF(3, 17, 8, 13), 3, 3);
    p.drawRoundedRect(QRectF(30, 17, 8, 13), 3, 3);

    // Microphone boom from the left cup round to the mouth.
    p.setPen(Pen(QColor(40, 40, 60), 2));
    QPainterPath boom(QPointF(7, 30));
    boom.cubicTo(QPointF(8, 38), QPointF(16, 38), QPointF(22, 36));
    p.drawPath(boom);
    p.setPen(Pen(QColor(20, 20, 30), 1));
    p.setBrush(QColor(200, 40, 40));
    p.drawEllipse(QPointF(24, 35.5), 3, 2.5);
    return picture;
}

} // namespace loader
