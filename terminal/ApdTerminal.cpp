#include "terminal/ApdTerminal.h"

#include "serial/ApdComPort.h"
#include "serial/ApdExcept.h"
#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/GuiMessageTarget.h"
#include "terminal/ApdEmulator.h"
#include "terminal/ApdKeyboardEmulator.h"
#include "terminal/TerminalFont.h"

#include <QPalette>
#include <QResizeEvent>
#include <algorithm>
#include <exception>
#include <strings.h>

namespace terminal
{

namespace
{

// The font a refused one falls back to.
QFont TerminalFont()
{
    QFont font("Terminal");
    font.setPointSize(9);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    font.setStyle(QFont::StyleNormal);
    font.setWeight(QFont::Normal);
    return font;
}

// The keyboard emulator's map is replaced whenever it is enabled, disabled or given another
// file, so the window holds the component itself and asks it for every key.
void KeyboardRoutine(const void *context, uint16_t virtualKey, TKeyRecord &record)
{
    static_cast<const TApdCustomKeyboardEmulator *>(context)->Translate(virtualKey, record);
}

int FindColor(const uint32_t map[16], uint32_t color)
{
    for (int i = 0; i < 16; ++i)
        if ((map[i] & 0xFFFFFF) == (color & 0xFFFFFF))
            return i;
    return -1;
}

} // namespace

uint32_t ScrollBarStyle(TScrollBars bars)
{
    switch (bars) {
    case ssHorizontal:
        return tsHScroll;
    case ssVertical:
        return tsVScroll;
    case ssBoth:
        return tsHScroll | tsVScroll;
    case ssNone:
        break;
    }
    return 0;
}

uint32_t AutoScrollStyle(TAutoScroll autoScroll)
{
    static constexpr uint32_t styles[] = {0, tsAutoHScroll, tsAutoVScroll,
                                          tsAutoHScroll | tsAutoVScroll};
    return styles[autoScroll & 3];
}

uint32_t IntegralSizeStyle(TIntegralSize integral)
{
    static constexpr uint32_t styles[] = {0, tsIntegralWidth, tsIntegralHeight,
                                          tsIntegralWidth | tsIntegralHeight};
    return styles[integral & 3];
}

TApdCustomTerminal::TApdCustomTerminal(QWidget *parent) : QWidget(parent), font_(TerminalFont())
{
    portTarget_ = std::make_unique<serial::TGuiMessageTarget>(
        [this](unsigned msg, uintptr_t, intptr_t) { PortMessage(msg); });
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    resize(200, 200);
    captureWriter_.OnError = [this](uint16_t code) { TerminalError(code); };
    CreateTerminalWindow();
    window_->tClearBuffer();
}

TApdCustomTerminal::~TApdCustomTerminal()
{
    ReleasePort();
    // A failed last write is not reported to the owner of a component being destroyed.
    captureWriter_.OnError = nullptr;
    captureWriter_.Close();
    window_->tSetEmulatorPtr(nullptr);
    window_->tSetEmulatorProc(nullptr);
    window_->tSetKeyEmulatorPtr(nullptr);
    window_->tSetKeyEmulatorProc(nullptr);
    window_->SetNotify(nullptr);
    delete window_;
}

void TApdCustomTerminal::EndLoading()
{
    serial::TApdBaseComponent::EndLoading();
    if (active_) {
        // Without a port the activation waits for one instead of raising at the end of loading.
        if (comPort_) {
            active_ = false;
            SetActive(true);
        } else {
            pending_ = true;
        }
    }
    window_->tClearBuffer();
}

uint32_t TApdCustomTerminal::WindowStyle() const
{
    return (wantTabs_ ? tsWantTab : 0) | ScrollBarStyle(scrollBars_) |
           AutoScrollStyle(autoScroll_) | IntegralSizeStyle(integralSize_);
}

void TApdCustomTerminal::CreateTerminalWindow()
{
    window_ = new TTerminal(WindowStyle(), this, this);
    window_->setGeometry(rect());
    setFocusProxy(window_);
    window_->show();
    ApplyColors();
    ApplyFont();
    window_->bNewBuffer(rows_, columns_, pageHeight_);
    window_->aBuffer().OnWriteByte = [this](uint8_t c) { captureWriter_.Add(c); };
    window_->tBlinkTimeChange(blinkTime_);
    window_->tPersistentMarkChange(persistentMark_);
    window_->tSetHalfDuplex(halfDuplex_);
    window_->tSetEmulatorPtr(emulator_);
    window_->tSetEmulatorProc(emulator_ ? &TApdCustomEmulator::EmulatorRoutine : nullptr);
    window_->tSetKeyEmulatorPtr(keyboardEmu_);
    window_->tSetKeyEmulatorProc(keyboardEmu_ ? &KeyboardRoutine : nullptr);
    const bool wholeRows = integralSize_ == isBoth || integralSize_ == isHeight;
    const bool wholeColumns = integralSize_ == isBoth || integralSize_ == isWidth;
    if (wholeRows || wholeColumns) {
        window_->tForceSize(wholeColumns ? std::min(displayColumns_, columns_) : DisplayColumns(),
                            wholeRows ? std::min(displayRows_, pageHeight_) : DisplayRows());
        FitToWindow();
    }
    if (comPort_ && comPort_->Active())
        window_->tSetComHandle(static_cast<int16_t>(comPort_->PortSlot()));
}

void TApdCustomTerminal::RecreateTerminalWindow()
{
    const bool wasRunning = running_;
    const TCaptureMode capturing = Capture();
    StopTerminal();
    // The capture is closed while the window is rebuilt and reopened for appending after it, also
    // when the save failed and the cells are lost; if reopening fails, Capture reads off.
    captureWriter_.Close();
    std::unique_ptr<TTerminalSnapshot> saved = window_->tSave();
    const bool hadFocus = window_->hasFocus();
    window_->SetNotify(nullptr);
    delete window_;
    window_ = nullptr;
    CreateTerminalWindow();
    if (saved)
        window_->tRestore(std::move(saved));
    if (capturing != cmOff) {
        // Capture then reads off; the owner hears why, as for a failed write.
        if (const int result = captureWriter_.Reopen(); result != 0)
            TerminalError(uint16_t(result));
    }
    if (wasRunning && StartTerminal() != 0)
        pending_ = true;
    if (hadFocus)
        window_->setFocus();
}

QSize TApdCustomTerminal::sizeHint() const
{
    return fittedSize_;
}

void TApdCustomTerminal::FitToWindow()
{
    fittedSize_ = window_->size();
    updateGeometry();
    if (size() != window_->size())
        resize(window_->size());
}

void TApdCustomTerminal::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (window_ && window_->size() != event->size()) {
        window_->move(0, 0);
        window_->FitInto(event->size());
    }
}

