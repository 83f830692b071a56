#include "dialogs/FrmSupportBox.h"

#include "dialogs/InfoBox.h"
#include "dialogs/Pictures.h"
#include "dialogs/UrlLabel.h"
#include "platform/Help.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace loader
{
namespace
{

// The maker's contact data. Only the reserved ".example" domain and a 555-01xx number are used.
const char *const MakerName = "Tavrin Research, Inc.";
const char *const Street = "4410 Foundry Lane, Suite 12";
const char *const City = "Port Halden, OR 97000";
const char *const Phone = "Tel. +1 (503) 555-0142";
const char *const EmailCaption = "support@tavrin-research.example";
const char *const EmailLink = "mailto:support@tavrin-research.example";
const char *const WebCaption = "www.tavrin-research.example";
const char *const WebLink = "https://www.tavrin-research.example/support";

TUrlLabel *MakeLink(QWidget *parent, const char *name, const char *caption, const char *link,
                    QRect geometry)
{
    auto *label = new TUrlLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->SetURL(QString::fromLatin1(link));
    label->setGeometry(geometry);
    return label;
}

} // namespace

TFrmSupportBox::TFrmSupportBox(QWidget *parent) : QDialog(parent)
{
    SetUpInfoBox(*this, "FrmSupportBox", "Techical Support");
    setProperty(platform::HelpContextProperty, platform::AboutHelpContext);

    CreatePanel();
    BtnSupportOK = AddOkButton(*this, "BtnSupportOK");
}

void TFrmSupportBox::CreatePanel()
{
    Panel1 = AddPanel(*this, QFrame::Raised);
    IcnSupport = MakePicture(Panel1, "IcnSupport", SupportPicture(), QRect(12, 12, 41, 41));
    IcnSupport->setScaledContents(true);

    LblMaker =
        MakeLabel(Panel1, "LblMaker", QString::fromLatin1(MakerName), QRect(66, 10, 254, 20), true);
    LblStreet = MakeLabel(Panel1, "LblStreet", QString::fromLatin1(Street), QRect(66, 30, 254, 18));
    LblCity = MakeLabel(Panel1, "LblCity", QString::fromLatin1(City), QRect(66, 47, 254, 18));
    LblPhone = MakeLabel(Panel1, "LblPhone", QString::fromLatin1(Phone), QRect(66, 64, 254, 18));

    LblEmail = MakeLabel(Panel1, "LblEmail", QStringLiteral("E-Mail :"), QRect(12, 90, 54, 18));
    UrlEmail = MakeLink(Panel1, "UrlEmail", EmailCaption, EmailLink, QRect(66, 90, 254, 18));
    LblWeb = MakeLabel(Panel1, "LblWeb", QStringLiteral("Web :"), QRect(12, 108, 54, 18));
    UrlWeb = MakeLink(Panel1, "UrlWeb", WebCaption, WebLink, QRect(66, 108, 254, 18));
}

void TFrmSupportBox::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        CentreOnScreen(*this);
    }
    QDialog::showEvent(event);
}

void TFrmSupportBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        platform::OpenHelp(platform::HelpContext, platform::AboutHelpContext);
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace loader
