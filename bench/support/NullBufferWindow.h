#pragma once
// For the terminal benchmarks: a window that takes every request of the screen buffer and does
// nothing, so only the buffer is measured, and a buffer as the terminal window makes it (80 x
// 200, page height 25) shown in an 80 x 25 window of 8 x 16 pixel cells.

#include "terminal/Buffer.h"

#include <memory>

namespace benchsupport
{

class NullBufferWindow : public terminal::TBufferWindow
{
  public:
    void Invalidate(const terminal::TRect &, bool) override {}
    void InvalidateAll() override {}
    void ScrollContent(int32_t, int32_t, const terminal::TRect &) override {}
    void UpdateNow() override {}
    void MoveCaret(int32_t, int32_t) override {}
    void ViewMoved(bool) override {}
    void UsedRowsChanged() override {}
    void PostStatus(uint16_t, uint32_t) override {}
    void SendPositionReport(uint16_t, uint16_t) override {}
    void Bell() override {}
};

// Null when the buffer cannot be made.
inline std::unique_ptr<terminal::TBuffer> MakeShownBuffer(NullBufferWindow &window)
{
    auto buffer = terminal::TBuffer::Create(&window, 80, 200);
    if (buffer) {
        buffer->ClientWidth = 80 * 8;
        buffer->ClientHeight = 25 * 16;
        buffer->bUpdateFont(16, 8);
    }
    return buffer;
}

} // namespace benchsupport
