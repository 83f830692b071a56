#include "dialogs/FrmAboutLdr.h"

#include "dialogs/InfoBox.h"
#include "dialogs/Pictures.h"
#include "dialogs/ScrollText.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <array>

namespace loader
{
namespace
{

// The credits cycle through these colours of the standard 16-colour palette.
const std::array<QColor, 10> CreditColors = {
    QColor(0, 0, 0),     // black
    QColor(255, 0, 0),   // red
    QColor(255, 255, 0), // yellow
    QColor(0, 255, 0),   // lime
    QColor(0, 128, 0),   // green
    QColor(0, 255, 255), // aqua
    QColor(0, 0, 128),   // navy
    QColor(0, 0, 255),   // blue
    QColor(128, 0, 128), // purple
    QColor(255, 0, 255), // fuchsia
};
constexpr int StepsPerColor = 5;

} // namespace

TFrmAboutLdr::TFrmAboutLdr(QWidget *parent) : QDialog(parent)
{
    SetUpInfoBox(*this, "FrmAboutLdr", "About");

    CreatePanel();
    BtnOK = AddOkButton(*this, "BtnOK");

    FormCreate();
}

void TFrmAboutLdr::CreatePanel()
{
    Panel1 = AddPanel(*this, QFrame::Sunken);
    IcnTavrin = MakePicture(Panel1, "IcnTavrin", TavrinPicture(), QRect(8, 13, 120, 110));
    IcnTavrin->installEventFilter(this);

    LblProductName =
        MakeLabel(Panel1, "LblProductName", QStringLiteral("RS232"), QRect(138, 10, 182, 20), true);
    LblProgramName = MakeLabel(Panel1, "LblProgramName", QStringLiteral("Flash File Loader"),
                               QRect(138, 30, 182, 20), true);
    LblVersion =
        MakeLabel(Panel1, "LblVersion", QStringLiteral("Version 1.00"), QRect(138, 54, 182, 18));
    LblCopyright =
        MakeLabel(Panel1, "LblCopyright", QStringLiteral("\u00a9 2026 Tavrin Research, Inc."),
                  QRect(138, 76, 182, 18));
    LblNotice = MakeLabel(Panel1, "LblNotice", QStringLiteral("All rights reserved."),
                          QRect(138, 92, 182, 18));

    ScrollText = new TScrollText(Panel1);
    ScrollText->setObjectName(QStringLiteral("ScrollText"));
    ScrollText->setGeometry(134, 112, 189, 20);
    ScrollText->SetScrollDirection(sdStatic);
    ScrollText->SetTextStyle(tsLowered);
    ScrollText->SetSteps(80);
    ScrollText->SetSpeed(100);
    ScrollText->SetContinuous(true);
    QFont font = ScrollText->Font();
    font.setPixelSize(13);
    ScrollText->SetFont(font);
    ScrollText->SetAlignment(taCenter);
    ScrollText->SetItems(
        {QStringLiteral("Written by the founding engineers of Tavrin Research, Inc.")});
    ScrollText->OnStep = [this](TCustomScrollText &) { ScrollTextStep(); };
}

void TFrmAboutLdr::FormCreate()
{
    colorIndex_ = 0;
    ScrollText->hide();
}

void TFrmAboutLdr::FormShow()
{
    ScrollText->SetScrollDirection(sdStatic);
    LblVersion->setText(QStringLiteral("Version 1.04"));
}

// The credits need the gesture again at every showing. They stop here too, so a closed box
// does not keep a timer running until it is next shown.
void TFrmAboutLdr::FormClose()
{
    ScrollText->hide();
    ScrollText->SetScrollDirection(sdStatic);
}

void TFrmAboutLdr::IcnTavrinMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                                      Qt::KeyboardModifiers modifiers, QPoint position)
{
    const bool onlyAltAndLeft = button == Qt::LeftButton && buttons == Qt::LeftButton &&
                                (modifiers & ~Qt::KeypadModifier) == Qt::AltModifier;
    const bool onSpot = position.x() > SpotLeft && position.x() < SpotRight &&
                        position.y() > SpotTop && position.y() < SpotBottom;
    if (!onlyAltAndLeft || !onSpot)
        return;
    ScrollText->show();
    ScrollText->SetScrollDirection(sdRightToLeft);
}

void TFrmAboutLdr::ScrollTextStep()
{
    if (ScrollText->Step() % StepsPerColor != 0)
        return;
    colorIndex_ = (colorIndex_ + 1) % int(CreditColors.size());
    ScrollText->SetFontColor(CreditColors[colorIndex_]);
}

void TFrmAboutLdr::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        CentreOnScreen(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TFrmAboutLdr::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        FormClose();
    QDialog::hideEvent(event);
}

bool TFrmAboutLdr::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == IcnTavrin && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        IcnTavrinMouseDown(press->button(), press->buttons(), press->modifiers(),
                           press->position().toPoint());
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace loader