// Colours.

void TApdCustomTerminal::ApplyColors()
{
    window_->tGetColorMap(colorMap_);
    const uint32_t current = window_->tCurrentColors();
    bool changed = false;
    int foreground = FindColor(colorMap_, fontColor_);
    if (foreground < 0) {
        foreground = static_cast<int>(current & 15);
        colorMap_[foreground] = fontColor_;
        changed = true;
    }
    int background = FindColor(colorMap_, color_);
    if (background < 0) {
        background = static_cast<int>((current >> 16) & 15);
        // The entry just given to the text must not be taken for the background as well.
        if (background == foreground)
            background = (foreground + 8) & 15;
        colorMap_[background] = color_;
        changed = true;
    }
    if (changed)
        window_->tSetColorMap(colorMap_);
    window_->bSetColors(static_cast<uint8_t>(foreground), static_cast<uint8_t>(background));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorOf(color_));
    setPalette(palette);
}

void TApdCustomTerminal::SetColor(uint32_t color)
{
    color_ = color;
    ApplyColors();
}

void TApdCustomTerminal::SetFontColor(uint32_t color)
{
    fontColor_ = color;
    ApplyColors();
}

void TApdCustomTerminal::SetColors()
{
    ApplyColors();
}

void TApdCustomTerminal::ApplyFont()
{
    // A refused font gives way to "Terminal" 9 points, or the fixed-pitch family that stands in
    // for it here, so the window never keeps a font nobody asked for.
    if (!window_->wmSetFont(font_) && !window_->wmSetFont(FixedFontFor(TerminalFont())))
        window_->wmSetFont();
    font_ = window_->Font();
}

