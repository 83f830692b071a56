#include "lights/ApdStatusLight.h"

#include <QPainter>

namespace lights
{

QColor ToQColor(TColor color)
{
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

TApdCustomStatusLight::TApdCustomStatusLight(QWidget *parent) : QWidget(parent)
{
    // Every paint covers the whole lamp.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A lamp keeps its size in a layout instead of stretching with the row.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    resize(DefaultSize, DefaultSize);
}

void TApdCustomStatusLight::SetGlyph(const QImage &glyph)
{
    glyph_ = glyph;
    if (HasGlyph()) {
        // Fixed, so neither a resize nor a layout can give it other bounds.
        setFixedSize(glyph_.width() / 2, glyph_.height());
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(DefaultSize, DefaultSize);
    }
    updateGeometry();
    update();
}

void TApdCustomStatusLight::SetLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
}

void TApdCustomStatusLight::SetLitColor(TColor color)
{
    SetColor(litColor_, color, lit_);
}

void TApdCustomStatusLight::SetNotLitColor(TColor color)
{
    SetColor(notLitColor_, color, !lit_);
}

void TApdCustomStatusLight::SetColor(TColor &stored, TColor color, bool shown)
{
    if (color == stored)
        return;
    stored = color;
    // A glyph, or the other state's colour, is what the lamp shows now.
    if (shown && !HasGlyph())
        update();
}

QSize TApdCustomStatusLight::sizeHint() const
{
    if (HasGlyph())
        return QSize(glyph_.width() / 2, glyph_.height());
    return QSize(DefaultSize, DefaultSize);
}

QImage TApdCustomStatusLight::GlyphHalf() const
{
    const int w = width();
    const QImage glyph = glyph_.convertToFormat(QImage::Format_ARGB32);
    QImage half = glyph.copy(lit_ ? 0 : w, 0, w, height());
    if (!glyph.valid(1, 1))
        return half;
    const QWidget *owner = parentWidget() != nullptr ? parentWidget() : this;
    const QRgb background = owner->palette().color(owner->backgroundRole()).rgba();
    const QRgb transparent = glyph.pixel(1, 1);
    for (int y = 0; y < half.height(); ++y)
        for (int x = 0; x < half.width(); ++x)
            if (half.pixel(x, y) == transparent)
                half.setPixel(x, y, background);
    return half;
}

void TApdCustomStatusLight::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    if (HasGlyph()) {
        painter.drawImage(0, 0, GlyphHalf());
        return;
    }
    painter.fillRect(0, 0, w, h, ToQColor(lit_ ? litColor_ : notLitColor_));
    painter.setPen(ToQColor(clWhite));
    painter.drawLine(0, 0, w, 0);
    painter.drawLine(0, 0, 0, h);
    painter.setPen(ToQColor(clGray));
    painter.drawLine(w - 1, 1, w - 1, h);
    painter.drawLine(1, h - 1, w, h - 1);
}

} // namespace lights
