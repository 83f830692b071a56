#include "dialogs/UrlLabel.h"

#include "platform/MessageBox.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QUrl>
#include <utility>

namespace loader
{
namespace
{

TUrlLabel::TUrlOpener &Opener()
{
    static TUrlLabel::TUrlOpener opener;
    return opener;
}

// The toolkit tells why it could not open a link only as a warning on standard error: while it
// tries, its last warning is kept (and still passed on).
QString lastWarning;
QtMessageHandler passOn = nullptr;

void KeepWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        lastWarning = message;
    if (passOn)
        passOn(type, context, message);
}

// fromUserInput keeps full links ("mailto:...", "https://...") as they are and reads a bare
// "www." address as a web page, as the desktop shell does.
QString OpenOnDesktop(const QString &target)
{
    lastWarning.clear();
    passOn = qInstallMessageHandler(KeepWarning);
    const bool opened = QDesktopServices::openUrl(QUrl::fromUserInput(target));
    qInstallMessageHandler(passOn);
    passOn = nullptr;
    if (opened)
        return {};
    return lastWarning.isEmpty()
               ? QStringLiteral("No program on this desktop is set up to open it.")
               : lastWarning;
}

bool Blank(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace

TUrlLabel::TUrlLabel(QWidget *parent) : TUrlLabel(QString(), parent) {}

TUrlLabel::TUrlLabel(const QString &caption, QWidget *parent)
    : QLabel(caption, parent), activeColor_(128, 0, 128)
{
    setTextFormat(Qt::PlainText);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    SetFontColor(QColor(0, 0, 255));
    setCursor(Qt::PointingHandCursor);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    MnuItmCopy = PopupMenu->addAction(QStringLiteral("Copy"));
    MnuItmCopy->setObjectName(QStringLiteral("MnuItmCopy"));
    connect(MnuItmCopy, &QAction::triggered, this, &TUrlLabel::CopyClick);
}

QColor TUrlLabel::FontColor() const
{
    return palette().color(QPalette::WindowText);
}

void TUrlLabel::SetFontColor(const QColor &color)
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, color);
    setPalette(colours);
}

QString TUrlLabel::Target() const
{
    const QString target = Blank(url_) ? text() : url_;
    return Blank(target) ? QString() : target;
}

void TUrlLabel::Click()
{
    const QString target = Target();
    if (target.isEmpty())
        return;
    const TUrlOpener &opener = Opener();
    const QString reason = opener ? opener(target) : OpenOnDesktop(target);
    if (reason.isEmpty())
        return;
    // The box's text can be selected, so the address can be copied into a browser by hand.
    const QString text =
        QStringLiteral("The link could not be opened:\r") + target + u'\r' + reason;
    const QByteArray bytes = text.toLatin1();
    platform::ShowMessage(platform::MsgType::Warning, bytes.toStdString(),
                          platform::MsgButtons::Ok);
}

void TUrlLabel::CopyClick()
{
    QGuiApplication::clipboard()->setText(text());
}

TUrlLabel::TUrlOpener TUrlLabel::SetOpener(TUrlOpener opener)
{
    return std::exchange(Opener(), std::move(opener));
}

void TUrlLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !pressed_) {
        storedColor_ = FontColor();
        pressed_ = true;
        SetFontColor(activeColor_);
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

// Only a release that ends a press here restores the colour, and only one over the label clicks.
void TUrlLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        SetFontColor(storedColor_);
        if (rect().contains(event->position().toPoint()))
            Click();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void TUrlLabel::contextMenuEvent(QContextMenuEvent *event)
{
    PopupMenu->popup(event->globalPos());
}

} // namespace loader
