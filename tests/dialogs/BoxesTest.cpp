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
    for (const char *name : {"Panel1", "IcnTavrin", "LblProductName", "LblProgramName",
                             "LblVersion", "ScrollText", "BtnOK"})
        EXPECT_TRUE(box.findChild<QWidget *>(QString::fromLatin1(name))) << name;
    EXPECT_EQ(box.LblProductName->text(), QStringLiteral("RS232"));
    EXPECT_EQ(box.LblVersion->text(), QStringLiteral("Version 1.00"));
    EXPECT_TRUE(box.BtnOK->isDefault());
    // The secret spot lies inside the picture.
    EXPECT_GT(box.IcnTavrin->width(), TFrmAboutLdr::SpotRight);
    EXPECT_GT(box.IcnTavrin->height(), TFrmAboutLdr::SpotBottom);

    TScrollText &credits = *box.ScrollText;
    EXPECT_EQ(credits.size(), QSize(189, 20));
    EXPECT_EQ(credits.TextStyle(), tsLowered);
    EXPECT_EQ(credits.Font().pixelSize(), 13);
    EXPECT_EQ(credits.ScrollDirection(), sdStatic);
    EXPECT_FALSE(credits.Scrolling());
    EXPECT_FALSE(credits.isVisibleTo(&box));
}

TEST(AboutBox, OnlyAltAndALeftClickOnTheSpotRevealTheCredits)
{
    struct Case {
        Qt::MouseButton button;
        Qt::MouseButtons held;
        Qt::KeyboardModifiers modifiers;
        QPoint at;
        bool reveals;
    };
    const Qt::MouseButtons left = Qt::LeftButton;
    for (const Case &c : std::vector<Case>{
             {Qt::LeftButton, left, Qt::AltModifier, {110, 100}, true},
             {Qt::LeftButton, left, Qt::AltModifier, {106, 104}, true},
             {Qt::LeftButton, left, Qt::AltModifier | Qt::ControlModifier, {110, 100}, false},
             {Qt::LeftButton, left, Qt::AltModifier | Qt::ShiftModifier, {110, 100}, false},
             {Qt::LeftButton, left, Qt::AltModifier | Qt::MetaModifier, {110, 100}, false},
             {Qt::LeftButton, left, Qt::NoModifier, {110, 100}, false},
             {Qt::RightButton, Qt::RightButton, Qt::AltModifier, {110, 100}, false},
             {Qt::LeftButton, left | Qt::RightButton, Qt::AltModifier, {110, 100}, false},
             {Qt::LeftButton, left, Qt::AltModifier, {105, 100}, false},
             {Qt::LeftButton, left, Qt::AltModifier, {115, 100}, false},
             {Qt::LeftButton, left, Qt::AltModifier, {110, 95}, false},
             {Qt::LeftButton, left, Qt::AltModifier, {110, 105}, false}}) {
        SCOPED_TRACE(testing::Message() << c.at.x() << "," << c.at.y() << " " << c.modifiers);
        TFrmAboutLdr box;
        box.show();
        PressPicture(box, c.button, c.held, c.modifiers, c.at);
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
    struct Case {
        int ticks;
        QColor color;
    };
    TFrmAboutLdr box;
    box.show();
    PressPicture(box, Qt::LeftButton, Qt::LeftButton, Qt::AltModifier, {110, 100});
    int done = 0;
    for (const Case &c : std::vector<Case>{{4, Qt::black},
                                           {5, QColor(255, 0, 0)},
                                           {9, QColor(255, 0, 0)},
                                           {10, QColor(255, 255, 0)},
                                           {15, QColor(0, 255, 0)},
                                           {20, QColor(0, 128, 0)},
                                           {45, QColor(255, 0, 255)},
                                           {50, QColor(0, 0, 0)},
                                           {55, QColor(255, 0, 0)},
                                           {85, QColor(0, 0, 128)},    // 81: a new pass
                                           {86, QColor(0, 0, 255)}}) { // its fifth step
        SCOPED_TRACE(c.ticks);
        for (; done < c.ticks; ++done)
            box.ScrollText->TimerTick();
        EXPECT_EQ(box.ScrollText->FontColor(), c.color);
    }
}

TEST(SupportBox, ShowsTheContactLinksAndOpensItsHelpOnF1)
{
    testsupport::RecordedHelp help;
    TFrmSupportBox box;
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Techical Support"));
    EXPECT_EQ(box.size(), QSize(344, 185));
    EXPECT_EQ(box.IcnSupport->size(), QSize(41, 41));
    EXPECT_TRUE(box.BtnSupportOK->isDefault());
    for (const TUrlLabel *link : {box.UrlEmail, box.UrlWeb}) {
        EXPECT_TRUE(link->text().endsWith(QStringLiteral(".example")));
        EXPECT_TRUE(link->URL().contains(link->text()));
    }
    EXPECT_TRUE(box.UrlEmail->URL().startsWith(QStringLiteral("mailto:")));

    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&box, &f1);
    EXPECT_EQ(help.Requests(),
              (std::vector<testsupport::HelpRequest>{{"loader.hlp", platform::HelpContext, 10}}));

    box.BtnSupportOK->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

} // namespace
