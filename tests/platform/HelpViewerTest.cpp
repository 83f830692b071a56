// The help window: contexts open at their anchors, the history walks both ways, and links stay
// inside the manual or go to the desktop.

#include "platform/HelpViewer.h"
#include "platform/Help.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QToolButton>
#include <gtest/gtest.h>

TEST(HelpViewer, OpensContextsAtTheirAnchorsAndWalksTheHistory)
{
    std::vector<std::string> desktop;
    const auto previous = platform::SetDesktopOpener([&](const std::string &url) {
        desktop.push_back(url);
        return true;
    });
    platform::THelpViewer *viewer = platform::THelpViewer::Instance();
    const auto button = [&](const char *name) {
        return viewer->findChild<QToolButton *>(QString::fromLatin1(name));
    };
    // Each step: a context to open (-1: Help Topics), a button to press or a link to follow;
    // then the anchor shown and whether Back and Forward are enabled.
    struct Step {
        int context;
        const char *button;
        const char *link;
        const char *anchor;
        bool back, forward;
    };
    const Step steps[] = {
        {platform::MainWindowHelpContext, nullptr, nullptr, "context-20", false, false},
        {platform::RS232HelpContext, nullptr, nullptr, "context-210", true, false},
        {0, "HelpBack", nullptr, "context-20", false, true},
        {0, "HelpForward", nullptr, "context-210", true, false},
        {0, nullptr, "#context-110", "context-110", true, false},
        {0, "HelpHome", nullptr, "", true, false},
        {0, "HelpBack", nullptr, "context-110", true, true},
        {0, nullptr, "https://support.example/", "context-110", true, true},
        {-1, nullptr, nullptr, "", true, false},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(&s - steps);
        if (s.button)
            button(s.button)->click();
        else if (s.link)
            emit viewer->Browser()->anchorClicked(QUrl(QString::fromLatin1(s.link)));
        else if (s.context < 0)
            platform::OpenHelp(platform::HelpFinder, 0);
        else
            platform::OpenHelp(platform::HelpContext, s.context);
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->Browser()->source().fileName(), QStringLiteral("loader.html"));
        EXPECT_EQ(viewer->Browser()->source().fragment().toStdString(), s.anchor);
        // At an anchor the page is scrolled down to it; the contents are at the top.
        EXPECT_EQ(viewer->Browser()->verticalScrollBar()->value() > 0, *s.anchor != '\0');
        EXPECT_EQ(button("HelpBack")->isEnabled(), s.back);
        EXPECT_EQ(button("HelpForward")->isEnabled(), s.forward);
    }
    EXPECT_EQ(desktop, std::vector<std::string>{"https://support.example/"});
    platform::SetDesktopOpener(previous);
    viewer->hide();
}
