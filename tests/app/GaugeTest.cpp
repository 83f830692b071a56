// The progress gauge: its value range and what it paints.

#include "app/Gauge.h"

#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

namespace
{

using loader::TGauge;

TEST(GaugeTest, ProgressIsClampedToZeroToHundredAndShownAsPercent)
{
    struct Case {
        int set;
        int progress;
        const char *text;
    };
    const Case cases[] = {{-5, 0, "0%"},      {0, 0, "0%"},       {33, 33, "33%"},
                          {100, 100, "100%"}, {150, 100, "100%"}, {67, 67, "67%"}};
    TGauge gauge;
    for (const Case &c : cases) {
        gauge.SetProgress(c.set);
        EXPECT_EQ(gauge.Progress(), c.progress) << c.set;
        EXPECT_EQ(gauge.Text().toStdString(), c.text) << c.set;
    }
}

// Samples one row of the gauge away from the centred text.
QImage Paint(int progress)
{
    TGauge gauge;
    gauge.resize(200, 24);
    gauge.SetForeColor(QColor(0, 0, 255));
    gauge.SetProgress(progress);
    return gauge.grab().toImage();
}

TEST(GaugeTest, BarCoversItsShareOfTheWhiteGroundInsideABlackBorder)
{
    const QColor bar(0, 0, 255), ground(255, 255, 255), border(0, 0, 0);
    struct Case {
        int progress;
        int x;
        QColor expected;
    };
    const Case cases[] = {
        {0, 0, border},    {0, 5, ground},    {0, 194, ground}, {50, 5, bar},       {50, 90, bar},
        {50, 110, ground}, {50, 194, ground}, {100, 194, bar},  {100, 199, border},
    };
    for (const Case &c : cases) {
        const QImage image = Paint(c.progress);
        EXPECT_EQ(image.pixelColor(c.x, 3), c.expected) << c.progress << "% at x=" << c.x;
    }
}

enum class Shade { Dark, Light, Blue, Other };

Shade ShadeOf(const QColor &c)
{
    if (c.red() < 90 && c.green() < 90 && c.blue() < 90)
        return Shade::Dark;
    if (c.red() > 170 && c.green() > 170 && c.blue() > 170)
        return Shade::Light;
    if (c.red() < 90 && c.green() < 90 && c.blue() > 170)
        return Shade::Blue;
    return Shade::Other;
}

// Counts the pixels of one shade in the label's area, as drawn over a blue gauge.
int CountInLabel(int progress, Shade shade)
{
    QWidget parent;
    parent.resize(200, 24);
    auto *gauge = new TGauge(&parent);
    gauge->setGeometry(0, 0, 200, 24);
    gauge->SetForeColor(QColor(0, 0, 255));
    gauge->SetProgress(progress);
    auto *label = new loader::TGaugeLabel(QStringLiteral("MMMM"), gauge, &parent);
    label->setGeometry(4, 1, 60, 22);
    const QImage image = parent.grab().toImage();
    int count = 0;
    for (int y = label->y(); y < label->y() + label->height(); ++y)
        for (int x = label->x(); x < label->x() + label->width(); ++x)
            count += ShadeOf(image.pixelColor(x, y)) == shade;
    return count;
}

TEST(GaugeTest, LabelTakesTheGroundColourWhereTheBarLiesBehindIt)
{
    // Over an empty gauge the caption is dark on white; over a full bar it is white on blue.
    EXPECT_GT(CountInLabel(0, Shade::Dark), 20);
    EXPECT_EQ(CountInLabel(0, Shade::Blue), 0);
    EXPECT_EQ(CountInLabel(100, Shade::Dark), 0);
    EXPECT_GT(CountInLabel(100, Shade::Light), 20);
}

// The percentage straddling the bar's end: each half of it stands out from what lies behind it.
TEST(GaugeTest, PercentageTakesTwoColoursAtTheBarsEnd)
{
    for (const int progress : {50, 52, 54, 56}) {
        const QImage image = Paint(progress);
        const int edge = 1 + (200 - 2) * progress / 100;
        int darkOnGround = 0, lightOnBar = 0;
        for (int y = 4; y < 20; ++y) {
            for (int x = 80; x < 120; ++x) {
                const QColor c = image.pixelColor(x, y);
                darkOnGround += x >= edge && c.red() < 90 && c.blue() < 90;
                lightOnBar += x < edge && c.red() > 170;
            }
        }
        EXPECT_GT(darkOnGround, 0) << progress;
        EXPECT_GT(lightOnBar, 0) << progress;
    }
}

} // namespace
