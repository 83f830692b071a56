// The about box (its hidden credits and their colours) and the support box, shown offscreen.

#include "dialogs/FrmAboutLdr.h"
#include "dialogs/FrmSupportBox.h"
#include "dialogs/ScrollText.h"
#include "dialogs/UrlLabel.h"
#include "tests/support/RecordedHelp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <gtest/gtest.h>
#include <vector>

namespace
{

using namespace loader;

void PressPicture(TFrmAboutLdr &box, Qt::MouseButton button, Qt::MouseButtons held,
                  Qt::KeyboardModifiers modifiers, QPoint at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, box.IcnTavrin->mapToGlobal(at), button, held,
                      modifiers);
    QApplication::sendEvent(box.IcnTavrin, &press);
}

TEST(AboutBox, HoldsItsNamedPartsAndStartsWithHiddenCredits)
{
    TFrmAboutLdr box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(box.size(), QSize(344, 185));
    for (const char *name :
         {"IcnTavrin", "LblProductName", "LblProgramName", "LblVersion", "ScrollText", "BtnOK"})
        EXPECT_TRUE(box.findChild<QWidget *>(QString::fromLatin1(name))) << name;
    EXPECT_EQ(box.LblVersion->text(), QStringLiteral("Version 1.00"));
    EXPECT_TRUE(box.BtnOK->isDefault());
    EXPECT_GT(box.IcnTavrin->width(), TFrmAboutLdr::SpotRight); // the spot lies on the picture
    EXPECT_GT(box.IcnTavrin->height(), TFrmAboutLdr::SpotBottom);
    const TScrollText &credits = *box.ScrollText;
    EXPECT_EQ(credits.size(), QSize(189, 20));
    EXPECT_EQ(std::make_tuple(credits.TextStyle(), credits.ScrollDirection(), credits.Scrolling(),
                              credits.isVisibleTo(&box), credits.Font().pixelSize()),
              std::make_tuple(tsLowered, sdStatic, false, false, 13));
}

TEST(AboutBox, OnlyAltAndALeftClickOnTheSpotRevealTheCredits)
{
    struct Case {
        Qt::MouseButtons held; // the button pressed is the left one when it is held
        Qt::KeyboardModifiers modifiers;
        int x, y;
        bool reveals;
    };
    const Qt::MouseButtons left = Qt::LeftButton, right = Qt::RightButton;
    const Qt::KeyboardModifiers alt = Qt::AltModifier;
    for (const Case &c : std::vector<Case>{{left, alt, 110, 100, true},
                                           {left, alt, 106, 104, true},
                                           {left, alt | Qt::ControlModifier, 110, 100, false},
                                           {left, alt | Qt::ShiftModifier, 110, 100, false},
                                           {left, alt | Qt::MetaModifier, 110, 100, false},
                                           {left, Qt::NoModifier, 110, 100, false},
                                           {right, alt, 110, 100, false},
                                           {left | right, alt, 110, 100, false},
                                           {left, alt, 105, 100, false},
                                           {left, alt, 115, 100, false},
                                           {left, alt, 110, 95, false},
                                           {left, alt, 110, 105, false}}) {
        SCOPED_TRACE(testing::Message()
                     << c.x << "," << c.y << " " << c.modifiers << " " << c.held);
        TFrmAboutLdr box;
        box.show();
        PressPicture(box, c.held & left ? Qt::LeftButton : Qt::RightButton, c.held, c.modifiers,
                     {c.x, c.y});
        EXPECT_EQ(box.ScrollText->isVisible(), c.reveals);
        EXPECT_EQ(box.ScrollText->Scrolling(), c.reveals);
    }
}

TEST(AboutBox, EveryShowingStartsWithoutCreditsAndWithTheReleaseVersion)
{
    TFrmAboutLdr box;
    box.show();
    EXPECT_EQ(box.LblVersion->text(), QStringLiteral("Version 1.04"));
    const QRect frame = box.frameGeometry();
    EXPECT_LE((frame.center() - box.screen()->availableGeometry().center()).manhattanLength(), 2);
    PressPicture(box, Qt::LeftButton, Qt::LeftButton, Qt::AltModifier, {110, 100});
    ASSERT_TRUE(box.ScrollText->isVisible());

    box.BtnOK->click();
    EXPECT_EQ(box.result(), QDialog::Accepted);
    box.show();
    EXPECT_FALSE(box.ScrollText->isVisible());
    EXPECT_FALSE(box.ScrollText->Scrolling());
}

TEST(AboutBox, CreditsChangeColourEveryFifthStep)
{
    TFrmAboutLdr box;
    box.show();
    PressPicture(box, Qt::LeftButton, Qt::LeftButton, Qt::AltModifier, {110, 100});
    // Ticks run so far and the colour then; tick 81 ends the pass, tick 86 is the new one's 5th.
    const std::vector<std::pair<int, QRgb>> table = {
        {4, 0x000000},  {5, 0xFF0000},  {9, 0xFF0000},  {10, 0xFFFF00}, {15, 0x00FF00},
        {20, 0x008000}, {25, 0x00FFFF}, {30, 0x000080}, {35, 0x0000FF}, {40, 0x800080},
        {45, 0xFF00FF}, {50, 0x000000}, {55, 0xFF0000}, {85, 0x000080}, {86, 0x0000FF}};
    int done = 0;
    for (const auto &[ticks, rgb] : table) {
        SCOPED_TRACE(ticks);
        for (; done < ticks; ++done)
            box.ScrollText->TimerTick();
        EXPECT_EQ(box.ScrollText->FontColor(), QColor(rgb));
    }
}

TEST(SupportBox, ShowsTheContactLinksAndOpensItsHelpOnF1)
{
    testsupport::RecordedHelp help;
    TFrmSupportBox box;
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Techical Support"));
    EXPECT_EQ(box.size(), QSize(344, 185));
    EXPECT_TRUE(box.BtnSupportOK->isDefault());
    for (const TUrlLabel *link : {box.UrlEmail, box.UrlWeb}) {
        EXPECT_TRUE(link->text().endsWith(QStringLiteral(".example")));
        EXPECT_TRUE(link->URL().contains(link->text()));
    }
    EXPECT_TRUE(box.UrlEmail->URL().startsWith(QStringLiteral("mailto:")));

    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&box, &f1);
    EXPECT_EQ(help.Requests(),
              (std::vector<testsupport::HelpRequest>{
                  {"loader.hlp", platform::HelpContext, platform::AboutHelpContext}}));

    box.BtnSupportOK->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

} // namespace
