#pragma once
// The terminal window: a Qt widget that owns the screen buffer, paints it with a fixed-pitch
// font, keeps the caret and the scroll bars in step, turns keys into bytes for the serial port,
// lets the operator select text with the mouse and copy it, blinks blinking cells, and offers a
// scrollback mode for browsing old lines.
//
// Every request from the owner (the terminal component) is a public method named after the
// request's handler. Received data arrives as the dispatcher's MsgTriggerAvail through the
// window's message target; bytes to the device leave through the dispatcher's SendBytes. The
// buffer's status and position-report notifications, and the window's own copy error, go to the
// owner's TTerminalNotify.
//
// The window's area is the viewport of the scroll area (the "client area" of the buffer's
// arithmetic). Painting is coalesced: the buffer's requests only collect the area to repaint,
// and the window repaints it once per batch at the next idle moment (never per byte).
//
// GUI thread only.

#include "terminal/Buffer.h"
#include "terminal/DecGraphics.h"
#include "terminal/KeyRecord.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QGlyphRun>
#include <QRegion>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

namespace serial
{
class TGuiMessageTarget;
class TMessageTarget;
} // namespace serial

namespace terminal
{

// Style bits of the terminal window.
constexpr uint32_t tsWantTab = 0x01;
constexpr uint32_t tsIntegralHeight = 0x02;
constexpr uint32_t tsIntegralWidth = 0x04;
constexpr uint32_t tsAutoHScroll = 0x08;
constexpr uint32_t tsAutoVScroll = 0x10;
// Scroll bars that are always present (the toolkit's scroll-bar styles).
constexpr uint32_t tsHScroll = 0x100;
constexpr uint32_t tsVScroll = 0x200;

// The marking timer's id as the buffer records it, and the timers' periods.
constexpr int kMarkingTimerId = 1;
constexpr int kDefaultBlinkMs = 550;
constexpr int kMarkingTickMs = 50;
// The error notification for a copy that found no memory (-8 as 16 bits).
constexpr uint16_t kCopyOutOfMemory = 65528;

// A colour map entry (0x00BBGGRR) as a colour to paint with.
inline QColor ColorOf(uint32_t entry)
{
    return QColor(int(entry & 0xFF), int(entry >> 8 & 0xFF), int(entry >> 16 & 0xFF));
}

// What the window's owner hears from the buffer.
class TTerminalNotify
{
  public:
    virtual ~TTerminalNotify() = default;
    // wParam: low byte cursor page row, high byte cursor column + 1 (0 in scrollback mode);
    // lParam: low word first visible row + 1, high word first visible column + 1.
    virtual void TerminalStatus(uint16_t wParam, uint32_t lParam) = 0;
    virtual void TerminalError(uint16_t code) = 0;
    virtual void TerminalPositionReport(uint16_t column, uint16_t row) = 0;
};

// The cell arrays of the buffer, for tGetBuffPtr. Rows are reached through the buffer's row
// index, so the record holds the buffer itself rather than flat arrays.
struct TBufferPointers {
    const TBuffer *Buffer = nullptr;
};

// A saved window: the buffer's cells and state, with the window's font and caret data.
struct TTerminalSnapshot {
    std::unique_ptr<TBufferSnapshot> Buffer;
    QFont Font;
    int CaretHeight = 0;
    int CaretWidth = 0;
};

class TTerminal : public QAbstractScrollArea, private TBufferWindow
{
    Q_OBJECT

  public:
    // Creation: an 80 x 200 buffer with page height 25, port handle 0, scrollback off, caret
    // off, no key emulator, the blink timer running, and the default fixed font applied.
    // Throws std::bad_alloc when the buffer cannot be made.
    explicit TTerminal(uint32_t style, TTerminalNotify *notify = nullptr,
                       QWidget *parent = nullptr);
    // Unregistered from the dispatcher, buffer freed.
    ~TTerminal() override;

    TBuffer &aBuffer() { return *buffer_; }
    const TBuffer &aBuffer() const { return *buffer_; }
    uint32_t Style() const { return style_; }
    void SetNotify(TTerminalNotify *notify) { notify_ = notify; }

    // The message target the dispatcher delivers MsgTriggerAvail to.
    serial::TMessageTarget &MessageTarget();

