// The parser's inline road against its general step: random streams of the sequences the
// emulations know (and their faulty forms) go byte by byte through bProcessChar on one buffer,
// and through ParseGeneral plus the command executor on another. Records, pages and cursors
// must stay equal.

#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"
#include "terminal/CommandExecutor.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace terminal;

namespace
{

// Sentences of the escape-sequence grammar: text, controls, escapes, control sequences with
// any number of parameters (empty, zero, leading zeros, large), private markers, controls and
// escapes inside them, VT52 addresses.
std::string GrammarStream(size_t bytes, unsigned seed)
{
    static const std::string kControls = std::string("\b\t\n\v\f\r\x0e\x0f\x18\x1a\a", 11) + '\0';
    static const std::string kEscapeBytes = "[()78=>DEHIJMZcFGKLNOPQRSTUVW\\^abYABCq";
    static const std::string kMarkers = "?<>=";
    static const std::string kInside = " !\"#$%&'()*+,-./:\x7f"; // intermediates, sub-parameters
    std::mt19937 rng(seed);
    const auto pick = [&](const std::string &from) { return from[rng() % from.size()]; };
    const auto chance = [&](unsigned percent) { return rng() % 100 < percent; };
    std::string out;
    while (out.size() < bytes) {
        switch (rng() % 6) {
        case 0:
            for (int n = int(rng() % 12); n > 0; --n)
                out += char('a' + rng() % 26);
            break;
        case 1:
            out += pick(kControls);
            break;
        case 2:
            out += '\x1b';
            out += pick(kEscapeBytes);
            if (chance(30))
                out += char(0x20 + rng() % 0x60);
            break;
        default: {
            out += "\x1b[";
            if (chance(15))
                out += pick(kMarkers);
            for (int n = int(rng() % 20); n > 0; --n) {
                if (chance(70))
                    out += std::to_string(chance(10) ? rng() % 100000 : rng() % 40);
                if (chance(5))
                    out += chance(50) ? pick(kControls) : pick(chance(50) ? kMarkers : kInside);
                out += ';';
            }
            if (chance(10))
                out += std::string(rng() % 4, '0') + std::to_string(rng() % 300);
            out += chance(90) ? char(0x40 + rng() % 0x3F) : char(rng() % 256);
            break;
        }
        }
    }
    out.resize(bytes);
    return out;
}

std::unique_ptr<TBuffer> ShownBuffer()
{
    auto buffer = TBuffer::Create(nullptr, 80, 200);
    buffer->ClientWidth = 80 * 8;
    buffer->ClientHeight = buffer->PageHeight * 16;
    buffer->bUpdateFont(16, 8);
    return buffer;
}

void ExpectSameScreen(TBuffer &a, TBuffer &b, size_t at)
{
    ASSERT_EQ(a.CursorColumn, b.CursorColumn) << at;
    ASSERT_EQ(a.CursorRow, b.CursorRow) << at;
    ASSERT_EQ(a.FirstVisibleRow, b.FirstVisibleRow) << at;
    for (int row = 0; row < a.Rows; ++row) {
        ASSERT_EQ(a.RowText(row), b.RowText(row)) << at << " row " << row;
        for (int column = 0; column < a.Columns; ++column) {
            ASSERT_EQ(a.ColorAt(column, row), b.ColorAt(column, row)) << at << " row " << row;
            ASSERT_EQ(a.AttrAt(column, row), b.AttrAt(column, row)) << at << " row " << row;
        }
    }
}

class InlineRoad : public ::testing::TestWithParam<int>
{
};

TEST_P(InlineRoad, MatchesGeneralStep)
{
    const auto type = uint8_t(GetParam());
    auto fast = ShownBuffer();
    auto general = ShownBuffer();
    TApdCustomEmulator emulator;
    emulator.SetEmulationType(type);
    fast->EmulatorContext = &emulator;
    fast->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
    // The general buffer is driven by hand below; an emulator attached to it (never called) only
    // tells its writes that they are emulated, as the fast buffer's are.
    TApdCustomEmulator idle;
    idle.SetEmulationType(type);
    general->EmulatorContext = &idle;
    general->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
    TEmulatorState state(type);

    const std::string stream = GrammarStream(300000, unsigned(type) * 31);
    for (size_t i = 0; i < stream.size(); ++i) {
        const auto c = uint8_t(stream[i]);
        fast->bProcessChar(c);
        const uint8_t command = ParseGeneral(state, c, general->Command);
        // As the character processor carries it out: the record's byte (a VT100 turns form feed
        // into a line feed).
        if (command == cmd::WriteChar && general->Command.Character != 0)
            general->bWriteChar(general->Command.Character);
        else if (command != cmd::WriteChar && command != cmd::Nothing)
            ExecuteCommand(*general);

        const TCommandRecord &f = fast->Command, &g = general->Command;
        ASSERT_EQ(f.Command, g.Command) << i;
        ASSERT_EQ(f.Character, g.Character) << i;
        ASSERT_EQ(f.X, g.X) << i;
        ASSERT_EQ(f.Y, g.Y) << i;
        ASSERT_EQ(f.Foreground, g.Foreground) << i;
        ASSERT_EQ(f.Background, g.Background) << i;
        ASSERT_EQ(f.Attributes, g.Attributes) << i;
        ASSERT_EQ(emulator.State()->ParseState, state.ParseState) << i;
        if (i % 4099 == 0) {
            ASSERT_NO_FATAL_FAILURE(ExpectSameScreen(*fast, *general, i));
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameScreen(*fast, *general, stream.size()));
}

INSTANTIATE_TEST_SUITE_P(EveryType, InlineRoad,
                         ::testing::Values(etAnsi, etVt52, etVt100, etAnsiBbs));

} // namespace
