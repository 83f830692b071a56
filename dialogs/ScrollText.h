#pragma once
// A line or more of text that moves across a small strip, one step per timer tick, with an
// optional raised, lowered or shadowed look. Each frame is drawn off screen and copied to the
// screen in one piece, so the text does not flicker.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QStringList>
#include <QWidget>
#include <functional>

class QTimer;

namespace loader
{

enum TScrollDirection { sdStatic, sdRightToLeft, sdLeftToRight, sdTopToBottom, sdBottomToTop };
enum TTextStyle { tsNormal, tsRaised, tsLowered, tsShaddow };
enum TTextAlignment { taCenter, taLeftJustify, taRightJustify };

// Where the block of text (textWidth x textHeight) starts inside a control of width x height at
// step `step` of a pass of `steps` steps. Fractions are rounded to the nearest pixel, halves to
// the even one; a static block is centred, odd spare pixels going below and to the right.
QPoint ScrollTextOrigin(TScrollDirection direction, int step, int steps, int width, int height,
                        int textWidth, int textHeight);

class TCustomScrollText : public QWidget
{
    Q_OBJECT

  public:
    using TNotifyEvent = std::function<void(TCustomScrollText &Sender)>;

    static constexpr int MinSpeed = 1;
    static constexpr int MaxSpeed = 1000;

    // Starts at the defaults below; the direction right-to-left sets it moving at once.
    explicit TCustomScrollText(QWidget *parent = nullptr);

    const QStringList &Items() const { return items_; }
    void SetItems(const QStringList &items);
    int Steps() const { return steps_; }
    void SetSteps(int steps); // at least 1
    int Speed() const { return speed_; }
    void SetSpeed(int milliseconds); // brought into 1 .. 1000
    bool Continuous() const { return continuous_; }
    void SetContinuous(bool continuous);
    TScrollDirection ScrollDirection() const { return direction_; }
    void SetScrollDirection(TScrollDirection direction);
    TTextStyle TextStyle() const { return textStyle_; }
    void SetTextStyle(TTextStyle style);
    int Depth() const { return depth_; }
    void SetDepth(int pixels);
    TTextAlignment Alignment() const { return alignment_; }
    void SetAlignment(TTextAlignment alignment);
    QColor Color() const { return color_; }
    void SetColor(const QColor &color);
    QFont Font() const { return font_; }
    void SetFont(const QFont &font);
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor &color);

    // The step counter of the current pass: 0 before its first tick, then 1 .. Steps + 1.
    int Step() const { return step_; }
    bool Scrolling() const;
    int LineHeight() const { return lineHeight_; }
    int TextWidth() const { return textWidth_; }
    int TextHeight() const { return textHeight_; }
    // Where the text block starts at the current step.
    QPoint TextOrigin() const;

    // One step of the pass; the step timer calls it every Speed milliseconds.
    void TimerTick();

    TNotifyEvent OnBegin; // at the first tick of every pass
    TNotifyEvent OnStep;  // after every step
    TNotifyEvent OnEnd;   // when a pass has run out

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void StartPass();
    void StopPass();
    // Line height, text width and text height follow the items, font and effect, then a redraw.
    void Recompute();
    void DrawFrame(QPainter &painter) const;
    void DrawLine(QPainter &painter, const QString &line, int x, int y) const;
    // Extra pixels the 3-D effect adds to each line's width and height.
    int EffectMargin() const;

    QStringList items_;
    int steps_ = 80;
    int speed_ = 100;
    bool continuous_ = true;
    TScrollDirection direction_ = sdStatic;
    TTextStyle textStyle_ = tsNormal;
    int depth_ = 1;
    TTextAlignment alignment_ = taCenter;
    QColor color_;
    QFont font_;
    QColor fontColor_;

    int step_ = 0;
    int lineHeight_ = 0;
    int textWidth_ = 0;
    int textHeight_ = 0;
    QTimer *timer_;
    mutable QPixmap frame_; // the off-screen picture, kept between paints
};

// The published form of the control.
class TScrollText : public TCustomScrollText
{
    Q_OBJECT

  public:
    using TCustomScrollText::TCustomScrollText;
};

} // namespace loader