void TApdCustomTerminal::SetFont(const QFont &font)
{
    font_ = font;
    ApplyFont();
    // The new cells fill the room the component has, at once, with the cursor in view.
    if (!size().isEmpty()) {
        window_->FitInto(size());
        window_->ViewToCursor();
    }
    ApplyColors();
}

// Port binding and activation.

int TApdCustomTerminal::StartTerminal()
{
    if (!comPort_)
        return serial::ecPortNotAssigned;
    // Opening the port here may already have started the terminal through the opened notice.
    const int slot = comPort_->PortHandle();
    if (slot == 0)
        return serial::ecBadHandle;
    StopTerminal();
    window_->tSetComHandle(static_cast<int16_t>(slot));
    const int result = window_->tStartTerminal(1);
    running_ = result == 0;
    return result;
}

void TApdCustomTerminal::StopTerminal()
{
    if (running_)
        window_->tStopTerminal();
    running_ = false;
}

void TApdCustomTerminal::Start()
{
    serial::RaiseOnError(this, StartTerminal());
}

void TApdCustomTerminal::Stop()
{
    StopTerminal();
}

void TApdCustomTerminal::SetActive(bool active)
{
    if (active == active_ && !pending_)
        return;
    if (Loading()) {
        active_ = active;
        return;
    }
    if (!comPort_) {
        if (active)
            serial::RaiseOnError(this, serial::ecPortNotAssigned);
        active_ = false;
        pending_ = false;
        return;
    }
    active_ = active;
    if (!active) {
        StopTerminal();
        pending_ = false;
        return;
    }
    int result = serial::ecBadHandle;
    try {
        result = StartTerminal();
    } catch (const serial::EAPDException &) {
        // The port could not be opened now; its opened notice starts the terminal later.
    }
    pending_ = result != 0;
    if (pending_ && comPort_->AutoOpen() && comPort_->Loading())
        comPort_->SetOpen(true);
}

void TApdCustomTerminal::SetComPort(serial::TApdCustomComPort *port)
{
    if (port == comPort_)
        return;
    ReleasePort();
    comPort_ = port;
    if (!port)
        return;
    port->AttachWindow(portTarget_.get());
    port->FreeNotification(this, [this](serial::TApdCustomComPort &) { PortFreed(); });
    if (Loading())
        return;
    if (port->Active() || port->AutoOpen()) {
        if (active_ || pending_) {
            int result = serial::ecBadHandle;
            try {
                result = StartTerminal();
            } catch (const serial::EAPDException &) {
            }
            active_ = true;
            pending_ = result != 0;
        }
    } else {
        window_->tReleaseComHandle();
        pending_ = pending_ || active_;
    }
}

void TApdCustomTerminal::ReleasePort()
{
    if (!comPort_)
        return;
    StopTerminal();
    window_->tReleaseComHandle();
    comPort_->DetachWindow(portTarget_.get());
    comPort_->RemoveFreeNotification(this);
    comPort_ = nullptr;
}

void TApdCustomTerminal::PortFreed()
{
    // The port is going away: its dispatcher registration goes with it.
    running_ = false;
    window_->tReleaseComHandle();
    pending_ = pending_ || active_;
    comPort_ = nullptr;
}

void TApdCustomTerminal::PortMessage(unsigned msg)
{
    if (!comPort_)
        return;
    if (msg == serial::NoticePortOpened) {
        window_->tSetComHandle(static_cast<int16_t>(comPort_->PortSlot()));
        if (pending_ && StartTerminal() == 0) {
            active_ = true;
            pending_ = false;
        }
    } else if (msg == serial::NoticePortClosing) {
        StopTerminal();
        window_->tReleaseComHandle();
        pending_ = pending_ || active_;
        active_ = false;
    }
}

// Emulators.

void TApdCustomTerminal::SetEmulator(TApdCustomEmulator *emulator)
{
    emulator_ = emulator;
    window_->tSetEmulatorPtr(emulator);
    window_->tSetEmulatorProc(emulator ? &TApdCustomEmulator::EmulatorRoutine : nullptr);
}

void TApdCustomTerminal::SetKeyBoardEmu(TApdCustomKeyboardEmulator *keyboard)
{
    keyboardEmu_ = keyboard;
    window_->tSetKeyEmulatorPtr(keyboard);
    window_->tSetKeyEmulatorProc(keyboard ? &KeyboardRoutine : nullptr);
}

// Geometry.

