#include "platform/HelpViewer.h"

#include "platform/Help.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QScrollBar>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace platform
{
namespace
{

QToolButton *Button(QWidget *parent, const char *name, const char *text, const char *tip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(QString::fromLatin1(text));
    button->setToolTip(QString::fromLatin1(tip));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

} // namespace

THelpViewer::THelpViewer(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Loader Help"));
    // Help left open must not keep the program running once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(720, 560);

    back_ = Button(this, "HelpBack", "&Back", "Previous page");
    forward_ = Button(this, "HelpForward", "&Forward", "Next page");
    home_ = Button(this, "HelpHome", "&Contents", "The manual's contents");
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    // Links are followed here: pages of the manual inside, everything else on the desktop.
    browser_->setOpenLinks(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home_);
    buttons->addStretch();
    auto *column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(browser_);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(home_, &QToolButton::clicked, this, &THelpViewer::Home);
    connect(browser_, &QTextBrowser::anchorClicked, this, &THelpViewer::FollowLink);
    connect(browser_, &QTextBrowser::historyChanged, this, &THelpViewer::UpdateButtons);
    UpdateButtons();
}

void THelpViewer::ShowPage(const QUrl &page)
{
    // A modal dialog (the settings, the support box) blocks every window but its own: while one
    // is up the viewer becomes one of its windows, so the help the dialog asked for can be read.
    QWidget *modal = QApplication::activeModalWidget();
    QWidget *owner = modal && modal != this ? modal : nullptr;
    if (parentWidget() != owner) {
        const QRect place = geometry();
        setParent(owner, Qt::Window);
        setGeometry(place);
    }
    if (browser_->source().matches(page, QUrl::None)) {
        // The same page again: setSource would not move, so go to the anchor (or the top).
        if (page.hasFragment())
            browser_->scrollToAnchor(page.fragment());
        else
            browser_->verticalScrollBar()->setValue(0);
    } else {
        browser_->setSource(page);
    }
    show();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void THelpViewer::Home()
{
    ShowPage(browser_->source().adjusted(QUrl::RemoveFragment));
}

void THelpViewer::FollowLink(const QUrl &link)
{
    const QUrl target = browser_->source().resolved(link);
    if (target.isLocalFile())
        ShowPage(target);
    else
        OpenInDesktop(target.toString().toStdString());
}

void THelpViewer::UpdateButtons()
{
    back_->setEnabled(browser_->isBackwardAvailable());
    forward_->setEnabled(browser_->isForwardAvailable());
    home_->setEnabled(!browser_->source().isEmpty());
}

THelpViewer *THelpViewer::Instance()
{
    static QPointer<THelpViewer> viewer;
    if (!viewer) {
        viewer = new THelpViewer;
        // A top-level window without an owner: it goes when the program quits.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, viewer.data(),
                         &QObject::deleteLater);
    }
    return viewer;
}

} // namespace platform
