#pragma once
// A screen buffer window that records every request as one line of text, for tests to compare.

#include "terminal/BufferWindow.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport
{

class BufferWindowRecorder : public terminal::TBufferWindow
{
  public:
    std::vector<std::string> Calls;

    std::vector<std::string> Take()
    {
        std::vector<std::string> calls;
        calls.swap(Calls);
        return calls;
    }

    void Invalidate(const terminal::TRect &r, bool erase) override
    {
        Add("invalidate %d,%d,%d,%d%s", r.Left, r.Top, r.Right, r.Bottom, erase ? " erase" : "");
    }
    void InvalidateAll() override { Calls.push_back("invalidate all"); }
    void ScrollContent(int32_t dx, int32_t dy, const terminal::TRect &b) override
    {
        Add("scroll %d,%d in %d,%d,%d,%d", dx, dy, b.Left, b.Top, b.Right, b.Bottom);
    }
    void UpdateNow() override { Calls.push_back("update"); }
    void MoveCaret(int32_t x, int32_t y) override { Add("caret %d,%d", x, y); }
    void ViewMoved(bool vertical) override { Calls.push_back(vertical ? "view v" : "view h"); }
    void UsedRowsChanged() override { Calls.push_back("used rows"); }
    void PostStatus(uint16_t wParam, uint32_t lParam) override
    {
        Add("status %04x %08x", unsigned(wParam), unsigned(lParam));
    }
    void SendPositionReport(uint16_t column, uint16_t row) override
    {
        Add("report %u,%u", unsigned(column), unsigned(row));
    }
    void Bell() override { Calls.push_back("bell"); }

  private:
    __attribute__((format(printf, 2, 3))) void Add(const char *format, ...)
    {
        char line[96];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        Calls.push_back(line);
    }
};

} // namespace testsupport