void TApdCustomTerminal::ApplyGeometry(uint16_t rows, uint16_t columns, uint16_t pageHeight)
{
    if (uint32_t(rows) * columns > uint32_t(kMaxCells)) {
        serial::RaiseOnError(this, serial::ecBufferTooBig);
        return;
    }
    // A refused geometry leaves the old buffer, and the properties keep describing it.
    const int result = window_->bNewBuffer(rows, columns, pageHeight);
    if (result == 0) {
        rows_ = rows;
        columns_ = columns;
        pageHeight_ = pageHeight;
    }
    serial::RaiseOnError(this, result);
}

void TApdCustomTerminal::SetRows(uint16_t rows)
{
    rows = std::max(rows, pageHeight_);
    uint16_t columns = columns_;
    if (uint32_t(rows) * columns > uint32_t(kMaxCells))
        columns = static_cast<uint16_t>(kMaxCells / rows);
    ApplyGeometry(rows, columns, pageHeight_);
}

void TApdCustomTerminal::SetColumns(uint16_t columns)
{
    columns = std::max(columns, DisplayColumns());
    uint16_t rows = rows_;
    if (columns > 0 && uint32_t(rows) * columns > uint32_t(kMaxCells))
        rows = static_cast<uint16_t>(kMaxCells / columns);
    ApplyGeometry(rows, columns, pageHeight_);
}

void TApdCustomTerminal::SetPageHeight(uint16_t pageHeight)
{
    ApplyGeometry(rows_, columns_, std::min(pageHeight, rows_));
}

uint16_t TApdCustomTerminal::DisplayRows() const
{
    const int charHeight = window_->CharHeight();
    return charHeight > 0 ? static_cast<uint16_t>(window_->aBuffer().ClientHeight / charHeight) : 0;
}

uint16_t TApdCustomTerminal::DisplayColumns() const
{
    const int charWidth = window_->CharWidth();
    return charWidth > 0 ? static_cast<uint16_t>(window_->aBuffer().ClientWidth / charWidth) : 0;
}

void TApdCustomTerminal::SetDisplayRows(uint16_t rows)
{
    if (integralSize_ != isBoth && integralSize_ != isHeight)
        return;
    displayRows_ = std::min(rows, pageHeight_);
    window_->tForceSize(DisplayColumns(), displayRows_);
    FitToWindow();
}

void TApdCustomTerminal::SetDisplayColumns(uint16_t columns)
{
    if (integralSize_ != isBoth && integralSize_ != isWidth)
        return;
    displayColumns_ = std::min(columns, columns_);
    window_->tForceSize(displayColumns_, DisplayRows());
    FitToWindow();
}

void TApdCustomTerminal::SetHeight(int height)
{
    if (integralSize_ == isNone || integralSize_ == isWidth || Loading())
        resize(width(), height);
}

void TApdCustomTerminal::SetWidth(int width)
{
    if (integralSize_ == isNone || integralSize_ == isHeight || Loading())
        resize(width, height());
}

// Window styles.

void TApdCustomTerminal::SetScrollBars(TScrollBars bars)
{
    if (bars == scrollBars_)
        return;
    // A bar that is always there is never also automatic.
    if (bars == ssHorizontal || bars == ssBoth) {
        if (autoScroll_ == asHorizontal)
            autoScroll_ = asNone;
        else if (autoScroll_ == asBoth)
            autoScroll_ = asVertical;
    }
    if (bars == ssVertical || bars == ssBoth) {
        if (autoScroll_ == asVertical)
            autoScroll_ = asNone;
        else if (autoScroll_ == asBoth)
            autoScroll_ = asHorizontal;
    }
    scrollBars_ = bars;
    RecreateTerminalWindow();
}

void TApdCustomTerminal::SetAutoScroll(TAutoScroll autoScroll)
{
    if (autoScroll == autoScroll_)
        return;
    autoScroll_ = autoScroll;
    RecreateTerminalWindow();
}

void TApdCustomTerminal::SetIntegralSize(TIntegralSize integral)
{
    if (integral == integralSize_)
        return;
    integralSize_ = integral;
    RecreateTerminalWindow();
}

void TApdCustomTerminal::SetWantTabs(bool on)
{
    if (on == wantTabs_)
        return;
    wantTabs_ = on;
    RecreateTerminalWindow();
}