    // Requests of the owner.
    void tHandleData(int count);
    // Registers with the dispatcher (pass-on value as given) with an avail threshold of 1; 0 or
    // the dispatcher's error.
    int tStartTerminal(uint32_t passOn = 1);
    void tStopTerminal();
    void tSetComHandle(int16_t handle);
    void tReleaseComHandle();
    int16_t PortHandle() const { return portHandle_; }
    void tSetEmulatorPtr(void *context);
    void tSetEmulatorProc(TEmulatorRoutine routine);
    // 0 clears the screen, 1 the whole buffer.
    void tClearWindow(int which);
    void tClearBuffer();
    // bNewBuffer of the buffer, then the window takes the new geometry; its result.
    int bNewBuffer(int rows, int columns, int pageHeight);
    void bSetColors(uint8_t foreground, uint8_t background);
    void bSetHighlightColors(uint8_t foreground, uint8_t background);
    void tToggleScrollback();
    bool Scrollback() const { return scrollback_; }
    // Passes the bytes to the buffer without painting; the owner forces the paint.
    void tStuffData(const uint8_t *bytes, int count);
    void tForcePaint();
    // Null when memory ran out (nothing is taken then).
    std::unique_ptr<TTerminalSnapshot> tSave();
    // Takes over the saved cells and state; 0, or ecBadArgument without cells saved.
    int tRestore(std::unique_ptr<TTerminalSnapshot> saved);
    void tSetColorMap(const uint32_t map[16]);
    void tGetColorMap(uint32_t map[16]) const;
    uint32_t tCurrentColors() const; // background << 16 | foreground
    // Takes as much of the room as the page and the bars it needs can use.
    void FitInto(const QSize &room);
    // Moves the view no further than needed to show the cursor's cell.
    void ViewToCursor();
    // Resizes the window so that its area holds exactly columns x rows cells.
    void tForceSize(int columns, int rows);
    int tGetFontSize() const; // char width << 8 | char height, low bytes
    void tBlinkTimeChange(int milliseconds);
    int BlinkTime() const { return blinkMs_; }
    void tPersistentMarkChange(bool on) { persistentMark_ = on; }
    bool PersistentMark() const { return persistentMark_; }
    void tSetKeyEmulatorPtr(const void *context) { keyContext_ = context; }
    void tSetKeyEmulatorProc(TKeyEmulatorProc routine) { keyRoutine_ = routine; }
    void tSetHalfDuplex(bool on) { halfDuplex_ = on; }
    bool HalfDuplex() const { return halfDuplex_; }
    TBufferPointers tGetBuffPtr() const { return {buffer_.get()}; }
    int tGetFirstClientLine() const { return buffer_->FirstVisibleRow; }

    // Font: one whose glyphs do not all advance alike is refused (false, the old font stays).
    // A font taken is shown at once: cells, visible rows and columns, bars and view.
    bool wmSetFont(const QFont &font);
    // The default: the system's fixed font, or else an installed fixed-pitch family.
    void wmSetFont();
    const QFont &Font() const { return font_; }
    int CharWidth() const { return buffer_->CharWidth; }
    int CharHeight() const { return buffer_->CharHeight; }

    // Copies a valid selection to the clipboard as Latin-1 text, each row followed by CR LF.
    void wmCopy();
    // The text wmCopy places on the clipboard (empty without a valid selection).
    std::string SelectionText() const;

    // Requests of the toolkit, each named after its handler.
    void wmSize(int width, int height);
    void tPaint(QPainter &painter, const QRect &update);
    void tBlink();
    void wmTimer(); // the marking timer's tick
    bool tFullWidth() const;
    bool tFullHeight() const;
    // Each bar's presence (automatic bars), range and thumb, with the view clamped to what the
    // bar can reach.
    void tCheckVScroll();
    void tCheckHScroll();
    // Both bars and the view brought to agree, checked again while a bar comes or goes. Run
    // whenever bars, sizes, the buffer's geometry or the font change.
    void SyncBarsAndView();
    // After the view moved or the cells changed size: everything drawn again, the caret placed
    // and the owner told where the cursor and the view are.
    void RedrawWhole();
    // The largest size of the window itself: the page plus the frame, limited to the screen.
    QSize MaximumWindowSize() const;
    bool VerticalBarShown() const { return vBarShown_; }
    bool HorizontalBarShown() const { return hBarShown_; }

    // Keys, as the widget's key events call them; public so the owner can pass keys on.
    void wmKeydown(uint16_t virtualKey, const TKeyRecord &state);
    void wmChar(uint8_t c);

    QSize sizeHint() const override;

    // Text-output calls made by painting so far (one per run of equal colours).
    int RunsPainted() const { return runsPainted_; }
    // Paint events handled so far, and whether a repaint is still to come.
    int PaintsDone() const { return paintsDone_; }
    bool RepaintPending() const { return repaintTimer_.isActive() || !pendingRepaint_.isEmpty(); }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    // TBufferWindow: collected, painted at the next idle moment.
    void Invalidate(const TRect &rect, bool erase) override;
    void InvalidateAll() override;
    void ScrollContent(int32_t dx, int32_t dy, const TRect &band) override;
    void UpdateNow() override;
    void MoveCaret(int32_t x, int32_t y) override;
    void ViewMoved(bool vertical) override;
    void UsedRowsChanged() override;
    void PostStatus(uint16_t wParam, uint32_t lParam) override;
    void SendPositionReport(uint16_t column, uint16_t row) override;
    void Bell() override { QApplication::beep(); }

