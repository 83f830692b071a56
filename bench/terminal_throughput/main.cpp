// Throughput of the terminal's character processor: three generated streams of 8 MiB each fed
// through bProcessChar of an 80 x 200 buffer with a 25-row page, in 4 KiB reads as the terminal
// gets them, with a repaint pass after each read. Prints one figure a line:
// terminal_plain_mbps, terminal_colour_mbps, terminal_cursor_mbps (10^6 bytes per second) and
// terminal_peak_kib, the most heap the buffer held.

#include "bench/terminal_throughput/Streams.h"
#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

using namespace terminal;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr size_t kStreamBytes = 8u << 20;
constexpr size_t kReadSize = 4096;

// A window that accepts every request, as a shown terminal would, without painting.
class NullWindow : public TBufferWindow
{
  public:
    void Invalidate(const TRect &, bool) override {}
    void InvalidateAll() override {}
    void ScrollContent(int32_t, int32_t, const TRect &) override {}
    void UpdateNow() override {}
    void MoveCaret(int32_t, int32_t) override {}
    void SetScrollRange(bool, int32_t, int32_t) override {}
    void SetScrollPos(bool, int32_t) override {}
    void PostStatus(uint16_t, uint32_t) override {}
    void SendError(uint16_t) override {}
    void SendPositionReport(uint16_t, uint16_t) override {}
};

size_t gPeakBytes = 0;

double Measure(const std::string &stream, uint8_t emulation)
{
    NullWindow window;
    auto buffer = TBuffer::Create(&window, 80, 200);
    if (!buffer) {
        std::fprintf(stderr, "cannot create the buffer\n");
        std::exit(1);
    }
    buffer->ClientWidth = 80 * 8;
    buffer->ClientHeight = 25 * 16;
    buffer->bUpdateFont(16, 8);
    TApdCustomEmulator emulator;
    emulator.SetEmulationType(emulation);
    if (emulation != etNone) {
        buffer->EmulatorContext = &emulator;
        buffer->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(stream.data());
    const auto start = Clock::now();
    for (size_t at = 0; at < stream.size(); at += kReadSize) {
        const size_t end = std::min(stream.size(), at + kReadSize);
        for (size_t i = at; i < end; ++i)
            buffer->bProcessChar(bytes[i]);
        buffer->bForcePaint();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    gPeakBytes = std::max(gPeakBytes, buffer->MemoryUsed());
    return static_cast<double>(stream.size()) / seconds / 1e6;
}

} // namespace

int main()
{
    const std::string plain = termbench::PlainStream(kStreamBytes, 1);
    const std::string colour = termbench::ColourStream(kStreamBytes, 2);
    const std::string cursor = termbench::CursorStream(kStreamBytes, 3);
    std::printf("terminal_plain_mbps=%.1f\n", Measure(plain, etNone));
    std::printf("terminal_colour_mbps=%.1f\n", Measure(colour, etAnsi));
    std::printf("terminal_cursor_mbps=%.1f\n", Measure(cursor, etAnsi));
    std::printf("terminal_peak_kib=%zu\n", (gPeakBytes + 1023) / 1024);
    return 0;
}
