// Long random streams through every emulation type on the usual, the widest and the tallest
// buffers: the cursor, the view, the scroll region and the colours stay in bounds. The streams
// are biased towards escape sequences, with runs of parameters far past five and five digits.

#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace terminal;

namespace
{

std::string RandomStream(size_t bytes, unsigned seed)
{
    static const char kSequenceBytes[] = "0123456789;;;;?=[()ABCDEFGHIJKLMPRXYZ@`abcdefghilmnrsu78";
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_int_distribution<size_t> pick(0, sizeof kSequenceBytes - 2);
    std::uniform_int_distribution<int> length(0, 40);
    std::string out;
    while (out.size() < bytes) {
        switch (kind(rng)) {
        case 0:
        case 1:
        case 2: {
            out += '\x1b';
            for (int n = length(rng); n > 0; --n)
                out += kSequenceBytes[pick(rng)];
            break;
        }
        case 3:
            out += "\x1b[" + std::to_string(rng() % 100000) + ";99999;255;0;65535H";
            break;
        default:
            out += static_cast<char>(any(rng));
            break;
        }
    }
    out.resize(bytes);
    return out;
}

struct Shape {
    int Columns, Rows;
};

class RandomStreams : public ::testing::TestWithParam<std::tuple<int, Shape>>
{
};

TEST_P(RandomStreams, StayInBounds)
{
    const auto [type, shape] = GetParam();
    auto buffer = TBuffer::Create(nullptr, shape.Columns, shape.Rows);
    ASSERT_NE(buffer, nullptr);
    buffer->ClientWidth = shape.Columns * 8;
    buffer->ClientHeight = buffer->PageHeight * 16;
    buffer->bUpdateFont(16, 8);
    TApdCustomEmulator emulator;
    emulator.SetEmulationType(uint8_t(type));
    if (type != etNone) {
        buffer->EmulatorContext = &emulator;
        buffer->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
    }
    const std::string stream = RandomStream(1u << 20, unsigned(type * 7 + shape.Rows));
    const TBuffer &b = *buffer;
    for (size_t i = 0; i < stream.size(); ++i) {
        buffer->bProcessChar(uint8_t(stream[i]));
        if (i % 509 != 0)
            continue;
        buffer->bForcePaint();
        ASSERT_LT(unsigned(b.CursorColumn), unsigned(b.Columns)) << i;
        ASSERT_LT(unsigned(b.CursorRow), unsigned(b.Rows)) << i;
        ASSERT_LT(unsigned(b.FirstVisibleRow), unsigned(b.Rows)) << i;
        ASSERT_TRUE(1 <= b.RegionTop && b.RegionTop <= b.RegionBottom &&
                    b.RegionBottom <= b.PageHeight)
            << i;
        ASSERT_TRUE(b.CurrentForeground < 16 && b.CurrentBackground < 16) << i;
        if (emulator.State()) {
            ASSERT_LE(emulator.State()->CollectedCount, kMaxCollected) << i;
            ASSERT_LE(emulator.State()->ParamIndex, kMaxParams) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryType, RandomStreams,
                         ::testing::Combine(::testing::Range(0, int(kLastEmulationType) + 1),
                                            ::testing::Values(Shape{80, 200}, Shape{133, 492},
                                                              Shape{1, 65535})),
                         [](const auto &param) {
                             const Shape shape = std::get<1>(param.param);
                             return "Type" + std::to_string(std::get<0>(param.param)) + "_" +
                                    std::to_string(shape.Columns) + "x" +
                                    std::to_string(shape.Rows);
                         });

} // namespace
