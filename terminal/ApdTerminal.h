#pragma once
// The terminal component: a control that hosts the terminal window (TTerminal) and binds it to a
// serial port component, an optional emulator and an optional keyboard emulator. Its properties
// keep the window's settings (getter named as the property, setter Set...); every request whose
// result is non-zero raises through serial::RaiseOnError, except while the component is being
// loaded (BeginLoading ... EndLoading), when settings are only taken.
//
// The window is the component's only child and fills it. Changing the scroll bars, the
// automatic bars or the integral sizing recreates the window, keeping the buffer's contents.
// The port's opened and closing notices reach the component through its own message target,
// registered with the port by AttachWindow.
//
// GUI thread only.

#include "serial/ApdBaseComponent.h"
#include "terminal/CaptureFile.h"
#include "terminal/Terminal.h"

#include <QFont>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace serial
{
class TApdCustomComPort;
class TGuiMessageTarget;
} // namespace serial

namespace terminal
{

class TApdCustomEmulator;
class TApdCustomKeyboardEmulator;

enum TScrollBars : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TAutoScroll : uint8_t { asNone, asHorizontal, asVertical, asBoth };
enum TIntegralSize : uint8_t { isNone, isWidth, isHeight, isBoth };
enum TCaptureMode : uint8_t { cmOff, cmOn, cmAppend };

// The port is null when the component has none.
using TTerminalStatusEvent = std::function<void(serial::TApdCustomComPort *CP, uint16_t Row,
                                                uint16_t Col, uint16_t BufRow, uint16_t BufCol)>;
using TTerminalErrorEvent = std::function<void(serial::TApdCustomComPort *CP, uint16_t ErrorCode)>;
using TTerminalCursorPosReportEvent =
    std::function<void(serial::TApdCustomComPort *CP, uint16_t XPos, uint16_t YPos)>;

// Window style bits of each setting.
uint32_t ScrollBarStyle(TScrollBars bars);
uint32_t AutoScrollStyle(TAutoScroll autoScroll);
uint32_t IntegralSizeStyle(TIntegralSize integral);

class TApdCustomTerminal : public QWidget, public serial::TApdBaseComponent, private TTerminalNotify
{
    Q_OBJECT

  public:
    // Creates the window at once: colours, font, sizes, tabs wanted, buffer cleared.
    explicit TApdCustomTerminal(QWidget *parent = nullptr);
    // Leaves the port, closes the capture and lets go of the emulators.
    ~TApdCustomTerminal() override;

    // Activates when Active is set, and clears the buffer.
    void EndLoading() override;

    serial::TApdCustomComPort *ComPort() const { return comPort_; }
    void SetComPort(serial::TApdCustomComPort *port);
    bool Active() const { return active_; }
    void SetActive(bool active);
    // Waiting for the port to open before the terminal can start.
    bool ActivationPending() const { return pending_; }

    TScrollBars ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollBars bars);
    TAutoScroll AutoScroll() const { return autoScroll_; }
    void SetAutoScroll(TAutoScroll autoScroll);
    TIntegralSize IntegralSize() const { return integralSize_; }
    void SetIntegralSize(TIntegralSize integral);
    bool Scrollback() const;
    void SetScrollback(bool on);

    TApdCustomEmulator *Emulator() const { return emulator_; }
    void SetEmulator(TApdCustomEmulator *emulator);
    TApdCustomKeyboardEmulator *KeyBoardEmu() const { return keyboardEmu_; }
    void SetKeyBoardEmu(TApdCustomKeyboardEmulator *keyboard);

    uint16_t Rows() const { return rows_; }
    void SetRows(uint16_t rows);
    uint16_t Columns() const { return columns_; }
    void SetColumns(uint16_t columns);
    uint16_t PageHeight() const { return pageHeight_; }
    void SetPageHeight(uint16_t pageHeight);
    // Whole cells in the window's area; set only with the matching integral sizing.
    uint16_t DisplayRows() const;
    void SetDisplayRows(uint16_t rows);
    uint16_t DisplayColumns() const;
    void SetDisplayColumns(uint16_t columns);

    const std::string &CaptureFile() const { return captureFile_; }
    void SetCaptureFile(const std::string &fileName);
    // Off once a failed write closed the capture (OnTerminalError told of it).
    TCaptureMode Capture() const;
    void SetCapture(TCaptureMode mode);

