#pragma once
// A label that is a link: a click opens its URL (or, when that is blank, its caption) with the
// desktop's default handler, a mail program for "mailto:" links and the web browser for pages.
// While the left button is down the text takes the active colour; a pop-up menu copies the
// caption. When the desktop has no program for the link, a box shows the address and the reason,
// so the operator can copy it from there.

#include <QColor>
#include <QLabel>
#include <functional>

class QAction;
class QMenu;

namespace loader
{

class TUrlLabel : public QLabel
{
    Q_OBJECT

  public:
    // Hands a link target to the desktop and returns why it could not, or nothing when it could;
    // tests replace it to see what would be opened.
    using TUrlOpener = std::function<QString(const QString &target)>;

    explicit TUrlLabel(QWidget *parent = nullptr);
    explicit TUrlLabel(const QString &caption, QWidget *parent = nullptr);

    QString URL() const { return url_; }
    void SetURL(const QString &url) { url_ = url; }
    QColor ActiveColor() const { return activeColor_; }
    void SetActiveColor(const QColor &color) { activeColor_ = color; }
    QColor FontColor() const;
    void SetFontColor(const QColor &color);

    // What a click opens: URL, or the caption when URL is blank; empty when that is blank too.
    QString Target() const;
    // Opens Target() unchanged, unless it is empty; says so in a box when that fails.
    void Click();
    // The pop-up item: the caption goes to the clipboard as text.
    void CopyClick();

    // Installs an opener (empty restores the desktop's) and returns the one it replaces.
    static TUrlOpener SetOpener(TUrlOpener opener);

    QMenu *PopupMenu;
    QAction *MnuItmCopy;

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

  private:
    QString url_;
    QColor activeColor_;
    QColor storedColor_; // the font colour while the left button is down
    bool pressed_ = false;
};

} // namespace loader
