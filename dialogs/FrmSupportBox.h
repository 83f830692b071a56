#pragma once
// The technical support box: the maker's address and telephone, and two links that open a mail
// to support and the support web page. F1 opens the manual at the box's help context.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace loader
{

class TUrlLabel;

class TFrmSupportBox : public QDialog
{
    Q_OBJECT

  public:
    explicit TFrmSupportBox(QWidget *parent = nullptr);

    QFrame *Panel1;
    QLabel *IcnSupport;
    QLabel *LblMaker;
    QLabel *LblStreet;
    QLabel *LblCity;
    QLabel *LblPhone;
    QLabel *LblEmail;
    TUrlLabel *UrlEmail;
    QLabel *LblWeb;
    TUrlLabel *UrlWeb;
    QPushButton *BtnSupportOK;

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void CreatePanel();
};

} // namespace loader
