#include "platform/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace loader
{
namespace
{

using Outline = std::function<void(QPainter &)>;

// Draws the outline, given in a 16 by 16 grid, at 16 and 32 pixels.
QIcon Draw(const Outline &outline)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        outline(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen Pen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

} // namespace

QIcon TerminalGlyph()
{
    return Draw([](QPainter &p) {
        p.setPen(Pen(QColor(64, 64, 64), 1));
        p.setBrush(QColor(160, 160, 160));
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 11), 1.5, 1.5);
        p.setBrush(QColor(0, 0, 0));
        p.drawRect(QRectF(2, 2, 12, 8));
        p.setPen(Pen(QColor(0, 255, 0), 1.2));
        p.drawPolyline(QPolygonF({{4, 4}, {6, 6}, {4, 8}}));
        p.drawLine(QPointF(7.5, 8), QPointF(11, 8));
        p.setPen(Pen(QColor(64, 64, 64), 1));
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(QRectF(6.5, 11.5, 3, 2));
        p.drawRect(QRectF(3.5, 13.5, 9, 2));
    });
}

QIcon ComSetupGlyph()
{
    return Draw([](QPainter &p) {
        p.setPen(Pen(QColor(0, 0, 0), 1));
        p.setBrush(QColor(192, 192, 192));
        p.drawPolygon(QPolygonF({{0.5, 3.5}, {15.5, 3.5}, {13.5, 12.5}, {2.5, 12.5}}));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 128));
        for (int pin = 0; pin < 5; ++pin)
            p.drawEllipse(QPointF(3.5 + 2.25 * pin, 6.5), 0.9, 0.9);
        for (int pin = 0; pin < 4; ++pin)
            p.drawEllipse(QPointF(4.6 + 2.25 * pin, 9.5), 0.9, 0.9);
    });
}

QIcon CancelGlyph()
{
    return Draw([](QPainter &p) {
        p.setPen(Pen(QColor(192, 0, 0), 2.6));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon SaveGlyph()
{
    return Draw([](QPainter &p) {
        QPainterPath tick;
        tick.moveTo(2.5, 8.5);
        tick.lineTo(6.0, 12.5);
        tick.lineTo(13.5, 3.5);
        p.setPen(Pen(QColor(0, 128, 0), 2.6));
        p.drawPath(tick);
    });
}

QIcon LoaderWindowIcon()
{
    return Draw([](QPainter &p) {
        p.setPen(Pen(QColor(96, 96, 96), 1));
        for (int pin = 0; pin < 4; ++pin) {
            const qreal x = 4.5 + 2.3 * pin;
            p.drawLine(QPointF(x, 6), QPointF(x, 7.5));
            p.drawLine(QPointF(x, 14.5), QPointF(x, 16));
        }
        p.setBrush(QColor(32, 32, 32));
        p.drawRect(QRectF(2.5, 7.5, 11, 7));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 160, 0));
        QPainterPath arrow;
        arrow.addPolygon(
            QPolygonF({{6.5, 0}, {9.5, 0}, {9.5, 3}, {12, 3}, {8, 7}, {4, 3}, {6.5, 3}}));
        p.drawPath(arrow);
    });
}

} // namespace loader
