// The link label: what a click opens, the colour while pressed and the "Copy" item.

#include "dialogs/UrlLabel.h"
#include "tests/support/ScriptedBoxes.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <vector>

namespace
{

using loader::TUrlLabel;

// Records what the labels would open.
class UrlLabelTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        previous = TUrlLabel::SetOpener([this](const QString &t) {
            opened.push_back(t);
            return refusal;
        });
    }
    void TearDown() override { TUrlLabel::SetOpener(previous); }

    TUrlLabel::TUrlOpener previous;
    std::vector<QString> opened;
    QString refusal; // what the opener says when it cannot open; empty: it can
};

void Mouse(QWidget &widget, QEvent::Type type, Qt::MouseButton button, QPointF at = {5, 5})
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

TEST_F(UrlLabelTest, StartsAsABlueUnderlinedLinkWithACopyMenu)
{
    TUrlLabel label(QStringLiteral("caption"));
    EXPECT_EQ(label.FontColor(), QColor(0, 0, 255));
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.ActiveColor(), QColor(128, 0, 128));
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    ASSERT_EQ(label.PopupMenu->actions().size(), 1);
    EXPECT_EQ(label.PopupMenu->actions().front()->text(), QStringLiteral("Copy"));
}

TEST_F(UrlLabelTest, AClickOpensTheUrlOrElseTheCaptionUnchanged)
{
    struct Case {
        const char *caption, *url;
        std::vector<QString> expected;
        QPointF releaseAt;
    };
    for (const Case &c :
         std::vector<Case>{{"www.tavrin.example", "", {"www.tavrin.example"}, {5, 5}},
                           {"www.tavrin.example", " \t ", {"www.tavrin.example"}, {5, 5}},
                           {" www.tavrin.example ", "", {" www.tavrin.example "}, {5, 5}},
                           {"   ", "", {}, {5, 5}},
                           {"Mail us", "mailto:a@b.example", {"mailto:a@b.example"}, {5, 5}},
                           {"Web", " https://b.example/x y ", {" https://b.example/x y "}, {5, 5}},
                           {"www.tavrin.example", "", {}, {-20, 5}}}) { // released off the label
        SCOPED_TRACE(c.caption);
        opened.clear();
        TUrlLabel label(QString::fromLatin1(c.caption));
        label.resize(150, 20);
        label.SetURL(QString::fromLatin1(c.url));
        Mouse(label, QEvent::MouseButtonPress, Qt::LeftButton);
        Mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton, c.releaseAt);
        EXPECT_EQ(opened, c.expected);
    }
}

TEST_F(UrlLabelTest, ThePressedLinkShowsTheActiveColourAndCopiesItsCaption)
{
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        TUrlLabel label(QStringLiteral("support@tavrin.example"));
        label.SetFontColor(Qt::darkRed);
        label.SetActiveColor(Qt::darkGreen);
        Mouse(label, QEvent::MouseButtonPress, button);
        EXPECT_EQ(label.FontColor(), button == Qt::LeftButton ? Qt::darkGreen : Qt::darkRed);
        Mouse(label, QEvent::MouseButtonRelease, button);
        EXPECT_EQ(label.FontColor(), QColor(Qt::darkRed));
    }

    TUrlLabel label(QStringLiteral("support@tavrin.example"));
    label.SetURL(QStringLiteral("mailto:other@tavrin.example"));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    label.MnuItmCopy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("support@tavrin.example"));
}

// Where the desktop cannot open a link, a box gives the address and the reason, for copying.
TEST_F(UrlLabelTest, ALinkThatCannotBeOpenedIsShownWithItsReason)
{
    testsupport::ScriptedBoxes boxes;
    TUrlLabel label(QStringLiteral("www.tavrin.example"));
    label.SetURL(QStringLiteral("https://www.tavrin.example/support"));
    label.Click();
    EXPECT_TRUE(boxes.Shown().empty());

    refusal = QStringLiteral("Unable to detect a web browser");
    label.Click();
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Warning");
    EXPECT_EQ(boxes.Shown()[0].text, "The link could not be opened:\r"
                                     "https://www.tavrin.example/support\r"
                                     "Unable to detect a web browser");
    EXPECT_EQ(opened.size(), 2u);
}

} // namespace
