#pragma once
// The program's own help window: the manual in a text browser, with Back, Forward and Home.
// Help always opens here, even on a machine without a desktop browser.

#include <QWidget>

class QTextBrowser;
class QToolButton;
class QUrl;

namespace platform
{

class THelpViewer : public QWidget
{
    Q_OBJECT

  public:
    explicit THelpViewer(QWidget *parent = nullptr);

    // Shows the page (a local file, with or without an anchor), remembering it in the history.
    void ShowPage(const QUrl &page);
    // The page without its anchor: the manual's contents.
    void Home();

    QTextBrowser *Browser() const { return browser_; }

    // The one viewer of the program, made on first use; later requests reuse and raise it.
    static THelpViewer *Instance();

  private:
    void FollowLink(const QUrl &link);
    void UpdateButtons();

    QTextBrowser *browser_;
    QToolButton *back_;
    QToolButton *forward_;
    QToolButton *home_;
};

} // namespace platform
