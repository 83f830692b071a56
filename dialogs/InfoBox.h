#pragma once
// What the about and support boxes share: a fixed 344 x 185 client area with a fixed text size
// (the parts sit at fixed places, so larger desktop fonts must not clip them), plain-text labels,
// a default OK button below the panel, and centring on the screen at every showing.

#include <QRect>
#include <QString>

class QDialog;
class QFrame;
class QPixmap;
class QLabel;
class QPushButton;
class QWidget;

namespace loader
{

constexpr int InfoBoxWidth = 344;
constexpr int InfoBoxHeight = 185;
constexpr int InfoBoxFontPixels = 12;

// Names the box, sets its caption, its fixed size and its text size.
void SetUpInfoBox(QDialog &box, const char *name, const char *caption);
// The default OK button that accepts the box.
QPushButton *AddOkButton(QDialog &box, const char *name);
QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, QRect geometry,
                  bool bold = false);
void CentreOnScreen(QDialog &box);
// The framed panel at the top of the box (sunken or raised) and a picture on it.
QFrame *AddPanel(QDialog &box, int shadow);
QLabel *MakePicture(QWidget *parent, const char *name, const QPixmap &picture, QRect geometry);

} // namespace loader
