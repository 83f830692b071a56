// The program's own help window: contexts open at their anchors, the history moves both ways,
// links stay inside or go to the desktop, and a missing manual is reported.

#include "platform/HelpViewer.h"
#include "platform/Help.h"
#include "tests/support/ScriptedBoxes.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QToolButton>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using platform::THelpViewer;

QToolButton *Button(const char *name)
{
    return THelpViewer::Instance()->findChild<QToolButton *>(QString::fromLatin1(name));
}

TEST(HelpViewer, OpensContextsAtTheirAnchorsAndWalksTheHistory)
{
    std::vector<std::string> desktop;
    const auto previous = platform::SetDesktopOpener([&](const std::string &url) {
        desktop.push_back(url);
        return true;
    });
    QTextBrowser *browser = THelpViewer::Instance()->Browser();
    enum Action { Context, Contents, Back, Forward, Home, Link };
    struct Step {
        Action action;
        int context;     // the context to open
        const char *url; // the link to follow
        const char *anchor;
        bool back;
        bool forward;
    };
    const Step steps[] = {
        {Context, 20, nullptr, "context-20", false, false},
        {Context, 210, nullptr, "context-210", true, false},
        {Back, 0, nullptr, "context-20", false, true},
        {Forward, 0, nullptr, "context-210", true, false},
        {Link, 0, "#context-110", "context-110", true, false},
        {Home, 0, nullptr, "", true, false},
        {Back, 0, nullptr, "context-110", true, true},
        // A link out of the manual goes to the desktop and leaves the page alone.
        {Link, 0, "https://support.example/", "context-110", true, true},
        {Contents, 0, nullptr, "", true, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(std::to_string(&step - steps));
        switch (step.action) {
        case Context:
            platform::OpenHelp(platform::HelpContext, step.context);
            break;
        case Contents:
            platform::OpenHelp(platform::HelpFinder, 0);
            break;
        case Back:
            Button("HelpBack")->click();
            break;
        case Forward:
            Button("HelpForward")->click();
            break;
        case Home:
            Button("HelpHome")->click();
            break;
        case Link:
            emit browser->anchorClicked(QUrl(QString::fromLatin1(step.url)));
            break;
        }
        EXPECT_TRUE(THelpViewer::Instance()->isVisible());
        EXPECT_EQ(browser->source().fileName(), QStringLiteral("loader.html"));
        EXPECT_EQ(browser->source().fragment().toStdString(), step.anchor);
        // At an anchor the page is scrolled down to it; the contents are at the top.
        EXPECT_EQ(browser->verticalScrollBar()->value() > 0, *step.anchor != '\0');
        EXPECT_EQ(Button("HelpBack")->isEnabled(), step.back);
        EXPECT_EQ(Button("HelpForward")->isEnabled(), step.forward);
    }
    EXPECT_EQ(desktop, std::vector<std::string>{"https://support.example/"});
    EXPECT_EQ(THelpViewer::Instance(), browser->parent());
    platform::SetDesktopOpener(previous);
    THelpViewer::Instance()->hide();
}

TEST(HelpViewer, MissingManualIsReportedInsteadOfOpeningNothing)
{
    testsupport::ScriptedBoxes boxes;
    const auto previous = platform::SetManualPath("/nonexistent/loader.html");
    THelpViewer::Instance()->hide();
    platform::OpenHelp(platform::HelpContext, 20);
    platform::SetManualPath(previous);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].type, platform::MsgType::Error);
    EXPECT_NE(boxes.Shown()[0].text.find("loader.html was not found"), std::string::npos);
    EXPECT_FALSE(THelpViewer::Instance()->isVisible());
}

} // namespace