    bool WantTabs() const { return wantTabs_; }
    void SetWantTabs(bool on);
    // The control's size; Height only with isNone or isWidth, Width only with isNone or isHeight
    // (or while loading).
    int Height() const { return height(); }
    void SetHeight(int height);
    int Width() const { return width(); }
    void SetWidth(int width);
    uint16_t BlinkTime() const { return blinkTime_; }
    void SetBlinkTime(uint16_t milliseconds);
    bool PersistentMark() const { return persistentMark_; }
    void SetPersistentMark(bool on);
    bool HalfDuplex() const { return halfDuplex_; }
    void SetHalfDuplex(bool on);

    // Colours as 0x00BBGGRR: the background (Color) and the text (the font's colour).
    uint32_t Color() const { return color_; }
    void SetColor(uint32_t color);
    uint32_t FontColor() const { return fontColor_; }
    void SetFontColor(uint32_t color);
    // The font in use; one the window refuses is replaced by the fixed 9-point font.
    const QFont &Font() const { return font_; }
    void SetFont(const QFont &font);
    // The component's copy of the window's colour map.
    const uint32_t *ColorMap() const { return colorMap_; }

    TTerminalStatusEvent OnTerminalStatus;
    TTerminalErrorEvent OnTerminalError;
    TTerminalCursorPosReportEvent OnCursorPosReport;

    // Operations.
    void ClearScreen();
    void ClearBuffer();
    void WriteString(const std::string &text);
    void CopyToClipboard();
    void SetColors();
    // Start raises -1005 without a port and -1001 while the port has no dispatcher handle.
    void Start();
    void Stop();
    // Saves the buffer (restore false) or puts the saved one back (restore true).
    void SaveRestore(bool restore);

    TTerminal *Window() const { return window_; }
    // Whether the window is registered with the dispatcher.
    bool Running() const { return running_; }

    // The size the display rows and columns gave the control last.
    QSize sizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void TerminalStatus(uint16_t wParam, uint32_t lParam) override;
    void TerminalError(uint16_t code) override;
    void TerminalPositionReport(uint16_t column, uint16_t row) override;

    uint32_t WindowStyle() const;
    void CreateTerminalWindow();
    void RecreateTerminalWindow();
    void ApplyFont();
    void ApplyColors();
    void ApplyGeometry(uint16_t rows, uint16_t columns, uint16_t pageHeight);
    void FitToWindow();
    int StartTerminal();
    void StopTerminal();
    void PortMessage(unsigned msg);
    void PortFreed();
    void ReleasePort();

    TTerminal *window_ = nullptr;
    std::unique_ptr<serial::TGuiMessageTarget> portTarget_;
    serial::TApdCustomComPort *comPort_ = nullptr;
    TApdCustomEmulator *emulator_ = nullptr;
    TApdCustomKeyboardEmulator *keyboardEmu_ = nullptr;
    bool active_ = true;
    bool pending_ = false;
    bool running_ = false;
    TScrollBars scrollBars_ = ssNone;
    TAutoScroll autoScroll_ = asNone;
    TIntegralSize integralSize_ = isBoth;
    uint16_t rows_ = 200;
    uint16_t columns_ = 80;
    uint16_t pageHeight_ = 25;
    // The sizes a new window is given.
    uint16_t displayRows_ = 15;
    uint16_t displayColumns_ = 40;
    std::string captureFile_ = "APD.CAP";
    TCaptureMode capture_ = cmOff;
    TCaptureFile captureWriter_; // fed by the window's buffer while open
    bool savedCapture_ = false;  // capture was on when the window was saved (SaveRestore)
    bool wantTabs_ = true;       // the window wants tabs from its creation on
    uint16_t blinkTime_ = kDefaultBlinkMs;
    bool persistentMark_ = true;
    bool halfDuplex_ = false;
    uint32_t color_ = 0x000000;     // black
    uint32_t fontColor_ = 0xC0C0C0; // silver
    QFont font_;
    uint32_t colorMap_[16] = {};
    // Scrollback entered with every column shown, and the width then.
    bool allColumnsShown_ = false;
    QSize fittedSize_{200, 200};
    int widthAtScrollback_ = 0;
    std::unique_ptr<TTerminalSnapshot> saved_;
};

class TApdTerminal : public TApdCustomTerminal
{
    Q_OBJECT

  public:
    using TApdCustomTerminal::TApdCustomTerminal;
};

} // namespace terminal
