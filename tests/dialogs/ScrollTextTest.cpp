// The scrolling text: property limits, the pass of ticks and its events, the position of the text
// in every direction, and the 3-D effects as drawn.

#include "dialogs/ScrollText.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace
{

using namespace loader;
using Events = std::vector<std::string>;

TEST(ScrollText, StartsWithItsDefaultsAndMoving)
{
    TScrollText text;
    EXPECT_EQ(text.Items(), QStringList{QStringLiteral("ScrollText")});
    EXPECT_EQ(std::make_tuple(text.Steps(), text.Speed(), text.Continuous(), text.Depth()),
              std::make_tuple(80, 100, true, 1));
    EXPECT_EQ(std::make_tuple(text.ScrollDirection(), text.TextStyle(), text.Alignment()),
              std::make_tuple(sdRightToLeft, tsNormal, taCenter));
    EXPECT_TRUE(text.Scrolling());
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

// Runs ticks and records the events: B begin, S<step> step, E end.
Events RunTicks(TScrollText &text, int ticks)
{
    Events events;
    text.OnBegin = [&](TCustomScrollText &) { events.push_back("B"); };
    text.OnStep = [&](TCustomScrollText &t) { events.push_back("S" + std::to_string(t.Step())); };
    text.OnEnd = [&](TCustomScrollText &) { events.push_back("E"); };
    for (int i = 0; i < ticks; ++i)
        text.TimerTick();
    text.OnBegin = text.OnStep = text.OnEnd = nullptr;
    return events;
}

TEST(ScrollText, APassRunsStepsPlusOneTicks)
{
    struct Case {
        int steps;
        bool continuous;
        int ticks;
        Events tail; // the last events
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
        const Events events = RunTicks(text, c.ticks);
        ASSERT_GE(events.size(), c.tail.size());
        EXPECT_EQ(events.front(), "B");
        EXPECT_EQ(Events(events.end() - c.tail.size(), events.end()), c.tail);
        EXPECT_EQ(text.Scrolling(), c.scrollingAfter);
        EXPECT_EQ(text.Step(), c.stepAfter);
    }
}

TEST(ScrollText, StaticStopsAndAMovingDirectionOrContinuousResumesOnTheTimer)
{
    TScrollText text;
    RunTicks(text, 30);
    text.SetScrollDirection(sdStatic);
    EXPECT_FALSE(text.Scrolling());
    text.SetContinuous(false);
    EXPECT_FALSE(text.Scrolling());
    text.SetScrollDirection(sdTopToBottom);
    EXPECT_EQ(text.Step(), 30);
    text.SetSpeed(0);
    // The pass goes on where it stopped, now on the control's own timer, and stays ended.
    EXPECT_TRUE(testsupport::ProcessEventsUntil([&] { return !text.Scrolling(); }, 10000));
    EXPECT_EQ(text.Step(), 0);
    text.SetContinuous(true);
    EXPECT_TRUE(text.Scrolling());
}

TEST(ScrollText, OriginFollowsTheDirectionWithHalvesToEven)
{
    struct Case {
        TScrollDirection direction;
        int step, steps, width, textWidth, textHeight;
        QPoint origin;
    };
    // The control is 20 pixels high in every row.
    for (const Case &c : std::vector<Case>{
             {sdStatic, 40, 80, 200, 100, 16, {50, 2}},
             {sdStatic, 0, 80, 200, 101, 17, {49, 1}}, // odd spare pixels halved downwards
             {sdStatic, 0, 80, 200, 300, 40, {0, 0}},
             {sdRightToLeft, 0, 80, 200, 100, 16, {200, 2}},
             {sdRightToLeft, 80, 80, 200, 100, 16, {-100, 2}},
             {sdRightToLeft, 20, 80, 200, 102, 16, {124, 2}}, // 226.5 -> 226
             {sdRightToLeft, 20, 80, 200, 106, 16, {124, 2}}, // 229.5 -> 230
             {sdRightToLeft, 81, 80, 200, 80, 16, {-84, 2}},  // -3.5 -> -4
             {sdRightToLeft, 3, 2, 4, 1, 16, {-3, 2}},        // -2.5 -> -2
             {sdLeftToRight, 20, 80, 200, 102, 16, {-26, 2}}, // 75.5 -> 76
             {sdLeftToRight, 40, 80, 200, 101, 16, {49, 2}},  // 150.5 -> 150
             {sdTopToBottom, 40, 80, 200, 100, 17, {50, 1}},  // 18.5 -> 18
             {sdTopToBottom, 40, 80, 200, 100, 19, {50, 1}},  // 19.5 -> 20
             {sdBottomToTop, 60, 80, 200, 100, 19, {50, -9}}, // 9.75 -> 10
             {sdBottomToTop, 0, 80, 200, 300, 16, {0, 20}}}) {
        SCOPED_TRACE(testing::Message() << c.direction << " " << c.step << " " << c.textWidth);
        EXPECT_EQ(
            ScrollTextOrigin(c.direction, c.step, c.steps, c.width, 20, c.textWidth, c.textHeight),
            c.origin);
    }
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

// Two lines in red on white without antialiasing; highlight green, shadow blue.
void Prepare(TScrollText &text, TTextStyle style, int depth)
{
    text.SetScrollDirection(sdStatic);
    text.resize(120, 80);
    QPalette colours = text.palette();
    colours.setColor(QPalette::Light, Qt::green);
    colours.setColor(QPalette::Dark, Qt::blue);
    text.setPalette(colours);
    QFont font = text.Font();
    font.setPixelSize(24);
    font.setStyleStrategy(QFont::NoAntialias);
    text.SetFont(font);
    text.SetColor(Qt::white);
    text.SetFontColor(Qt::red);
    text.SetItems({QStringLiteral("HO"), QStringLiteral("H")});
    text.SetTextStyle(style);
    text.SetDepth(depth);
}

TEST(ScrollText, EffectsWidenTheLinesAndDrawTheSystemColoursAtDepth)
{
    struct Case {
        TTextStyle style;
        int depth, extra;
        std::optional<QPoint> lightShift, darkShift; // against the text's top left / bottom right
    };
    TScrollText plain;
    Prepare(plain, tsNormal, 0);
    for (const Case &c : std::vector<Case>{{tsNormal, 2, 0, std::nullopt, std::nullopt},
                                           {tsRaised, 2, 4, QPoint(-2, -2), QPoint(2, 2)},
                                           {tsLowered, 3, 6, QPoint(3, 3), QPoint(-3, -3)},
                                           {tsShaddow, 3, 3, std::nullopt, QPoint(3, 3)}}) {
        SCOPED_TRACE(c.style);
        TScrollText text;
        Prepare(text, c.style, c.depth);
        EXPECT_EQ(text.LineHeight(), plain.LineHeight() + c.extra);
        EXPECT_EQ(text.TextWidth(), plain.TextWidth() + c.extra);
        EXPECT_EQ(text.TextHeight(), 2 * text.LineHeight());

        const QImage image = text.grab().toImage();
        const std::optional<QRect> glyphs = PixelsOf(image, Qt::red);
        ASSERT_TRUE(glyphs);
        // The colour drawn towards the top left shows beyond the text's top left corner; the one
        // drawn towards the bottom right beyond its bottom right corner.
        auto check = [&](QColor color, std::optional<QPoint> shift) {
            const std::optional<QRect> box = PixelsOf(image, color);
            ASSERT_EQ(box.has_value(), shift.has_value());
            if (box) {
                EXPECT_EQ(shift->x() < 0 ? box->topLeft() - glyphs->topLeft()
                                         : box->bottomRight() - glyphs->bottomRight(),
                          *shift);
            }
        };
        check(Qt::green, c.lightShift);
        check(Qt::blue, c.darkShift);
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
                                           {sdLeftToRight, 80, false},
                                           {sdTopToBottom, 0, false},
                                           {sdBottomToTop, 40, true}}) {
        SCOPED_TRACE(testing::Message() << c.direction << " " << c.step);
        TScrollText text;
        text.SetColor(Qt::white);
        text.SetScrollDirection(c.direction);
        RunTicks(text, c.step);
        EXPECT_EQ(PixelsOf(text.grab().toImage(), Qt::black).has_value(), c.visible);
    }
}

} // namespace
