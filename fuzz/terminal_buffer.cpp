// Fuzzes the terminal's screen buffer: the input is decoded into a sequence of buffer operations
// (new buffers of small and odd sizes, writes, line feeds, scrolling, moving the view, marking,
// tab stops, a capture file on and off fed with the bytes the buffer hands on, save and restore,
// the scroll region and cursor as an emulator would set them). After every operation the buffer's
// invariants are checked; capture files must hold exactly the bytes written while capture was on;
// a restore brings back what was saved.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "terminal/Buffer.h"
#include "terminal/CaptureFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace terminal;

namespace
{

std::string CaptureFile(int which)
{
    return fuzzscratch::Folder("buffer_fuzz") + "/capture" + std::to_string(which);
}

std::string ReadFile(const std::string &name)
{
    std::string content;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    struct stat info {
    };
    if (::fstat(fd, &info) == 0) {
        content.resize(size_t(info.st_size));
        FUZZ_CHECK(::read(fd, content.data(), content.size()) == ssize_t(content.size()));
    }
    ::close(fd);
    return content;
}

// Requests of the buffer must stay sane; the numbers themselves are checked by the tests.
class CheckingWindow : public TBufferWindow
{
  public:
    void Invalidate(const TRect &, bool) override {}
    void InvalidateAll() override {}
    void ScrollContent(int32_t, int32_t, const TRect &band) override
    {
        FUZZ_CHECK(band.Top <= band.Bottom);
    }
    void UpdateNow() override {}
    void MoveCaret(int32_t, int32_t) override {}
    void ViewMoved(bool) override {}
    void UsedRowsChanged() override {}
    void PostStatus(uint16_t, uint32_t) override {}
    void SendPositionReport(uint16_t, uint16_t) override {}
    void Bell() override {}
};

class Input
{
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool More() const { return pos_ < size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int Signed() { return int8_t(Byte()); }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

bool TableSorted(const uint8_t *table, int size)
{
    for (int i = 0; i + 1 < size; ++i)
        if (table[i] > table[i + 1] || (table[i] != 0 && table[i] == table[i + 1]))
            return false;
    return true;
}

void CheckInvariants(const TBuffer &b)
{
    FUZZ_CHECK(TableSorted(b.VerticalTabs, kVerticalTabSlots));
    if (b.CellCount == 0)
        return;
    FUZZ_CHECK(b.Columns >= 1 && b.Columns <= kMaxColumns);
    FUZZ_CHECK(b.Rows >= b.PageHeight && b.PageHeight >= 1 && b.CellCount == b.Rows * b.Columns);
    FUZZ_CHECK(b.CellCount <= kMaxCells);
    FUZZ_CHECK(b.CursorColumn >= 0 && b.CursorColumn < b.Columns);
    FUZZ_CHECK(b.CursorRow >= 0 && b.CursorRow < b.Rows);
    FUZZ_CHECK(b.FirstVisibleRow >= 0 && b.FirstVisibleRow < b.Rows);
    FUZZ_CHECK(b.FirstVisibleColumn >= 0 && b.FirstVisibleColumn < b.Columns);
    FUZZ_CHECK(b.HighestRow >= b.PageHeight - 1 && b.HighestRow < b.Rows);
    if (b.Marking || b.MarkValid) {
        FUZZ_CHECK(b.StartRow < b.EndRow ||
                   (b.StartRow == b.EndRow && b.StartColumn <= b.EndColumn));
        FUZZ_CHECK(b.StartRow >= 0 && b.EndRow < b.Rows);
        FUZZ_CHECK(b.StartColumn >= 0 && b.EndColumn < b.Columns);
    }
    FUZZ_CHECK(b.bCurLineLength() <= b.Columns);
}

// The row index is a permutation: every row has cells of its own.
void CheckRowIndex(const TBuffer &b)
{
    std::vector<const uint8_t *> rows;
    for (int r = 0; r < b.Rows; ++r)
        rows.push_back(b.CharRow(r));
    std::sort(rows.begin(), rows.end());
    FUZZ_CHECK(std::adjacent_find(rows.begin(), rows.end()) == rows.end());
}

std::string Screen(const TBuffer &b)
{
    std::string all;
    for (int r = 0; r < b.Rows; ++r) {
        all.append(reinterpret_cast<const char *>(b.CharRow(r)), size_t(b.Columns));
        all.append(reinterpret_cast<const char *>(b.ColorRow(r)), size_t(b.Columns));
        all.append(reinterpret_cast<const char *>(b.AttrRow(r)), size_t(b.Columns));
    }
    return all;
}

struct CaptureModel {
    bool On = false;
    std::string Name;
    std::string Expected;
};

void CheckCaptureClosed(CaptureModel &model)
{
    if (model.On)
        FUZZ_CHECK(ReadFile(model.Name) == model.Expected);
    model.On = false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    // Each input starts without capture files, so it runs the same way every time.
    for (int which = 0; which < 2; ++which)
        ::unlink(CaptureFile(which).c_str());
    CheckingWindow window;
    auto buffer = TBuffer::Create(in.Byte() & 1 ? &window : nullptr, 20, 30);
    FUZZ_CHECK(buffer != nullptr);
    TBuffer &b = *buffer;
    CaptureModel capture;
    TCaptureFile captureFile;
    b.OnWriteByte = [&](uint8_t c) { captureFile.Add(c); };
    std::unique_ptr<TBufferSnapshot> saved;
    std::string savedScreen;

    int operations = 0;
    while (in.More() && ++operations < 256) {
        const uint8_t op = in.Byte();
        switch (op % 20) {
        case 0: { // a new buffer of a small or odd size; sizes out of range are refused
            const int columns = op & 0x20 ? kMaxColumns - in.Byte() % 3 : in.Byte() % 40;
            const int page = in.Byte() % 12;
            const int rows = page + in.Byte() % 60 - 2;
            const int before = b.CellCount;
            const int rc = b.bNewBuffer(rows, columns, page);
            FUZZ_CHECK(rc == 0 || rc == -1002);
            FUZZ_CHECK(rc != 0 || b.CellCount == rows * columns);
            FUZZ_CHECK(rc == 0 || b.CellCount == before);
            break;
        }
        case 1:
        case 2:
        case 3: { // bytes, mostly printable, with backspace, CR and LF
            const int count = in.Byte() % 64;
            for (int i = 0; i < count; ++i) {
                uint8_t c = in.Byte();
                if (c >= 0xF0)
                    c = "\b\r\n\n"[c & 3];
                b.bWriteChar(c);
                if (capture.On && captureFile.IsOpen())
                    capture.Expected += char(c);
            }
            break;
        }
        case 4: // many line feeds
            for (int i = in.Byte() % 64; i > 0; --i) {
                b.bWriteChar('\n');
                if (capture.On && captureFile.IsOpen())
                    capture.Expected += '\n';
            }
            break;
        case 5:
            b.bScroll(in.Signed(), in.Signed());
            break;
        case 6:
            op & 0x20 ? b.bGotoTop(op & 0x40) : b.bGotoBottom(op & 0x40);
            break;
        case 7: { // marking as the mouse does it
            if (op & 0x20) {
                b.bResetMarking();
                b.Marking = true;
                if (b.CellCount) {
                    b.AnchorColumn = std::min(b.bConvertToCol(in.Byte()), b.Columns - 1);
                    b.AnchorRow = std::min(b.bConvertToRow(in.Byte()), b.Rows - 1);
                }
                b.StartColumn = b.EndColumn = b.AnchorColumn;
                b.StartRow = b.EndRow = b.AnchorRow;
            }
            b.bUpdateMarks(in.Signed() * 8, in.Signed() * 8);
            if (op & 0x40) {
                b.Marking = false;
                b.MarkValid = true;
            }
            break;
        }
        case 8: {
            const int stop = in.Byte();
            switch (op >> 5 & 3) {
            case 0:
                b.bSetHorizontalTabStop(stop);
                break;
            case 1:
                b.bClearHorizontalTabStop(stop);
                break;
            case 2:
                b.bSetVerticalTabStop(stop);
                break;
            default:
                b.bClearVerticalTabStop(stop);
            }
            const int next = b.bGetNextTabStop(stop, in.Byte() % 4);
            FUZZ_CHECK(next == b.Columns || (next > stop && next < b.Columns));
            const int prev = b.bGetPrevTabStop(stop, in.Byte() % 4);
            FUZZ_CHECK(prev == 1 || (prev >= 1 && prev < stop));
            break;
        }
        case 9: { // capture on or off
            if (op & 0x20) {
                const bool append = op & 0x40;
                const std::string name = CaptureFile(op >> 7);
                const std::string before = append ? ReadFile(name) : std::string();
                const bool wasOn = captureFile.IsOpen();
                FUZZ_CHECK(captureFile.Open(append, name) == 0);
                if (!wasOn)
                    capture = {true, name, before};
            } else {
                FUZZ_CHECK(captureFile.Close() == 0);
                CheckCaptureClosed(capture);
            }
            break;
        }
        case 10: // save, or restore what was saved
            if (!saved) {
                saved = b.bSave();
                FUZZ_CHECK(saved != nullptr);
                savedScreen = Screen(b);
            } else {
                FUZZ_CHECK(b.bRestore(std::move(saved)) == 0);
                FUZZ_CHECK(Screen(b) == savedScreen);
            }
            break;
        case 11:
            op & 0x20 ? b.bClearBuffer() : b.bClearScreen();
            break;
        case 12: // a window size and font
            b.ClientWidth = in.Byte() * 4;
            b.ClientHeight = in.Byte() * 4;
            b.bUpdateFont(in.Byte() % 24, in.Byte() % 12);
            break;
        case 13: // a scroll region as an emulator may set it, unchecked
            b.RegionTop = in.Byte();
            b.RegionBottom = in.Byte();
            break;
        case 14: // the cursor, as an emulator sets it within the buffer
            if (b.CellCount) {
                b.CursorColumn = in.Byte() % b.Columns;
                b.CursorRow = (b.FirstVisibleRow + in.Signed()) % b.Rows;
                if (b.CursorRow < 0)
                    b.CursorRow += b.Rows;
            }
            break;
        case 15:
            b.bSetScrollMode(op & 0x20);
            break;
        case 16:
            b.CurrentForeground = in.Byte() & 15;
            b.CurrentBackground = in.Byte() & 15;
            b.CurrentAttributes = in.Byte() & 0x1F;
            b.BlinkPhase = op & 0x20;
            b.CaretEnabled = op & 0x40;
            break;
        case 17:
            b.bForcePaint();
            FUZZ_CHECK(!b.bNeedPaint() && b.PendingVerticalScroll == 0);
            break;
        case 18: { // the row moves of the emulators' line commands
            const int first = in.Signed(), last = in.Signed(), count = in.Signed();
            op & 0x20 ? b.RotateRowsUp(first, last, count) : b.RotateRowsDown(first, last, count);
            b.BlankCells(in.Signed(), in.Signed(), in.Byte(), in.Byte(), 0);
            CheckRowIndex(b);
            break;
        }
        default:
            b.bInvalidateChar(in.Byte(), in.Byte());
            b.bInvalidateRows(in.Signed(), in.Signed());
            break;
        }
        CheckInvariants(b);
    }
    CheckRowIndex(b);
    FUZZ_CHECK(captureFile.Close() == 0);
    CheckCaptureClosed(capture);
    return 0;
}
