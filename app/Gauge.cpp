#include "app/Gauge.h"

#include <QPainter>
#include <algorithm>

namespace loader
{

TGauge::TGauge(QWidget *parent) : QWidget(parent) {}

void TGauge::SetProgress(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == progress_)
        return;
    progress_ = percent;
    update();
}

void TGauge::SetForeColor(const QColor &color)
{
    foreColor_ = color;
    update();
}

void TGauge::SetBackColor(const QColor &color)
{
    backColor_ = color;
    update();
}

QString TGauge::Text() const
{
    return QString::number(progress_) + QLatin1Char('%');
}

QRect TGauge::BarRect() const
{
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    return QRect(inside.left(), inside.top(), inside.width() * progress_ / 100, inside.height());
}

void TGauge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), backColor_);
    painter.setPen(QColor(0, 0, 0));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    const QRect inside = rect().adjusted(1, 1, -1, -1);
    const QRect bar(inside.left(), inside.top(), inside.width() * progress_ / 100, inside.height());
    const QRect rest(bar.right() + 1, inside.top(), inside.width() - bar.width(), inside.height());
    painter.fillRect(bar, foreColor_);

    painter.setFont(font());
    painter.setClipRect(rest);
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(inside, Qt::AlignCenter, Text());
    painter.setClipRect(bar);
    painter.setPen(backColor_);
    painter.drawText(inside, Qt::AlignCenter, Text());
}

TGaugeLabel::TGaugeLabel(const QString &text, TGauge *gauge, QWidget *parent)
    : QLabel(text, parent), gauge_(gauge)
{
    setAutoFillBackground(false);
}

void TGaugeLabel::paintEvent(QPaintEvent *event)
{
    if (!gauge_ || gauge_->parentWidget() != parentWidget()) {
        QLabel::paintEvent(event);
        return;
    }
    const QRect bar = gauge_->BarRect().translated(gauge_->pos() - pos());
    const QRect area = contentsRect();
    const int flags = static_cast<int>(alignment());

    QPainter painter(this);
    painter.setFont(font());
    painter.setClipRegion(QRegion(rect()).subtracted(bar));
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, flags, text());
    painter.setClipRect(bar & rect());
    painter.setPen(gauge_->BackColor());
    painter.drawText(area, flags, text());
}

} // namespace loader
