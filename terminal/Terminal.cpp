#include "terminal/Terminal.h"

#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/GuiMessageTarget.h"
#include "terminal/ApdEmulator.h"
#include "terminal/VirtualKeys.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>
#include <new>
#include <string>

namespace terminal
{

namespace
{

// Cursor keys in application mode (DECCKM): the map's ESC [ A-D goes out as ESC O A-D, as a
// VT100 sends them then; the map itself stays as it is.
void ToApplicationCursorKey(uint16_t virtualKey, TKeyRecord &record)
{
    constexpr uint16_t vkLeft = 37; // the cursor keys are left, up, right, down
    auto &bytes = record.Bytes;
    if (record.Handled && virtualKey >= vkLeft && virtualKey <= vkDown && record.Length == 3 &&
        bytes[0] == 0x1B && bytes[1] == '[' && bytes[2] >= 'A' && bytes[2] <= 'D')
        bytes[1] = 'O';
}

// Without a key map the cursor keys of an emulation still send what its terminal's keys send:
// ESC [ x (ESC O x in application mode) for ANSI and VT100, ESC x for VT52. Plain mode sends
// nothing for them. Empty when the key is no cursor key or no emulator is attached.
std::string CursorKeySequence(const TBuffer &b, uint16_t virtualKey)
{
    constexpr uint16_t vkLeft = 37, vkDown = 40;
    if (virtualKey < vkLeft || virtualKey > vkDown ||
        b.EmulatorRoutine != &TApdCustomEmulator::EmulatorRoutine || !b.EmulatorContext)
        return {};
    const char final = "DACB"[virtualKey - vkLeft];
    switch (static_cast<const TApdCustomEmulator *>(b.EmulatorContext)->EmulationType()) {
    case etVt52:
        return {'\x1b', final};
    case etAnsi:
    case etAnsiBbs:
    case etVt100:
        return {'\x1b', b.CursorKeysApp ? 'O' : '[', final};
    default:
        return {};
    }
}

} // namespace

TTerminal::TTerminal(uint32_t style, TTerminalNotify *notify, QWidget *parent)
    : QAbstractScrollArea(parent), notify_(notify), style_(style)
{
    int result = 0;
    buffer_ = TBuffer::Create(this, 80, 200, &result);
    if (!buffer_)
        throw std::bad_alloc();
    // Replies to the host go out on the port the window reads.
    buffer_->OnHostReply = [this](const uint8_t *bytes, size_t count) {
        if (portHandle_ > 0)
            serial::SendBytes(portHandle_, bytes, uint16_t(count));
    };
    target_ = std::make_unique<serial::TGuiMessageTarget>(
        [this](unsigned msg, uintptr_t wParam, intptr_t lParam) {
            HandleMessage(msg, wParam, lParam);
        });

    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setCursor(Qt::ArrowCursor);
    setHorizontalScrollBarPolicy((style & tsHScroll) ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy((style & tsVScroll) ? Qt::ScrollBarAlwaysOn
                                                   : Qt::ScrollBarAlwaysOff);
    hBarShown_ = (style & tsHScroll) != 0;
    vBarShown_ = (style & tsVScroll) != 0;
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ApplyScrollRequest(true, action); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ApplyScrollRequest(false, action); });

    blinkTimer_.setInterval(blinkMs_);
    connect(&blinkTimer_, &QTimer::timeout, this, &TTerminal::tBlink);
    blinkTimer_.start();
    markingTimer_.setInterval(kMarkingTickMs);
    connect(&markingTimer_, &QTimer::timeout, this, &TTerminal::wmTimer);
    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, &TTerminal::FlushRepaint);
    sinceRepaint_.start();

    tSetInitialSizes();
}

TTerminal::~TTerminal()
{
    blinkTimer_.stop();
    markingTimer_.stop();
    tReleaseComHandle();
    buffer_->SetWindow(nullptr);
}

serial::TMessageTarget &TTerminal::MessageTarget()
{
    return *target_;
}

void TTerminal::HandleMessage(unsigned msg, uintptr_t wParam, intptr_t)
{
    if (msg == serial::MsgTriggerAvail)
        tHandleData(int(wParam & 0xFFFF));
}
// ---- data ----------------------------------------------------------------------------------

void TTerminal::tHandleData(int count)
{
    if (scrollback_) {
        dataHeldBack_ = true;
        return;
    }
    if (portHandle_ == 0)
        return;
    // One read of what was announced (and is still there) instead of a test and a read per
    // byte: the same bytes in the same order, without a lock round per byte.
    uint8_t bytes[8192];
    int left = std::min(count, serial::InputCount(portHandle_));
    while (left > 0) {
        const int chunk = std::min<int>(left, sizeof bytes);
        if (serial::ReadBytes(portHandle_, bytes, uint16_t(chunk)) < 0)
            break;
        for (int i = 0; i < chunk; ++i)
            buffer_->bProcessChar(bytes[i]);
        left -= chunk;
    }
    buffer_->bForcePaint();
}

void TTerminal::tStuffData(const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i)
        buffer_->bProcessChar(bytes[i]);
}

