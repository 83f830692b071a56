// The progress gauge: its value range and what it paints.

#include "app/Gauge.h"

#include <QImage>
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

} // namespace
