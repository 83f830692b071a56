#pragma once
// The "RS232 Terminal" window: one terminal component on the loader's serial port, a row of
// line-status lights, a two-section status line and the menus to clear, browse the scrollback,
// copy, capture, choose the emulation and change the font. While the window is shown the
// terminal is active and the loader's own data triggers are off; closing only hides it.
//
// The chosen emulation is kept in loader.ini, section "Terminal", key "Emulation".

#include "terminal/ApdTerminal.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QLabel;
class QStatusBar;

namespace serial
{
class TApdCustomComPort;
}

namespace lights
{
class TApdSLController;
class TApdStatusLight;
} // namespace lights

namespace terminal
{

class TApdCustomEmulator;
class TApdKeyboardEmulator;

enum class TTerminalEmulation { Plain, Ansi, Vt100, Vt52 };

// The names kept in loader.ini; an unknown name is Plain.
const char *EmulationName(TTerminalEmulation emulation);
TTerminalEmulation EmulationFromName(const std::string &name);

class TFrmTerminal : public QMainWindow
{
    Q_OBJECT

  public:
    using TDataTriggerEnabled = std::function<void(bool on)>;

    // Builds the window on the port (null leaves the terminal without one) and runs FormCreate.
    // dataTriggerEnabled switches the link services' data triggers; iniFileName is loader.ini.
    TFrmTerminal(serial::TApdCustomComPort *port, TDataTriggerEnabled dataTriggerEnabled,
                 std::string iniFileName, QWidget *parent = nullptr);
    ~TFrmTerminal() override;

    // Closes and reopens the port; when that works the terminal and the lights are switched off
    // until the window is shown, else PortFailure says why it did not.
    void FormCreate();
    const std::string &PortFailure() const { return portFailure_; }
    // Data triggers off, terminal active, lights watching.
    void FormShow();
    // Data triggers on, terminal inactive, lights stopped. Closing is always allowed.
    void FormClose();
    // Status section 0 shows the port's settings (nothing while the port is not open).
    void FormActivate();

    TTerminalEmulation Emulation() const { return emulation_; }
    // Attaches the emulator of that kind (none for Plain) and keeps the choice in loader.ini.
    void SetEmulation(TTerminalEmulation emulation);

    // Capture to the file (cmOn); a failure is shown in an error box.
    void CaptureTo(const std::string &fileName);
    void StopCapture();

    // The text of status section 0 or 1, and its (fixed) width.
    QString StatusText(int section) const;
    int StatusWidth(int section) const;

    std::unique_ptr<TApdKeyboardEmulator> ApdKeyboardEmulator1;
    TApdTerminal *ApdTerminal1 = nullptr;
    lights::TApdSLController *ApdSLController1 = nullptr;
    std::array<lights::TApdStatusLight *, 7> Lights{}; // Rx Tx CTS DSR DCD BRK ERR

    QAction *MnuClear = nullptr;
    QAction *MnuScrollBack = nullptr;
    QAction *MnuCapture = nullptr;
    QAction *MnuStopCapture = nullptr;
    QAction *MnuExit = nullptr;
    QAction *MnuCopy = nullptr;
    QAction *MnuFont = nullptr;
    std::array<QAction *, 4> MnuEmulation{}; // in the order of TTerminalEmulation

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void BuildMenus();
    void BuildStatusLine();
    QWidget *BuildLights();
    void ApplyEmulation(TTerminalEmulation emulation);
    void ToggleScrollback();
    void ChooseFont();
    void ChooseCaptureFile();
    void UpdateCaptureItems();
    void TerminalStatus(uint16_t row, uint16_t col);

    serial::TApdCustomComPort *port_;
    TDataTriggerEnabled dataTriggerEnabled_;
    std::string iniFileName_;
    std::string portFailure_;
    TTerminalEmulation emulation_ = TTerminalEmulation::Plain;
    std::unique_ptr<TApdCustomEmulator> emulator_;
    std::array<QLabel *, 2> sections_{};
};

} // namespace terminal
