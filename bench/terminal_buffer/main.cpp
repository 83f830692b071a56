// Throughput of the screen buffer's write path: text lines ending in CR LF written through
// bWriteChar into an 80 x 200 buffer with page height 25, shown in a 80 x 25 window of 8 x 16
// pixel cells, painted (bForcePaint) after every 4096 bytes as a batch of received data is.
// Nearly every line feed scrolls the whole buffer. Reports bytes per second and the heap bytes
// the buffer holds (cells, row index and, with capture on, the capture buffer).

#include "bench/support/NullBufferWindow.h"
#include "terminal/Buffer.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace terminal;

namespace
{

std::string Text(int lineLength)
{
    std::string text;
    for (int line = 0; text.size() < 64 * 1024; ++line) {
        for (int i = 0; i < lineLength; ++i)
            text += char('!' + (line + i) % 94);
        text += "\r\n";
    }
    return text;
}

void WriteLines(benchmark::State &state)
{
    benchsupport::NullBufferWindow window;
    auto buffer = benchsupport::MakeShownBuffer(window);
    buffer->CaretEnabled = state.range(1) != 0;
    const std::string text = Text(int(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < text.size(); ++i) {
            buffer->bWriteChar(uint8_t(text[i]));
            if ((i & 4095) == 4095)
                buffer->bForcePaint();
        }
        bytes += text.size();
    }
    benchmark::DoNotOptimize(buffer->CharAt(0, 0));
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["buffer_heap_bytes"] = double(buffer->MemoryUsed());
}

} // namespace

// Line length 78 (CR LF ends the row), 80 (the wrap makes an empty line) and 10 (mostly line
// feeds); with and without the caret.
BENCHMARK(WriteLines)->Args({78, 0})->Args({80, 0})->Args({10, 0})->Args({78, 1});

BENCHMARK_MAIN();