void TTerminal::tForcePaint()
{
    buffer_->bForcePaint();
}

int TTerminal::tStartTerminal(uint32_t passOn)
{
    if (registered_)
        serial::RemoveHandler(portHandle_, target_.get());
    registered_ = false;
    const int result = serial::AddHandler(portHandle_, target_.get(), passOn);
    if (result < 0)
        return result;
    registered_ = true;
    const int threshold = serial::SetDataThreshold(portHandle_, 1);
    return threshold < 0 ? threshold : 0;
}

void TTerminal::tStopTerminal()
{
    if (registered_)
        serial::RemoveHandler(portHandle_, target_.get());
    registered_ = false;
}

void TTerminal::tSetComHandle(int16_t handle)
{
    if (registered_ && handle != portHandle_)
        tStopTerminal();
    portHandle_ = handle;
}

void TTerminal::tReleaseComHandle()
{
    tStopTerminal();
    portHandle_ = 0;
}

void TTerminal::tSetEmulatorPtr(void *context)
{
    buffer_->EmulatorContext = context;
}

void TTerminal::tSetEmulatorProc(TEmulatorRoutine routine)
{
    buffer_->EmulatorRoutine = routine;
}

// ---- buffer requests -----------------------------------------------------------------------

void TTerminal::RedrawWhole()
{
    buffer_->bInvalidateAll();
    buffer_->bMoveCaret();
    buffer_->bPostStatusMsg();
}

void TTerminal::tClearWindow(int which)
{
    if (which == 0)
        buffer_->bClearScreen();
    else
        tClearBuffer();
    buffer_->bForcePaint();
}

void TTerminal::tClearBuffer()
{
    buffer_->bClearBuffer();
    buffer_->bMoveCaret();
}

int TTerminal::bNewBuffer(int rows, int columns, int pageHeight)
{
    const int result = buffer_->bNewBuffer(rows, columns, pageHeight);
    if (result != 0)
        return result;
    buffer_->bUpdateFont(buffer_->CharHeight, buffer_->CharWidth);
    RecalculateVisible();
    tAdjustMaxSize();
    SyncBarsAndView();
    RedrawWhole();
    return 0;
}

void TTerminal::bSetColors(uint8_t foreground, uint8_t background)
{
    buffer_->bSetColors(foreground, background);
    buffer_->bInvalidateAll();
}

void TTerminal::bSetHighlightColors(uint8_t foreground, uint8_t background)
{
    buffer_->bSetHighlightColors(foreground, background);
    buffer_->bInvalidateAll();
}

std::unique_ptr<TTerminalSnapshot> TTerminal::tSave()
{
    auto saved = std::unique_ptr<TTerminalSnapshot>(new (std::nothrow) TTerminalSnapshot);
    if (!saved)
        return nullptr;
    saved->Buffer = buffer_->bSave();
    if (!saved->Buffer)
        return nullptr;
    saved->Font = font_;
    saved->CaretHeight = caretHeight_;
    saved->CaretWidth = caretWidth_;
    return saved;
}

int TTerminal::tRestore(std::unique_ptr<TTerminalSnapshot> saved)
{
    if (!saved || !saved->Buffer)
        return serial::ecBadArgument;
    // The saved client size belongs to the window that was saved, not to this one.
    // So do its port, its emulator (which may have been freed since) and its modes.
    TBuffer &b = *buffer_;
    const int width = b.ClientWidth;
    const int height = b.ClientHeight;
    void *const context = b.EmulatorContext;
    const TEmulatorRoutine routine = b.EmulatorRoutine;
    const bool caret = b.CaretEnabled;
    const int result = b.bRestore(std::move(saved->Buffer));
    b.ClientWidth = width;
    b.ClientHeight = height;
    b.EmulatorContext = context;
    b.EmulatorRoutine = routine;
    b.CaretEnabled = caret;
    b.bSetScrollMode(scrollback_);
    b.Marking = b.MarkingAutoScroll = false;
    b.MarkingTimer = 0;
    if (!wmSetFont(saved->Font)) {
        RecalculateVisible();
        buffer_->bInvalidateAll();
    }
    SyncBarsAndView();
    buffer_->bPostStatusMsg();
    return result;
}

void TTerminal::tSetColorMap(const uint32_t map[16])
{
    std::copy(map, map + 16, buffer_->ColorMap);
    buffer_->bInvalidateAll();
}

void TTerminal::tGetColorMap(uint32_t map[16]) const
{
    std::copy(buffer_->ColorMap, buffer_->ColorMap + 16, map);
}

uint32_t TTerminal::tCurrentColors() const
{
    return uint32_t(buffer_->CurrentBackground) << 16 | buffer_->CurrentForeground;
}

int TTerminal::tGetFontSize() const
{
    return (buffer_->CharWidth & 0xFF) << 8 | (buffer_->CharHeight & 0xFF);
}

void TTerminal::tBlinkTimeChange(int milliseconds)
{
    blinkMs_ = milliseconds;
    blinkTimer_.stop();
    if (milliseconds > 0) {
        blinkTimer_.setInterval(milliseconds);
        blinkTimer_.start();
    }
}

