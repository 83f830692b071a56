#include "dialogs/ScrollText.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <algorithm>

namespace loader
{
namespace
{

// num / den (den > 0) to the nearest integer, halves to the even one. Exact in integers, so a
// step that lands on a half pixel rounds the same way on every machine.
long long RoundHalfEven(long long num, long long den)
{
    long long quotient = num / den;
    long long remainder = num % den;
    if (remainder < 0) { // make the quotient the floor
        --quotient;
        remainder += den;
    }
    if (2 * remainder > den || (2 * remainder == den && quotient % 2 != 0))
        ++quotient;
    return quotient;
}

int Centred(int extent, int textExtent)
{
    return textExtent < extent ? (extent - textExtent) / 2 : 0;
}

// Arial where it is installed; otherwise the nearest sans serif face the system offers.
QFont DefaultFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(10);
    return font;
}

} // namespace

QPoint ScrollTextOrigin(TScrollDirection direction, int step, int steps, int width, int height,
                        int textWidth, int textHeight)
{
    const long long pass = std::max(steps, 1);
    const long long runX = static_cast<long long>(textWidth) + width;
    const long long runY = static_cast<long long>(textHeight) + height;
    QPoint origin(Centred(width, textWidth), Centred(height, textHeight));
    switch (direction) {
    case sdStatic:
        break;
    case sdRightToLeft:
        origin.setX(int(RoundHalfEven((pass - step) * runX, pass) - textWidth));
        break;
    case sdLeftToRight:
        origin.setX(int(RoundHalfEven(step * runX, pass) - textWidth));
        break;
    case sdTopToBottom:
        origin.setY(int(RoundHalfEven(step * runY, pass) - textHeight));
        break;
    case sdBottomToTop:
        origin.setY(int(RoundHalfEven((pass - step) * runY, pass) - textHeight));
        break;
    }
    return origin;
}

TCustomScrollText::TCustomScrollText(QWidget *parent)
    : QWidget(parent), items_{QStringLiteral("ScrollText")},
      color_(QApplication::palette().color(QPalette::Button)), font_(DefaultFont()),
      fontColor_(Qt::black), timer_(new QTimer(this))
{
    resize(200, 20);
    timer_->setInterval(speed_);
    connect(timer_, &QTimer::timeout, this, &TCustomScrollText::TimerTick);
    Recompute();
    SetScrollDirection(sdRightToLeft);
}

void TCustomScrollText::SetItems(const QStringList &items)
{
    items_ = items;
    Recompute();
}

void TCustomScrollText::SetSteps(int steps)
{
    // A pass of no steps would divide the way by zero.
    steps_ = std::max(steps, 1);
    update();
}

void TCustomScrollText::SetSpeed(int milliseconds)
{
    speed_ = std::clamp(milliseconds, MinSpeed, MaxSpeed);
    timer_->setInterval(speed_);
}

void TCustomScrollText::SetContinuous(bool continuous)
{
    continuous_ = continuous;
    if (direction_ != sdStatic)
        StartPass();
}

void TCustomScrollText::SetScrollDirection(TScrollDirection direction)
{
    direction_ = direction;
    if (direction_ == sdStatic)
        StopPass();
    else
        StartPass();
    update();
}

void TCustomScrollText::SetTextStyle(TTextStyle style)
{
    textStyle_ = style;
    Recompute();
}

void TCustomScrollText::SetDepth(int pixels)
{
    depth_ = pixels;
    Recompute();
}

void TCustomScrollText::SetAlignment(TTextAlignment alignment)
{
    alignment_ = alignment;
    Recompute();
}

void TCustomScrollText::SetColor(const QColor &color)
{
    color_ = color;
    Recompute();
}

void TCustomScrollText::SetFont(const QFont &font)
{
    font_ = font;
    Recompute();
}

void TCustomScrollText::SetFontColor(const QColor &color)
{
    fontColor_ = color;
    Recompute();
}

bool TCustomScrollText::Scrolling() const
{
    return timer_->isActive();
}

QPoint TCustomScrollText::TextOrigin() const
{
    return ScrollTextOrigin(direction_, step_, steps_, width(), height(), textWidth_, textHeight_);
}

void TCustomScrollText::TimerTick()
{
    if (step_ == 0 && OnBegin)
        OnBegin(*this);
    ++step_;
    update();
    if (OnStep)
        OnStep(*this);
    if (step_ > steps_) {
        timer_->stop();
        if (OnEnd)
            OnEnd(*this);
        step_ = 0;
        if (continuous_)
            StartPass();
    }
}

void TCustomScrollText::StartPass()
{
    if (timer_->isActive())
        return;
    if (step_ < 0 || step_ > steps_)
        step_ = 0;
    timer_->start(speed_);
}

void TCustomScrollText::StopPass()
{
    timer_->stop();
}

int TCustomScrollText::EffectMargin() const
{
    switch (textStyle_) {
    case tsRaised:
    case tsLowered:
        return 2 * depth_;
    case tsShaddow:
        return depth_;
    case tsNormal:
        break;
    }
    return 0;
}

void TCustomScrollText::Recompute()
{
    const QFontMetrics metrics(font_, this);
    int widest = 0;
    for (const QString &line : items_)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    lineHeight_ = metrics.height() + metrics.leading() + EffectMargin();
    textWidth_ = widest + EffectMargin();
    textHeight_ = int(items_.size()) * lineHeight_;
    update();
}

void TCustomScrollText::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (frame_.size() != pixels)
        frame_ = QPixmap(pixels);
    frame_.setDevicePixelRatio(ratio);
    frame_.fill(color_);
    {
        QPainter offscreen(&frame_);
        DrawFrame(offscreen);
    }
    QPainter(this).drawPixmap(0, 0, frame_);
}

void TCustomScrollText::DrawFrame(QPainter &painter) const
{
    painter.setFont(font_);
    const QFontMetrics metrics(font_, this);
    const QPoint origin = TextOrigin();
    int y = origin.y();
    for (const QString &line : items_) {
        const int spare = textWidth_ - metrics.horizontalAdvance(line);
        int offset = 0;
        if (alignment_ == taCenter)
            offset = int(RoundHalfEven(spare, 2));
        else if (alignment_ == taRightJustify)
            offset = spare;
        DrawLine(painter, line, origin.x() + offset, y);
        y += lineHeight_;
    }
}

// The effect colours first, then the text itself on top; the background stays as filled.
void TCustomScrollText::DrawLine(QPainter &painter, const QString &line, int x, int y) const
{
    const QColor highlight = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const int baseline = y + QFontMetrics(font_, this).ascent();
    auto draw = [&](const QColor &color, int offset) {
        painter.setPen(color);
        painter.drawText(x + offset, baseline + offset, line);
    };
    switch (textStyle_) {
    case tsRaised:
        draw(highlight, -depth_);
        draw(shadow, depth_);
        break;
    case tsLowered:
        draw(shadow, -depth_);
        draw(highlight, depth_);
        break;
    case tsShaddow:
        draw(shadow, depth_);
        break;
    case tsNormal:
        break;
    }
    draw(fontColor_, 0);
}

} // namespace loader
