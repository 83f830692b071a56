#pragma once
// The main window: the controls that start and cancel an upload run, the two progress gauges,
// the communication/upload status lamp and the menu that reaches every other window. It reads its
// part of loader.ini at creation, sets the working directory, and holds the upload engine's state.

#include "app/UploadLog.h"
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

class TFrmLoadr : public QMainWindow, public TLoaderCallbacks
{
    Q_OBJECT

  public:
    // Values of ScriptState, the upload engine's state byte.
    static constexpr uint8_t NextLine = 0;
    static constexpr uint8_t Delaying = 1;
    static constexpr uint8_t LoadPending = 2;
    static constexpr uint8_t Transferring = 3;
    static constexpr uint8_t UploadFailed = 4;
    static constexpr uint8_t ScriptFailed = 5;
    static constexpr uint8_t UploadCancelled = 6;
    static constexpr uint8_t ScriptDone = 7;

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

    // The upload engine. One step per tick of ScriptTimer; a step never overlaps another.
    void BtnUploadClick();
    void ProcessScript(const std::string &fileName);
    void ScriptTimerTimer();
    void ProcessScriptLine();
    void UploadFile(const std::string &file, const std::string &address,
                    const std::string &version);
    void UploadFinish();
    void UploadError();
    void ScriptError();
    void ScriptEnd();
    void BtnULCancelClick();
    // What a confirmed cancel does: the state ends the run at the engine's next chance, and the
    // link services queue no further block of a running transfer.
    void CancelRun();
    // Ends a running transfer without waiting for its output to drain (a device that takes no
    // more output would never let it): the queued output is discarded and the next step ends
    // the run. For an operator who will not wait, such as an interrupt in batch mode.
    void AbandonTransfer();
    // Between the start of a run and its end (ScriptEnd, UploadError, or a file too big to hold).
    bool Running() const { return running_; }
    // Lets the port deliver trigger events again after a step held them.
    void ReleaseTriggers();

    // Called by the serial settings after every attempt to open the port.
    void SetComBtnState(bool enabled) override;
    // Switches between idle (true) and running (false) mode.
    void SetUploadBtnState(bool idle);
    // Called by the link services when the device reports an error; the engine takes it from
    // there on its next tick.
    void SetScriptError() override;
    void SetULError() override;
    // The link services' other two reports: the next engine step, and the upload gauge.
    void EnableScriptTimer() override;
    void SetUploadProgress(int percent) override;

    void SetComLamp(const QColor &color);
    QColor ComLamp() const;

    // Told of every change of the progress display and of the end of each run, so a run without
    // a screen can report what the window would show. Unassigned ones are skipped.
    std::function<void(int percent)> OnScriptProgress;
    std::function<void(int percent)> OnUploadProgress;
    std::function<void(const std::string &caption)> OnUploadCaption;
    std::function<void()> OnRunEnded;
    // Told, after the box that says so, that the script or a flash file could not be read, with
    // the system's reason ("No such file or directory", "not a regular file"). While it is set,
    // the boxes about a flash file leave the reason to it.
    std::function<void(const std::string &file, const std::string &reason)> OnFileUnreadable;
    // Switches the RS232 terminal on (true) or off (false) while a file goes to the device; set by
    // whoever creates the terminal window. The engine calls it only while TerminalCreated.
    std::function<void(bool active)> SetTerminalActive;

    // Components, named as in the window's layout.
    QMenuBar *MainMenu;
    QMenu *Program1;
    QAction *MnuItmTermWin;
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
    QTimer *ScriptTimer;
    // The status-light panel at the bottom edge and the controller of its lamps.
    QFrame *PnlLights;
    lights::TApdStatusLight *SLCts;
    lights::TApdStatusLight *SLDsr;
    lights::TApdStatusLight *SLDcd;
    lights::TApdStatusLight *SLDer;
    lights::TApdSLController *ApdSLController2;

    // Configuration and engine values.
    std::string IniFileName;    // start directory + "/loader.ini"
    std::string IniRefusal;     // why loader.ini could not be read at start; empty when it could
    std::string ScriptFileName; // script of the next automatic run
    int32_t UploadDelayMs = 1000;
    int32_t PostDelayMs = 0;
    bool TerminalCreated = false;
    uint8_t ScriptState = NextLine;
    bool LogOpen = false;
    std::vector<std::string> ScriptLines;
    int32_t LineIndex = 0;
    int32_t LineCount = 0;
    int32_t DelayTicks = 0;
    std::string LoadFileName;
    std::string LoadAddress;
    std::string LoadVersion;
    std::string UploadBuffer; // the file being uploaded; its length fits a signed 32-bit count
    TUploadLog UploadLog;     // loader.log of the current run

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

    // The settings object whose link services the engine uses; throws when there is none.
    TFrmS_comm &Comm() const;
    void OpenUploadLog();
    // The error box for a loader.log that could not be written.
    void ReportLogFailure();
    void SetScriptProgress(int percent);
    void SetUploadCaption(const std::string &caption);
    // Paints the lamp and the progress group at once, before the engine blocks the GUI thread.
    void ShowProgressNow();
    void TerminalHold(bool hold);
    // Switches the link's prompt and error triggers off again while the terminal window is shown
    // (a run or a reopened port switched them on).
    void LineBackToTerminal();
    void ReleaseUploadBuffer();
    // Tells OnFileUnreadable, after its box, why a named flash file could not be read.
    void ReportUnreadable(const std::string &file, const std::string &reason);
    // True, with the run set to end with the upload error, when the file has failed.
    bool FileFailed();
    void EndRun();
    // Waits on the event loop; false when the wait was cut short (cancel, close, program end) or
    // the step should not go on for those reasons.
    bool Wait(int32_t milliseconds);
    bool StepStopped() const;
    // True, with the timer restarted for the run's end, when the step must stop here.
    bool LeaveIfStopped();
    // Holds the port's trigger deliveries for the running step (no handler runs inside it).
    void HoldTriggers();
    // A message box from inside a step: the hold is lifted while it is shown.
    platform::MsgResult Ask(platform::MsgType type, const std::string &text,
                            platform::MsgButtons buttons);

    bool firstShowDone_ = false;
    bool running_ = false;
    bool stepRunning_ = false;       // a step is under way: ticks meanwhile are not taken
    bool transferActive_ = false;    // the link services send from UploadBuffer until it drains
    bool closed_ = false;            // FormClose has run: no further step
    QEventLoop *waitLoop_ = nullptr; // the step's wait under way, ended early by cancel or close
    std::unique_ptr<serial::TDeliveryHold> stepHold_;

    // The script error to come follows a flash file that was not found, answered with Abort.
    bool flashFileMissing_ = false;
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
