#pragma once
// The main window: the controls that start and cancel an upload run, the two progress gauges,
// the communication/upload status lamp and the menu that reaches every other window. It reads its
// part of loader.ini at creation, sets the working directory, and owns the upload engine that
// runs on the settings dialog's link; it is the engine's view.

#include "app/LoaderSettings.h"
#include "app/UploadEngine.h"
#include "link/LoaderCallbacks.h"
#include "platform/MessageBox.h"

#include <QColor>
#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QEventLoop;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace lights
{
class TApdSLController;
class TApdStatusLight;
} // namespace lights

namespace serial
{
class TDeliveryHold;
} // namespace serial

namespace terminal
{
class TFrmTerminal;
} // namespace terminal

namespace loader
{

class TFrmAboutLdr;
class TFrmGang;
class TFrmS_comm;
class TFrmSupportBox;
class TGauge;

// The lamp's two colours: pure red when idle or failed, dark green while a run goes well.
inline QColor LampRed()
{
    return QColor(255, 0, 0);
}
inline QColor LampGreen()
{
    return QColor(0, 128, 0);
}

class TFrmLoadr : public QMainWindow, public TLoaderCallbacks, private TUploadView
{
    Q_OBJECT

  public:
    // Builds the window and runs FormCreate, which reads loader.ini and may show message boxes.
    explicit TFrmLoadr(QWidget *parent = nullptr);
    ~TFrmLoadr() override;
    TFrmLoadr(const TFrmLoadr &) = delete;
    TFrmLoadr &operator=(const TFrmLoadr &) = delete;

    // Event handlers.
    void FormCreate();
    void FormShow();
    void MnuItmManualUlClick();
    void MnuItmAutoUlClick();
    void HelpTopics1Click();
    void MnuItmExitClick();
    // Open the RS232 terminal window: made on the first request (only with the port open), shown
    // again on later ones.
    void SpdBtnTermClick();
    void MnuItmTermWinClick();
    // Opens the gang upload window: made on the first request, shown again on later ones.
    void MnuItmGangClick();
    void SpdBtnComSetClick();
    void MnuItmRS232Click();
    // Switches the port's dispatch log and trace on, or writes them to their files and ends them.
    void MnuItmLoggingClick();
    // Shows or hides the status lights and starts or stops their controller.
    void MnuItmStatusLghtClick();
    // Show the support or the about box modally.
    void MnuItmSupportClick();
    void MnuItmAboutClick();
    // Runs once, whichever way the window closes: the link leaves upload mode, the port and the
    // upload log close, and the engine takes no further step.
    void FormClose();

    // Starts a run as the button does: in automatic mode with ScriptFileName, in manual mode
    // with the script the operator picks.
    void BtnUploadClick();
    // Asks whether to cancel; a Yes cancels the run.
    void BtnULCancelClick();
    // The engine's cancel and abandon (see TUploadEngine).
    void CancelRun();
    void AbandonTransfer();
    bool Running() const { return Engine->Running(); }

    // Called by the serial settings after every attempt to open the port.
    void SetComBtnState(bool enabled) override;
    // Switches between idle (true) and running (false) mode.
    void SetUploadBtnState(bool idle);
    // The link services' reports, passed on to the engine.
    void SetScriptError() override { Engine->SetScriptError(); }
    void SetULError() override { Engine->SetULError(); }
    void EnableScriptTimer() override { Engine->EnableScriptTimer(); }
    void SetUploadProgress(int percent) override { Engine->SetUploadProgress(percent); }

    void SetComLamp(const QColor &color);
    QColor ComLamp() const;

    // Switches the RS232 terminal on (true) or off (false) while a file goes to the device; set by
    // whoever creates the terminal window. The engine calls it only while TerminalCreated.
    std::function<void(bool active)> SetTerminalActive;

    // Components, named as in the window's layout.
    QMenuBar *MainMenu;
    QMenu *Program1;
    QAction *MnuItmTermWin;
    QAction *MnuItmGang;
    QAction *MnuItmExit;
    QMenu *Configuration1;
    QAction *MnuItmStatusLght;
    QAction *MnuItmRS232;
    QActionGroup *UploadMethodGroup;
    QAction *MnuItmManualUl;
    QAction *MnuItmAutoUl;
    QAction *MnuItmLogging;
    QMenu *Help1;
    QAction *HelpTopics1;
    QAction *MnuItmSupport;
    QAction *MnuItmAbout;

    QFrame *PnlSpeedBar;
    QToolButton *SpdBtnTerm;
    QToolButton *SpdBtnComSet;
    QPushButton *BtnUpload;
    QFrame *PnlComLamp;
    QPushButton *BtnULCancel;
    QGroupBox *GrpBxProgress;
    TGauge *GgeScript;
    QLabel *LblScript;
    TGauge *GgeUpload;
    QLabel *LblUpload;
    QFileDialog *OpnDlgULFile;
    // The status-light panel at the bottom edge and the controller of its lamps.
    QFrame *PnlLights;
    lights::TApdStatusLight *SLCts;
    lights::TApdStatusLight *SLDsr;
    lights::TApdStatusLight *SLDcd;
    lights::TApdStatusLight *SLDer;
    lights::TApdSLController *ApdSLController2;

    // The upload engine of this window's runs, on the settings dialog's link.
    TUploadEngine *Engine;
    // The gang upload window, made on first request; freed with this window.
    TFrmGang *FrmGang = nullptr;

    // Configuration values.
    std::string IniFileName; // start directory + "/loader.ini"
    std::string IniRefusal;  // why loader.ini could not be read at start; empty when it could
    bool TerminalCreated = false;

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void CreateMenu();
    QAction *AddItem(QMenu *menu, const char *name, const char *caption, int helpContext);
    void CreateSpeedBar(QWidget *client);
    void CreateUploadControls(QWidget *client);
    void CreateProgressGroup(QWidget *client);
    void CreateOpenDialog();
    void CreateLightsPanel();
    void OpenHelpContext(int context);

    // The engine's view.
    void ShowLamp(bool green) override;
    void ShowIdle(bool idle) override { SetUploadBtnState(idle); }
    void ShowPortOpen(bool open) override { SetComBtnState(open); }
    void ShowProgressGroup(bool visible) override;
    void ShowScriptProgress(int percent) override;
    void ShowUploadProgress(int percent) override;
    void ShowUploadCaption(const std::string &caption) override;
    // Paints the lamp and the progress group at once, before the engine blocks the GUI thread.
    void PaintNow() override;
    void HoldTerminal(bool hold) override;
    // While the terminal window is shown the device's texts belong to it: the link's prompt and
    // error triggers go off again (a run or a reopened port switched them on).
    void RunFinished() override { LineBackToTerminal(); }
    void LineBackToTerminal();
    // Puts the engine on the settings dialog's link, the one in place now.
    void BindLink();

    bool firstShowDone_ = false;
    bool closed_ = false; // FormClose has run
};

// The one main window, set while it exists.
extern TFrmLoadr *FrmLoadr;
// The about and support boxes, made hidden at start; empty once freed.
extern QPointer<TFrmAboutLdr> FrmAboutLdr;
extern QPointer<TFrmSupportBox> FrmSupportBox;
// The RS232 terminal window, made on first request; empty until then and once freed.
extern QPointer<terminal::TFrmTerminal> FrmTerminal;

// The help context of a window or menu item (NoHelpContext when it has none).
int HelpContextOf(const QObject *object);

} // namespace loader
