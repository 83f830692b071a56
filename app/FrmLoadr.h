#pragma once
// The main window: the controls that start and cancel an upload run, the two progress gauges,
// the communication/upload status lamp and the menu that reaches every other window. It reads its
// part of loader.ini at creation, sets the working directory, and holds the upload engine's state.

#include "link/LoaderCallbacks.h"

#include <QColor>
#include <QMainWindow>
#include <cstdint>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace loader
{

class TGauge;

// Help contexts of the manual; 0 means an item has none of its own.
constexpr int NoHelpContext = 0;
constexpr int AboutHelpContext = 10;
constexpr int MainWindowHelpContext = 20;
constexpr int TerminalHelpContext = 110;
constexpr int RS232HelpContext = 210;

// The dynamic property that carries the help context of the window and of each menu item.
constexpr const char *HelpContextProperty = "helpContext";

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

    // Configuration and engine values.
    std::string IniFileName;    // start directory + "/loader.ini"
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
    std::vector<uint8_t> UploadBuffer; // the file being uploaded; its size fits 32 bits

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void CreateMenu();
    QAction *AddItem(QMenu *menu, const char *name, const char *caption, int helpContext);
    void CreateSpeedBar(QWidget *client);
    void CreateUploadControls(QWidget *client);
    void CreateProgressGroup(QWidget *client);
    void CreateOpenDialog();
    void OpenHelpContext(int context);

    bool firstShowDone_ = false;
};

// The one main window, set while it exists.
extern TFrmLoadr *FrmLoadr;

// The help context of a window or menu item (NoHelpContext when it has none).
int HelpContextOf(const QObject *object);

} // namespace loader
