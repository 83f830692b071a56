#include "dialogs/InfoBox.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace loader
{

void SetUpInfoBox(QDialog &box, const char *name, const char *caption)
{
    box.setObjectName(QString::fromLatin1(name));
    box.setWindowTitle(QString::fromLatin1(caption));
    box.setFixedSize(InfoBoxWidth, InfoBoxHeight);
    box.setSizeGripEnabled(false);
    QFont text = box.font();
    text.setPixelSize(InfoBoxFontPixels);
    box.setFont(text);
}

QPushButton *AddOkButton(QDialog &box, const char *name)
{
    auto *button = new QPushButton(QStringLiteral("OK"), &box);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefault(true);
    button->setGeometry(134, 152, 75, 25);
    QObject::connect(button, &QPushButton::clicked, &box, &QDialog::accept);
    return button;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, QRect geometry, bool bold)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->setGeometry(geometry);
    return label;
}

QFrame *AddPanel(QDialog &box, int shadow)
{
    auto *panel = new QFrame(&box);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | shadow);
    panel->setGeometry(8, 8, 328, 136);
    return panel;
}

QLabel *MakePicture(QWidget *parent, const char *name, const QPixmap &picture, QRect geometry)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(picture);
    label->setGeometry(geometry);
    return label;
}

void CentreOnScreen(QDialog &box)
{
    if (const QScreen *screen = box.screen()) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        box.move(frame.topLeft());
    }
}

} // namespace loader