// Scrollback.

bool TApdCustomTerminal::Scrollback() const
{
    return window_->Scrollback();
}

void TApdCustomTerminal::SetScrollback(bool on)
{
    if (on == Scrollback())
        return;
    if (on) {
        allColumnsShown_ = DisplayColumns() >= columns_;
        widthAtScrollback_ = width();
    } else if (allColumnsShown_) {
        if (integralSize_ == isBoth || integralSize_ == isWidth)
            SetDisplayColumns(columns_);
        else
            resize(widthAtScrollback_, height());
    }
    window_->tToggleScrollback();
}

// Capture.

TCaptureMode TApdCustomTerminal::Capture() const
{
    return captureWriter_.IsOpen() ? capture_ : cmOff;
}

void TApdCustomTerminal::SetCapture(TCaptureMode mode)
{
    savedCapture_ = false; // the owner's choice outlasts a save's
    const int result = mode != cmOff ? captureWriter_.Open(mode == cmAppend, captureFile_)
                                     : captureWriter_.Close();
    if (result == 0)
        capture_ = mode;
    else if (!captureWriter_.IsOpen())
        capture_ = cmOff;
    serial::RaiseOnError(this, result);
}

void TApdCustomTerminal::SetCaptureFile(const std::string &fileName)
{
    if (strcasecmp(fileName.c_str(), captureFile_.c_str()) == 0) {
        captureFile_ = fileName;
        return;
    }
    const TCaptureMode mode = Capture();
    if (mode != cmOff) {
        captureWriter_.Close();
        capture_ = cmOff;
    }
    captureFile_ = fileName;
    if (mode != cmOff)
        SetCapture(mode);
}

// Forwarded settings.

void TApdCustomTerminal::SetBlinkTime(uint16_t milliseconds)
{
    blinkTime_ = milliseconds;
    window_->tBlinkTimeChange(milliseconds);
}

void TApdCustomTerminal::SetPersistentMark(bool on)
{
    persistentMark_ = on;
    window_->tPersistentMarkChange(on);
}

void TApdCustomTerminal::SetHalfDuplex(bool on)
{
    halfDuplex_ = on;
    window_->tSetHalfDuplex(on);
}

// Operations.

void TApdCustomTerminal::ClearScreen()
{
    window_->tClearWindow(0);
}

void TApdCustomTerminal::ClearBuffer()
{
    window_->tClearWindow(1);
}

void TApdCustomTerminal::WriteString(const std::string &text)
{
    window_->tStuffData(reinterpret_cast<const uint8_t *>(text.data()),
                        static_cast<int>(text.size()));
    window_->tForcePaint();
}

void TApdCustomTerminal::CopyToClipboard()
{
    window_->wmCopy();
}

void TApdCustomTerminal::SaveRestore(bool restore)
{
    // The capture is closed with the save and reopened for appending with the restore.
    if (!restore) {
        saved_ = window_->tSave();
        if (!saved_)
            serial::RaiseOnError(this, serial::ecOutOfMemory);
        else if (captureWriter_.IsOpen()) {
            // A second save keeps what the first one closed.
            savedCapture_ = true;
            captureWriter_.Close();
        }
    } else if (saved_) {
        int result = window_->tRestore(std::move(saved_));
        // Reopened under the name it had, unless the owner named another file meanwhile.
        if (result == 0 && savedCapture_)
            result = strcasecmp(captureWriter_.FileName().c_str(), captureFile_.c_str()) == 0
                         ? captureWriter_.Reopen()
                         : captureWriter_.Open(true, captureFile_);
        savedCapture_ = false;
        serial::RaiseOnError(this, result);
    }
}

// The window's notifications.

void TApdCustomTerminal::TerminalStatus(uint16_t wParam, uint32_t lParam)
{
    if (OnTerminalStatus)
        OnTerminalStatus(comPort_, wParam & 0xFF, wParam >> 8, lParam & 0xFFFF, lParam >> 16);
}

void TApdCustomTerminal::TerminalError(uint16_t code)
{
    if (OnTerminalError)
        OnTerminalError(comPort_, code);
}

void TApdCustomTerminal::TerminalPositionReport(uint16_t column, uint16_t row)
{
    if (OnCursorPosReport)
        OnCursorPosReport(comPort_, column, row);
}

} // namespace terminal
