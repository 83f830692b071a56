#pragma once
// A horizontal progress gauge from 0 to 100: a bar that grows from the left over a white ground,
// a single black border, and the percentage in the middle. Where the bar covers the percentage
// the text takes the ground colour, so it stays readable over any bar colour.

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace loader
{

class TGauge : public QWidget
{
    Q_OBJECT

  public:
    explicit TGauge(QWidget *parent = nullptr);

    int Progress() const { return progress_; }
    // Values outside 0..100 are clamped: callers compute percentages from byte counts.
    void SetProgress(int percent);

    const QColor &ForeColor() const { return foreColor_; }
    void SetForeColor(const QColor &color);
    const QColor &BackColor() const { return backColor_; }
    void SetBackColor(const QColor &color);

    // The text shown in the middle, e.g. "42%".
    QString Text() const;
    // The part of the gauge that the bar covers, in the gauge's coordinates.
    QRect BarRect() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int progress_ = 0;
    QColor foreColor_{0, 0, 0};
    QColor backColor_{255, 255, 255};
};

// A caption laid over a gauge (a sibling placed above it). Like the gauge's own percentage it
// takes the gauge's ground colour where the bar lies behind it, so dark bars stay readable.
class TGaugeLabel : public QLabel
{
    Q_OBJECT

  public:
    TGaugeLabel(const QString &text, TGauge *gauge, QWidget *parent);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QPointer<TGauge> gauge_;
};

} // namespace loader
