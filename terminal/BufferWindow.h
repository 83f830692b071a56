#pragma once
// Everything the screen buffer asks of the window that shows it. The buffer is plain C++; the
// terminal window implements this interface on the GUI thread, tests record it. A buffer without
// a window (a null pointer) makes no calls.

#include <cstdint>

namespace terminal
{

// Notification numbers, as the window's owner receives them.
constexpr unsigned MsgBufferStatus = 0x7E50;         // posted: cursor and view position
constexpr unsigned MsgBufferPositionReport = 0x7E53; // sent: cursor position from the host

// A pixel rectangle of the client area; Right and Bottom are exclusive. Empty when it has no
// height or no width.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;

    bool Empty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect &) const = default;
};

class TBufferWindow
{
  public:
    virtual ~TBufferWindow() = default;

    // Marks an area for repainting; erase asks for the background to be filled first.
    virtual void Invalidate(const TRect &rect, bool erase) = 0;
    virtual void InvalidateAll() = 0;
    // Moves the existing content of band by (dx, dy) pixels (negative = up/left); what the move
    // uncovers is repainted by the window.
    virtual void ScrollContent(int32_t dx, int32_t dy, const TRect &band) = 0;
    // Paints what is invalid now instead of at the next idle moment.
    virtual void UpdateNow() = 0;
    // Places the caret's top left corner (only called while the caret is enabled).
    virtual void MoveCaret(int32_t x, int32_t y) = 0;
    // The view's first row (vertical) or column moved, or may have: the window places its thumb
    // from the view.
    virtual void ViewMoved(bool vertical) = 0;
    // The highest row used grew: the rows the window lets the operator scroll through changed.
    virtual void UsedRowsChanged() = 0;

    // MsgBufferStatus. wParam: low byte cursor page row (1-based from the page's top), high byte
    // cursor column + 1 (both 0 in scrollback mode); lParam: low word first visible row + 1, high
    // word first visible column + 1.
    virtual void PostStatus(uint16_t wParam, uint32_t lParam) = 0;
    // MsgBufferPositionReport: a position the host reported (column, row as received).
    virtual void SendPositionReport(uint16_t column, uint16_t row) = 0;
    // The host sent a bell to an emulated terminal.
    virtual void Bell() = 0;
};

} // namespace terminal
