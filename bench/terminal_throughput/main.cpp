// Throughput of the terminal's character processor: three generated streams of 8 MiB each fed
// through bProcessChar of an 80 x 200 buffer with a 25-row page, in 4 KiB reads as the terminal
// gets them, with a repaint pass after each read. Prints one figure a line:
// terminal_plain_mbps, terminal_colour_mbps, terminal_cursor_mbps (10^6 bytes per second) and
// terminal_peak_kib, the most heap the buffer held. Each figure is the best of three runs, so a
// moment of contention on a shared machine does not decide it. An argument (plain, colour or
// cursor) runs that stream once alone, for a profiler.

#include "bench/support/NullBufferWindow.h"
#include "bench/terminal_throughput/Streams.h"
#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

using namespace terminal;

namespace
{

constexpr size_t kStreamBytes = 8u << 20;
constexpr size_t kReadSize = 4096;

size_t gPeakBytes = 0;

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double Measure(const std::string &stream, uint8_t emulation)
{
    benchsupport::NullBufferWindow window;
    auto buffer = benchsupport::MakeShownBuffer(window);
    if (!buffer) {
        std::fprintf(stderr, "cannot create the buffer\n");
        std::exit(1);
    }
    TApdCustomEmulator emulator;
    emulator.SetEmulationType(emulation);
    if (emulation != etNone) {
        buffer->EmulatorContext = &emulator;
        buffer->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(stream.data());
    const double start = ThreadSeconds();
    for (size_t at = 0; at < stream.size(); at += kReadSize) {
        const size_t end = std::min(stream.size(), at + kReadSize);
        for (size_t i = at; i < end; ++i)
            buffer->bProcessChar(bytes[i]);
        buffer->bForcePaint();
    }
    const double seconds = ThreadSeconds() - start;
    gPeakBytes = std::max(gPeakBytes, buffer->MemoryUsed());
    return static_cast<double>(stream.size()) / seconds / 1e6;
}

} // namespace

double Best(const std::string &stream, uint8_t emulation, int runs)
{
    double best = 0;
    for (int i = 0; i < runs; ++i)
        best = std::max(best, Measure(stream, emulation));
    return best;
}

int main(int argc, char **argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    const int runs = only.empty() ? 3 : 1;
    const auto run = [&](const char *name, std::string (*make)(size_t, unsigned), unsigned seed,
                         uint8_t emulation) {
        if (!only.empty() && only != name)
            return;
        std::printf("terminal_%s_mbps=%.1f\n", name,
                    Best(make(kStreamBytes, seed), emulation, runs));
    };
    run("plain", termbench::PlainStream, 1, etNone);
    run("colour", termbench::ColourStream, 2, etAnsi);
    run("cursor", termbench::CursorStream, 3, etAnsi);
    std::printf("terminal_peak_kib=%zu\n", (gPeakBytes + 1023) / 1024);
    return 0;
}
