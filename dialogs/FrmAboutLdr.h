#pragma once
// The about box: product, program and version with the maker's notices. Its credits line stays
// hidden until Alt and a left click on one spot of the maker's picture reveal it scrolling, and
// hides again when the box closes.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace loader
{

class TScrollText;

class TFrmAboutLdr : public QDialog
{
    Q_OBJECT

  public:
    // The secret spot of the picture: strictly inside these bounds, in picture coordinates.
    static constexpr int SpotLeft = 105, SpotRight = 115, SpotTop = 95, SpotBottom = 105;

    explicit TFrmAboutLdr(QWidget *parent = nullptr);

    // Event handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void IcnTavrinMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                            Qt::KeyboardModifiers modifiers, QPoint position);
    void ScrollTextStep();

    // The position in the credits' colour table of the colour shown now.
    int ColorIndex() const { return colorIndex_; }

    QFrame *Panel1;
    QLabel *IcnTavrin;
    QLabel *LblProductName;
    QLabel *LblProgramName;
    QLabel *LblVersion;
    QLabel *LblCopyright;
    QLabel *LblNotice;
    TScrollText *ScrollText;
    QPushButton *BtnOK;

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void CreatePanel();

    int colorIndex_ = 0;
};

} // namespace loader