// ---- caret and focus -----------------------------------------------------------------------

void TTerminal::tMakeCaret()
{
    buffer_->CaretEnabled = true;
    caretRect_ = QRect();
    buffer_->bInvalidateAll();
    buffer_->bMoveCaret();
}

void TTerminal::MoveCaret(int32_t x, int32_t y)
{
    const QRect next(x, y, caretWidth_, caretHeight_);
    if (next == caretRect_)
        return;
    if (!caretRect_.isNull())
        pendingRepaint_ += caretRect_;
    caretRect_ = next;
    pendingRepaint_ += caretRect_;
    ScheduleRepaint();
}

void TTerminal::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    hasFocus_ = true;
    tMakeCaret();
}

void TTerminal::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    hasFocus_ = false;
    buffer_->CaretEnabled = false;
    if (!caretRect_.isNull())
        pendingRepaint_ += caretRect_;
    caretRect_ = QRect();
    ScheduleRepaint();
}

void TTerminal::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        buffer_->bInvalidateAll();
}

// ---- notifications -------------------------------------------------------------------------

void TTerminal::PostStatus(uint16_t wParam, uint32_t lParam)
{
    // Posted: the owner hears the latest position with the next frame.
    statusW_ = wParam;
    statusL_ = lParam;
    statusPending_ = true;
    ScheduleRepaint();
}

void TTerminal::SendError(uint16_t code)
{
    if (notify_)
        notify_->TerminalError(code);
}

void TTerminal::SendPositionReport(uint16_t column, uint16_t row)
{
    if (notify_)
        notify_->TerminalPositionReport(column, row);
}

// ---- keyboard ------------------------------------------------------------------------------

bool TTerminal::focusNextPrevChild(bool next)
{
    if (style_ & tsWantTab)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TTerminal::SendKeyBytes(const uint8_t *bytes, int count)
{
    if (count <= 0)
        return;
    if (!halfDuplex_) {
        if (portHandle_ != 0)
            serial::SendBytes(portHandle_, bytes, uint16_t(count));
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (portHandle_ != 0)
            serial::SendBytes(portHandle_, bytes + i, 1);
        buffer_->bProcessChar(bytes[i]);
        buffer_->bForcePaint();
    }
}

void TTerminal::wmKeydown(uint16_t virtualKey, const TKeyRecord &state)
{
    keyRecord_ = state;
    keyRecord_.Handled = false;
    keyRecord_.Length = 0;
    TBuffer &b = *buffer_;
    if (scrollback_) {
        switch (virtualKey) {
        case 33: // page up
            b.bScroll(0, -std::max(b.VisibleRows, 1));
            break;
        case 34: // page down
            b.bScroll(0, std::max(b.VisibleRows, 1));
            break;
        case 35: // end
            b.bScroll(b.bCurLineLength() - b.CursorColumn, 0);
            break;
        case 36: // home
            b.bScroll(-b.Columns, 0);
            break;
        case 37:
            b.bScroll(-1, 0);
            break;
        case 38:
            b.bScroll(0, -1);
            break;
        case 39:
            b.bScroll(1, 0);
            break;
        case 40:
            b.bScroll(0, 1);
            break;
        default:
            break;
        }
        return;
    }
    if (keyRoutine_) {
        keyRoutine_(keyContext_, virtualKey, keyRecord_);
        if (b.CursorKeysApp)
            ToApplicationCursorKey(virtualKey, keyRecord_);
        if (keyRecord_.Handled)
            return SendKeyBytes(reinterpret_cast<const uint8_t *>(keyRecord_.Bytes.data()),
                                keyRecord_.Length);
    }
    // Not in the key map (or its emulator is switched off, as in the RS232 terminal window).
    if (const std::string sequence = CursorKeySequence(b, virtualKey); !sequence.empty())
        SendKeyBytes(reinterpret_cast<const uint8_t *>(sequence.data()), int(sequence.size()));
}

void TTerminal::wmChar(uint8_t c)
{
    // A key the emulator handled was sent at key down already: it is sent once.
    if (keyRoutine_ && keyRecord_.Handled && !scrollback_)
        return;
    // In new-line mode a VT100's Return sends CR LF.
    if (c == '\r' && buffer_->NewLineMode) {
        static const uint8_t kNewLine[] = {'\r', '\n'};
        return SendKeyBytes(kNewLine, sizeof kNewLine);
    }
    SendKeyBytes(&c, 1);
}

void TTerminal::keyPressEvent(QKeyEvent *event)
{
    const TKeyRecord state = KeyRecordOf(*event);
    wmKeydown(state.KeyCode, state);
    // The character the key produces, as Latin-1; keys without one (cursor keys, function keys
    // not handled by the key map) send nothing.
    const QString text = event->text();
    for (const QChar ch : text) {
        if (ch.unicode() <= 0xFF)
            wmChar(uint8_t(ch.unicode()));
    }
    event->accept();
}

} // namespace terminal