    // The owner's error notification (a copy that found no memory).
    void SendError(uint16_t code);

    void HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam);
    void tSetInitialSizes();
    void tAdjustMaxSize();
    void tAdjustIntSize();
    void tAdjustClient();
    void tMakeCaret();
    void tTextOutColor(QPainter &painter, int windowRow, int firstColumn, int count, int bufferRow);
    // What a run's glyphs leave out: the drawn DEC graphics and the underline of count cells
    // starting at window cell (column, windowRow).
    void DrawCellMarks(QPainter &painter, int windowRow, int column, const uint8_t *chars,
                       const uint8_t *attrs, int count, const QColor &color);
    void SendKeyBytes(const uint8_t *bytes, int count);
    void ScheduleRepaint();
    void FlushRepaint();
    void ApplyFont(const QFont &font);
    void LoadGlyphs();
    // After a change of size or font: no larger than the page, whole cells, cells counted, bars
    // and view agreed; the view keeps its bottom row when asked.
    void SettleSize(bool keepBottom);
    void ShowBar(bool vertical, bool shown);
    void ApplyBar(bool vertical, bool needed, int maximum, int visible);
    void SetScrollRange(bool vertical, int32_t minimum, int32_t maximum);
    // The first visible row (column) the bar can reach: from Lowest at thumb 0 to Highest.
    struct TViewRange {
        int Lowest;
        int Highest;
    };
    TViewRange ViewRange(bool vertical) const;
    int ThumbOf(bool vertical) const;
    void ClampView(bool vertical);
    void PlaceThumb(bool vertical);
    void ApplyScrollRequest(bool vertical, int action);
    void wmLButtonDown(int x, int y, bool shift);
    void wmMouseMove(int x, int y);
    void wmLButtonUp();
    QRect CellRect(int column, int row) const;
    void ResizeWindowTo(int clientWidth, int clientHeight);
    // The client size from the viewport (at most the page when asked), and the cells it holds.
    void ReadClientSize(bool limitToPage);
    void CountVisible();
    void RecalculateVisible(); // CountVisible, keeping the previous counts
    void RefreshClientSize();
    QSize BarExtents() const;
    // The client area the window's size and its bars leave (valid while hidden, too).
    QSize ClientArea() const;
    // The selected columns of a buffer row, inclusive; first > last when none is.
    void SelectedColumns(int bufferRow, int &first, int &last) const;

    std::unique_ptr<TBuffer> buffer_;
    TTerminalNotify *notify_ = nullptr;
    std::unique_ptr<serial::TGuiMessageTarget> target_;
    uint32_t style_ = 0;
    QFont font_;
    int16_t portHandle_ = 0;
    bool registered_ = false;
    int caretHeight_ = 0;
    int caretWidth_ = 0;
    bool scrollback_ = false;
    bool dataHeldBack_ = false;
    bool vBarShown_ = false;
    bool hBarShown_ = false;
    bool hasFocus_ = false;
    bool persistentMark_ = false;
    bool halfDuplex_ = false;
    const void *keyContext_ = nullptr;
    TKeyEmulatorProc keyRoutine_ = nullptr;
    TKeyRecord keyRecord_;

    QTimer blinkTimer_;
    QTimer markingTimer_;
    QTimer repaintTimer_;
    int blinkMs_ = kDefaultBlinkMs;
    QElapsedTimer sinceRepaint_;
    QRegion pendingRepaint_;
    int pendingScroll_ = 0; // pixels the band still has to move at the next frame
    QRect scrollBand_;
    int ascent_ = 0;
    int underlinePos_ = 0; // pixels below the baseline
    quint32 glyphOf_[256] = {};
    TDecGlyphs decGlyphs_;
    QGlyphRun glyphRun_;
    QList<quint32> glyphIndexes_;
    QList<QPointF> glyphPositions_;
    bool statusPending_ = false; // posted: the owner hears the latest at the next frame
    uint16_t statusW_ = 0;
    uint32_t statusL_ = 0;
    QRect caretRect_;
    QPoint lastMouse_;
    int runsPainted_ = 0;
    int paintsDone_ = 0;
    bool dragged_ = false;         // the mouse moved (or Shift extended) since the button went down
    bool adjusting_ = false;       // a size change of our own is under way
    bool flushing_ = false;        // the frame is being handed to Qt
    bool syncingBars_ = false;     // bar values set from the buffer, not by the operator
    bool inScrollRequest_ = false; // thumbs are placed at once while the operator scrolls
    bool pendingThumb_[2] = {false, false}; // horizontal, vertical: placed with the next frame
    bool pendingVRange_ = false;            // scrollback's vertical range, set with the next frame
};

} // namespace terminal
