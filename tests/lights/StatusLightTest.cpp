// The lamp rendered offscreen: colours and edges, glyph halves with their transparent pixel,
// its size rules, and repainting only when what it shows changes.

#include "lights/ApdStatusLight.h"

#include "tests/support/Wait.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace lights;

namespace
{

const QRgb Background = qRgb(10, 20, 30);
const QRgb GlyphLit = qRgb(255, 255, 0);
const QRgb GlyphDark = qRgb(0, 0, 128);
const QRgb GlyphClear = qRgb(255, 0, 255);

// 26 x 13: left half lit colour, right half dark, the transparent colour at (1, 1) and at (3, 3)
// of each half.
QImage TestGlyph()
{
    QImage glyph(26, 13, QImage::Format_RGB32);
    QPainter painter(&glyph);
    painter.fillRect(0, 0, 13, 13, QColor(GlyphLit));
    painter.fillRect(13, 0, 13, 13, QColor(GlyphDark));
    painter.end();
    for (int x : {1, 3, 16})
        glyph.setPixel(x, x == 1 ? 1 : 3, GlyphClear);
    return glyph;
}

// Colours by letter: Green, Red, Blue, White, grey (Y), glyph Lit and Dark halves, Parent.
const std::map<char, QRgb> Colours = {{'G', qRgb(0, 128, 0)},     {'R', qRgb(255, 0, 0)},
                                      {'B', qRgb(0, 0, 255)},     {'W', qRgb(255, 255, 255)},
                                      {'Y', qRgb(128, 128, 128)}, {'L', GlyphLit},
                                      {'D', GlyphDark},           {'P', Background}};

struct PaintCase {
    const char *name;
    bool glyph;
    bool lit;
    TColor litColor;
    const char *pixels; // "G6,6 W0,0 ...": the colour expected at x,y
};

class LampPaint : public ::testing::TestWithParam<PaintCase>
{
};

TEST_P(LampPaint, ShowsItsState)
{
    const PaintCase &c = GetParam();
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(parent.backgroundRole(), QColor(Background));
    parent.setPalette(palette);
    auto *lamp = new TApdStatusLight(&parent);
    if (c.glyph)
        lamp->SetGlyph(TestGlyph());
    lamp->SetLitColor(c.litColor);
    lamp->SetLit(c.lit);
    QImage image(lamp->size(), QImage::Format_RGB32);
    lamp->render(&image);
    std::istringstream pixels(c.pixels);
    char colour, comma;
    int x, y;
    while (pixels >> colour >> x >> comma >> y)
        EXPECT_EQ(QColor(image.pixel(x, y)).name(), QColor(Colours.at(colour)).name())
            << colour << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Lamp, LampPaint,
    ::testing::Values(
        PaintCase{"UnlitGreenWithEdges", false, false, clRed,
                  "G6,6 G11,11 W0,0 W6,0 W12,0 W0,6 W0,12 Y12,1 Y12,6 Y12,12 Y1,12 Y6,12"},
        PaintCase{"LitRed", false, true, clRed, "R6,6 R1,1 W0,0 Y12,6"},
        PaintCase{"ColourIsBlueHighByte", false, true, 0xFF0000, "B6,6"},
        PaintCase{"GlyphLeftHalfWhenLit", true, true, clRed, "L6,6 L0,0 P1,1 P3,3"},
        PaintCase{"GlyphRightHalfWhenNot", true, false, clRed, "D6,6 D1,1 D12,12 P3,3"}),
    [](const ::testing::TestParamInfo<PaintCase> &p) { return std::string(p.param.name); });

struct SizeCase {
    const char *name;
    QSize glyph; // empty: none
    QSize requested;
    QSize expected;
};

class LampSize : public ::testing::TestWithParam<SizeCase>
{
};

TEST_P(LampSize, FollowsItsGlyph)
{
    const SizeCase &c = GetParam();
    TApdStatusLight lamp;
    EXPECT_EQ(lamp.size(), QSize(13, 13));
    if (!c.glyph.isEmpty()) {
        QImage glyph(c.glyph, QImage::Format_RGB32);
        glyph.fill(Qt::black);
        lamp.SetGlyph(glyph);
    }
    if (!c.requested.isEmpty())
        lamp.setGeometry(4, 4, c.requested.width(), c.requested.height());
    EXPECT_EQ(lamp.size(), c.expected);
    lamp.SetGlyph(QImage());
    EXPECT_EQ(lamp.size(), QSize(13, 13));
}

INSTANTIATE_TEST_SUITE_P(
    Lamp, LampSize,
    ::testing::Values(SizeCase{"NoGlyphTakesItsBounds", {}, {20, 9}, {20, 9}},
                      SizeCase{"GlyphHalfWidth", {26, 13}, {}, {13, 13}},
                      SizeCase{"GlyphKeepsItsSize", {26, 13}, {40, 30}, {13, 13}},
                      SizeCase{"OtherGlyph", {30, 20}, {5, 5}, {15, 20}}),
    [](const ::testing::TestParamInfo<SizeCase> &p) { return std::string(p.param.name); });

// A lamp that counts its paints.
class CountingLamp : public TApdStatusLight
{
  public:
    using TApdStatusLight::TApdStatusLight;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        TApdStatusLight::paintEvent(event);
    }
};

struct RepaintCase {
    const char *name;
    bool glyph;
    bool lit;
    void (*change)(TApdStatusLight &);
    bool repaints;
};

class LampRepaint : public ::testing::TestWithParam<RepaintCase>
{
};

TEST_P(LampRepaint, OnlyWhenWhatItShowsChanges)
{
    const RepaintCase &c = GetParam();
    QWidget window;
    auto *lamp = new CountingLamp(&window);
    auto *witness = new CountingLamp(&window);
    witness->move(20, 0);
    if (c.glyph)
        lamp->SetGlyph(TestGlyph());
    lamp->SetLit(c.lit);
    window.show();
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return lamp->paints > 0; }, 5000));
    const int before = lamp->paints;
    c.change(*lamp);
    // The window paints every dirty region at once: when the witness has painted, so has the
    // lamp if it asked to.
    const int witnessBefore = witness->paints;
    witness->update();
    ASSERT_TRUE(
        testsupport::ProcessEventsUntil([&] { return witness->paints > witnessBefore; }, 5000));
    EXPECT_EQ(lamp->paints > before, c.repaints);
}

INSTANTIATE_TEST_SUITE_P(
    Lamp, LampRepaint,
    ::testing::Values(
        RepaintCase{"SameLit", false, false, [](TApdStatusLight &l) { l.SetLit(false); }, false},
        RepaintCase{"OtherLit", false, false, [](TApdStatusLight &l) { l.SetLit(true); }, true},
        RepaintCase{"LitColorWhileUnlit", false, false,
                    [](TApdStatusLight &l) { l.SetLitColor(1); }, false},
        RepaintCase{"LitColorWhileLit", false, true, [](TApdStatusLight &l) { l.SetLitColor(1); },
                    true},
        RepaintCase{"NotLitColorWhileUnlit", false, false,
                    [](TApdStatusLight &l) { l.SetNotLitColor(1); }, true},
        RepaintCase{"ColorUnderAGlyph", true, true, [](TApdStatusLight &l) { l.SetLitColor(1); },
                    false}),
    [](const ::testing::TestParamInfo<RepaintCase> &p) { return std::string(p.param.name); });

} // namespace
