// The scrolling text: property limits, the pass of ticks and its events, the position of the text
// in every direction, and the 3-D effects as drawn.

#include "dialogs/ScrollText.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace
{

using namespace loader;

TEST(ScrollText, StartsWithItsDefaultsAndMoving)
{
    TScrollText text;
    EXPECT_EQ(text.Items(), QStringList{QStringLiteral("ScrollText")});
    EXPECT_EQ(text.Steps(), 80);
    EXPECT_EQ(text.Speed(), 100);
    EXPECT_TRUE(text.Continuous());
    EXPECT_EQ(text.ScrollDirection(), sdRightToLeft);
    EXPECT_TRUE(text.Scrolling());
    EXPECT_EQ(text.TextStyle(), tsNormal);
    EXPECT_EQ(text.Depth(), 1);
    EXPECT_EQ(text.Alignment(), taCenter);
    EXPECT_EQ(text.Color(), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(text.Font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(text.Font().pointSize(), 10);
    EXPECT_EQ(text.FontColor(), QColor(Qt::black));
    EXPECT_EQ(text.size(), QSize(200, 20));
}

TEST(ScrollText, SpeedAndStepsAreKeptWithinTheirLimits)
{
    struct Case {
        int speed, expectedSpeed, steps, expectedSteps;
    };
    for (const Case &c : std::vector<Case>{{0, 1, 0, 1},
                                           {-5, 1, -3, 1},
                                           {1, 1, 1, 1},
                                           {250, 250, 7, 7},
                                           {1000, 1000, 80, 80},
                                           {5000, 1000, 500, 500}}) {
        SCOPED_TRACE(c.speed);
        TScrollText text;
        text.SetSpeed(c.speed);
        text.SetSteps(c.steps);
        EXPECT_EQ(text.Speed(), c.expectedSpeed);
        EXPECT_EQ(text.findChild<QTimer *>()->interval(), c.expectedSpeed);
        EXPECT_EQ(text.Steps(), c.expectedSteps);
        text.TimerTick(); // a pass of any step count draws without fault
    }
}

// Records the events of a control as letters: B begin, S<step> step, E end.
std::vector<std::string> RunTicks(TScrollText &text, int ticks)
{
    std::vector<std::string> events;
    text.OnBegin = [&](TCustomScrollText &) { events.push_back("B"); };
    text.OnStep = [&](TCustomScrollText &t) { events.push_back("S" + std::to_string(t.Step())); };
    text.OnEnd = [&](TCustomScrollText &) { events.push_back("E"); };
    for (int i = 0; i < ticks; ++i)
        text.TimerTick();
    return events;
}

TEST(ScrollText, APassRunsStepsPlusOneTicks)
{
    struct Case {
        int steps;
        bool continuous;
        int ticks;
        std::vector<std::string> tail; // the last events
        bool scrollingAfter;
        int stepAfter;
    };
    for (const Case &c :
         std::vector<Case>{{80, true, 81, {"S80", "S81", "E"}, true, 0},
                           {80, true, 82, {"S81", "E", "B", "S1"}, true, 1},
                           {80, false, 81, {"S80", "S81", "E"}, false, 0},
                           {80, true, 80, {"S79", "S80"}, true, 80},
                           {2, true, 7, {"B", "S1", "S2", "S3", "E", "B", "S1"}, true, 1}}) {
        SCOPED_TRACE(c.ticks);
        TScrollText text;
        text.SetSteps(c.steps);
        text.SetContinuous(c.continuous);
        const std::vector<std::string> events = RunTicks(text, c.ticks);
        ASSERT_GE(events.size(), c.tail.size());
        EXPECT_EQ(events.front(), "B");
        EXPECT_EQ(std::vector<std::string>(events.end() - c.tail.size(), events.end()), c.tail);
        EXPECT_EQ(text.Scrolling(), c.scrollingAfter);
        EXPECT_EQ(text.Step(), c.stepAfter);
    }
}

TEST(ScrollText, StaticStopsAndAMovingDirectionOrContinuousResumes)
{
    TScrollText text;
    RunTicks(text, 30);
    text.SetScrollDirection(sdStatic);
    EXPECT_FALSE(text.Scrolling());
    text.SetScrollDirection(sdTopToBottom);
    EXPECT_TRUE(text.Scrolling());
    EXPECT_EQ(text.Step(), 30); // the pass goes on where it stopped

    text.SetContinuous(false);
    RunTicks(text, 51);
    EXPECT_FALSE(text.Scrolling());
    text.SetContinuous(true);
    EXPECT_TRUE(text.Scrolling());
}

TEST(ScrollText, TheRealTimerDrivesPasses)
{
    TScrollText text;
    text.SetSteps(3);
    text.SetSpeed(0);
    int ends = 0;
    text.OnEnd = [&](TCustomScrollText &) { ++ends; };
    EXPECT_TRUE(testsupport::ProcessEventsUntil([&] { return ends >= 2; }, 10000));
}

TEST(ScrollText, OriginFollowsTheDirectionWithHalvesToEven)
{
    struct Case {
        TScrollDirection direction;
        int step, steps, width, height, textWidth, textHeight;
        QPoint origin;
    };
    for (const Case &c : std::vector<Case>{
             {sdStatic, 40, 80, 200, 20, 100, 16, {50, 2}},
             {sdStatic, 0, 80, 200, 20, 101, 17, {49, 1}}, // odd spare pixels halved downwards
             {sdStatic, 0, 80, 200, 20, 300, 40, {0, 0}},
             {sdRightToLeft, 0, 80, 200, 20, 100, 16, {200, 2}},
             {sdRightToLeft, 80, 80, 200, 20, 100, 16, {-100, 2}},
             {sdRightToLeft, 20, 80, 200, 20, 102, 16, {124, 2}},  // 226.5 -> 226
             {sdRightToLeft, 20, 80, 200, 20, 106, 16, {124, 2}},  // 229.5 -> 230
             {sdRightToLeft, 81, 80, 200, 20, 80, 16, {-84, 2}},   // -3.5 -> -4
             {sdRightToLeft, 3, 2, 4, 20, 1, 16, {-3, 2}},         // -2.5 -> -2
             {sdLeftToRight, 20, 80, 200, 20, 102, 16, {-26, 2}},  // 75.5 -> 76
             {sdLeftToRight, 40, 80, 200, 20, 101, 16, {49, 2}},   // 150.5 -> 150
             {sdTopToBottom, 40, 80, 200, 20, 100, 17, {50, 1}},   // 18.5 -> 18
             {sdTopToBottom, 40, 80, 200, 20, 100, 19, {50, 1}},   // 19.5 -> 20
             {sdBottomToTop, 60, 80, 200, 20, 100, 19, {50, -9}},  // 9.75 -> 10
             {sdBottomToTop, 0, 80, 200, 20, 300, 16, {0, 20}}}) { // wide text starts at 0
        SCOPED_TRACE(testing::Message() << c.direction << " " << c.step << " " << c.textWidth);
        EXPECT_EQ(ScrollTextOrigin(c.direction, c.step, c.steps, c.width, c.height, c.textWidth,
                                   c.textHeight),
                  c.origin);
    }
}

TEST(ScrollText, EffectsWidenEachLineAndEveryChangeRecomputes)
{
    struct Case {
        TTextStyle style;
        int depth, extra;
    };
    TScrollText text;
    text.SetItems({QStringLiteral("one"), QStringLiteral("the widest"), QStringLiteral("x")});
    const int plainHeight = text.LineHeight();
    const int plainWidth = text.TextWidth();
    for (const Case &c : std::vector<Case>{
             {tsNormal, 3, 0}, {tsRaised, 1, 2}, {tsLowered, 3, 6}, {tsShaddow, 3, 3}}) {
        SCOPED_TRACE(c.style);
        text.SetTextStyle(c.style);
        text.SetDepth(c.depth);
        EXPECT_EQ(text.LineHeight(), plainHeight + c.extra);
        EXPECT_EQ(text.TextWidth(), plainWidth + c.extra);
        EXPECT_EQ(text.TextHeight(), 3 * text.LineHeight());
    }
    QFont bigger = text.Font();
    bigger.setPixelSize(40);
    text.SetFont(bigger);
    EXPECT_GT(text.TextWidth(), plainWidth + 3);
    text.SetItems({QStringLiteral("x")});
    EXPECT_EQ(text.TextHeight(), text.LineHeight());
}

// Bounding box of the pixels of one exact colour.
std::optional<QRect> PixelsOf(const QImage &image, QColor color)
{
    std::optional<QRect> box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == color)
                box = box ? box->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
    return box;
}

TEST(ScrollText, EffectsDrawTheSystemColoursAtDepth)
{
    const QColor background(255, 255, 255), ink(255, 0, 0), light(0, 255, 0), dark(0, 0, 255);
    struct Case {
        TTextStyle style;
        int depth;
        std::optional<QPoint> lightShift, darkShift; // against the text's top left / bottom right
    };
    for (const Case &c : std::vector<Case>{{tsNormal, 2, std::nullopt, std::nullopt},
                                           {tsRaised, 2, QPoint(-2, -2), QPoint(2, 2)},
                                           {tsLowered, 3, QPoint(3, 3), QPoint(-3, -3)},
                                           {tsShaddow, 3, std::nullopt, QPoint(3, 3)}}) {
        SCOPED_TRACE(c.style);
        TScrollText text;
        text.SetScrollDirection(sdStatic);
        text.resize(120, 50);
        QPalette colours = text.palette();
        colours.setColor(QPalette::Light, light);
        colours.setColor(QPalette::Dark, dark);
        text.setPalette(colours);
        QFont font = text.Font();
        font.setPixelSize(30);
        font.setStyleStrategy(QFont::NoAntialias);
        text.SetFont(font);
        text.SetColor(background);
        text.SetFontColor(ink);
        text.SetItems({QStringLiteral("HO")});
        text.SetTextStyle(c.style);
        text.SetDepth(c.depth);

        const QImage image = text.grab().toImage();
        const std::optional<QRect> glyphs = PixelsOf(image, ink);
        ASSERT_TRUE(glyphs);
        const std::optional<QRect> lit = PixelsOf(image, light);
        const std::optional<QRect> shaded = PixelsOf(image, dark);
        ASSERT_EQ(lit.has_value(), c.lightShift.has_value());
        ASSERT_EQ(shaded.has_value(), c.darkShift.has_value());
        // The colour drawn towards the top left shows beyond the text's top left corner; the one
        // drawn towards the bottom right beyond its bottom right corner.
        auto shiftOf = [&](const QRect &box, QPoint shift) {
            return shift.x() < 0 ? box.topLeft() - glyphs->topLeft()
                                 : box.bottomRight() - glyphs->bottomRight();
        };
        if (lit) {
            EXPECT_EQ(shiftOf(*lit, *c.lightShift), *c.lightShift);
        }
        if (shaded) {
            EXPECT_EQ(shiftOf(*shaded, *c.darkShift), *c.darkShift);
        }
    }
}

TEST(ScrollText, MovingTextIsDrawnWhereItsOriginSays)
{
    struct Case {
        TScrollDirection direction;
        int step;
        bool visible;
    };
    for (const Case &c : std::vector<Case>{{sdRightToLeft, 0, false},
                                           {sdRightToLeft, 40, true},
                                           {sdLeftToRight, 0, false},
                                           {sdLeftToRight, 80, false},
                                           {sdTopToBottom, 0, false},
                                           {sdBottomToTop, 40, true}}) {
        SCOPED_TRACE(testing::Message() << c.direction << " " << c.step);
        TScrollText text;
        text.SetColor(Qt::white);
        text.SetScrollDirection(c.direction);
        RunTicks(text, c.step);
        const std::optional<QRect> ink = PixelsOf(text.grab().toImage(), Qt::black);
        EXPECT_EQ(ink.has_value(), c.visible);
    }
}

} // namespace
