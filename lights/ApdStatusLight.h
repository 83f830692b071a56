#pragma once
// A status lamp: a small passive control that is either lit or not. Without a glyph it is a
// filled square with a white top and left edge and a grey bottom and right edge; with a glyph it
// shows the glyph's left half when lit and its right half when not, the glyph's pixel at (1, 1)
// standing for transparency (the parent's background shows there).
//
// Colours are 0x00BBGGRR values (red in the low byte). The lamp repaints only when what it shows
// changes. Everything here belongs to the GUI thread.

#include <QImage>
#include <QWidget>

#include <cstdint>

namespace lights
{

// A colour value: blue in the high byte, red in the low byte.
using TColor = uint32_t;

constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;

QColor ToQColor(TColor color);

class TApdCustomStatusLight : public QWidget
{
    Q_OBJECT

  public:
    static constexpr int DefaultSize = 13;

    explicit TApdCustomStatusLight(QWidget *parent = nullptr);

    const QImage &Glyph() const { return glyph_; }
    // Sets the picture (left half lit, right half not lit); the lamp takes half its width and
    // its height, or 13 x 13 again when the picture is empty.
    void SetGlyph(const QImage &glyph);
    bool HasGlyph() const { return !glyph_.isNull(); }

    bool Lit() const { return lit_; }
    void SetLit(bool lit);

    TColor LitColor() const { return litColor_; }
    void SetLitColor(TColor color);
    TColor NotLitColor() const { return notLitColor_; }
    void SetNotLitColor(TColor color);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void SetColor(TColor &stored, TColor color, bool shown);
    QImage GlyphHalf() const;

    QImage glyph_;
    bool lit_ = false;
    TColor litColor_ = clRed;
    TColor notLitColor_ = clGreen;
};

// The published form of the lamp; it adds nothing.
class TApdStatusLight : public TApdCustomStatusLight
{
    Q_OBJECT

  public:
    using TApdCustomStatusLight::TApdCustomStatusLight;
};

} // namespace lights
