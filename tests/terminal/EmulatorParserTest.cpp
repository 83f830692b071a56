// The emulator's parser at the level of the command record: bytes in, commands and arguments out.

#include "terminal/ApdEmulator.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace terminal;

namespace
{

struct Parsed {
    std::vector<int> Commands; // every non-zero command, in order
    TCommandRecord Record;     // the record after the last byte
};

Parsed Parse(uint8_t type, const std::string &bytes)
{
    TApdCustomEmulator emulator;
    emulator.SetEmulationType(type);
    Parsed out;
    for (unsigned char c : bytes) {
        TApdCustomEmulator::EmulatorRoutine(&emulator, c, out.Record);
        if (out.Record.Command != cmd::Nothing)
            out.Commands.push_back(out.Record.Command);
    }
    return out;
}

constexpr int kAny = -1;

struct ParserCase {
    const char *Name;
    uint8_t Type;
    std::string Bytes;
    std::vector<int> Commands;
    int X = kAny, Y = kAny, Fg = kAny, Bg = kAny, Attr = kAny, Char = kAny;
};

void PrintTo(const ParserCase &c, std::ostream *os)
{
    *os << c.Name;
}

const std::string E = "\x1b";

class ParserTable : public ::testing::TestWithParam<ParserCase>
{
};

TEST_P(ParserTable, ProducesCommands)
{
    const ParserCase &c = GetParam();
    const Parsed p = Parse(c.Type, c.Bytes);
    EXPECT_EQ(p.Commands, c.Commands);
    const TCommandRecord &r = p.Record;
    if (c.X != kAny) {
        EXPECT_EQ(r.X, c.X);
    }
    if (c.Y != kAny) {
        EXPECT_EQ(r.Y, c.Y);
    }
    if (c.Fg != kAny) {
        EXPECT_EQ(r.Foreground, c.Fg);
    }
    if (c.Bg != kAny) {
        EXPECT_EQ(r.Background, c.Bg);
    }
    if (c.Attr != kAny) {
        EXPECT_EQ(r.Attributes, c.Attr);
    }
    if (c.Char != kAny) {
        EXPECT_EQ(r.Character, c.Char);
    }
    EXPECT_EQ(r.EmulationType, c.Type);
}

const ParserCase kCases[] = {
    // Ground bytes.
    {"PrintableIsWritten", etAnsi, "ab", {1, 1}, kAny, kAny, kAny, kAny, kAny, 'b'},
    {"TabFormFeedShift", etAnsi, "\t\x0c\x0e\x0f", {21, 50}, 2, 0},
    {"NoneTypeDrawsEscape", etNone, E + "[H", {1, 1, 1}, kAny, kAny, kAny, kAny, kAny, 'H'},
    // Cursor addressing and parameter rules.
    {"RowColumn", etAnsi, E + "[5;10H", {2}, 10, 5},
    {"HvpAlias", etAnsiBbs, E + "[7;3f", {2}, 3, 7},
    {"ValueSaturatesAt255", etAnsi, E + "[300A", {3}, kAny, 255},
    {"LongNumberSaturates", etAnsi, E + "[1234567B", {4}, kAny, 255},
    {"LeadingZerosRead", etVt100, E + "[00000000004;000000001H", {2}, 1, 4},
    {"ZeroCountIsOne", etAnsi, E + "[0C", {5}, 1},
    {"ZeroAddressIsOne", etVt100, E + "[0;0H", {2}, 1, 1},
    {"ZeroSelectorKept", etAnsi, E + "[0g", {106}, 0},
    {"FiveParamsAccepted", etAnsi, E + "[1;2;3;4;5H", {2}, 2, 1},
    {"EmptyParametersAreDefaults", etAnsi, E + "[;;H", {2}, 1, 1},
    {"LateMarkerIsError", etAnsi, E + "[1?H", {255}},
    {"EscapeEndsRefusedSequence", etAnsi, E + "[1?" + E + "[3C", {255, 5}, 3},
    {"TextAfterErrorDrawn", etVt100, E + "[;;5;?Hx", {255, 1}, kAny, kAny, kAny, kAny, kAny, 'x'},
    {"EqualsIgnored", etAnsi, E + "[=4C", {5}, 4},
    {"EraseDisplayAnsi", etAnsi, E + "[J", {50}, 0, 0},
    {"EraseDisplayVt100", etVt100, E + "[2J", {50}, 2, 1},
    {"EraseLineAnsi", etAnsi, E + "[K", {52}, 0, 1},
    {"EraseLineVt100", etVt100, E + "[1K", {52}, 1, 0},
    {"AnsiOnlyFinalInVt100Drawn", etVt100, E + "[3G", {1}, kAny, kAny, kAny, kAny, kAny, 'G'},
    {"AnsiInsertChars", etAnsi, E + "[3@", {66}, 3},
    {"CursorToRow", etAnsi, E + "[12d", {111}, kAny, 12},
    {"PositionReportFromHost", etVt100, E + "[4;9R", {37}, 9, 4},
    // Colours.
    {"BareResets", etAnsi, E + "[1;32;44m" + E + "[m", {16, 16}, kAny, kAny, 7, 0, 0},
    {"ReverseAndColours", etAnsiBbs, E + "[7;33;41m", {16}, kAny, kAny, 3, 1, 0x02},
    {"DefaultColoursAndClears",
     etAnsi,
     E + "[1;5;36;42m" + E + "[22;25;39;49m",
     {16, 16},
     kAny,
     kAny,
     7,
     0,
     0},
    {"UnknownValueIgnored", etAnsi, E + "[38;99m", {16}, kAny, kAny, 7, 0, 0},
    {"EmptyInListResets", etAnsi, E + "[1;4;;5;7m", {16}, kAny, kAny, 7, 0, 0x03},
    {"NormalIntensityRestoresColour",
     etAnsi,
     E + "[1;31m" + E + "[22m",
     {16, 16},
     kAny,
     kAny,
     1,
     0,
     0},
    {"IndexedColourKeepsAttributes", etAnsi, E + "[4;38;5;208m", {16}, kAny, kAny, 11, 0, 0x10},
    {"DirectColour", etVt100, E + "[48;2;0;0;250;1m", {16}, kAny, kAny, 15, 12, 0x04},
    {"BrightColours", etAnsi, E + "[93;104m", {16}, kAny, kAny, 11, 12, 0},
    {"SixteenParametersKept",
     etAnsi,
     E + "[1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;31;32;33m",
     {16},
     kAny,
     kAny,
     9,
     0,
     0x04},
    // Replies and reports.
    {"AnsiBareDeviceAttributes", etAnsi, E + "[c", {41}, 0, 1},
    {"Vt100DeviceAttributes", etVt100, E + "[0c", {41}, 0, 1},
    {"Vt100DeviceAttributesOtherDrawn", etVt100, E + "[5c", {1}, kAny, kAny, kAny, kAny, kAny, 'c'},
    // Escape tables.
    {"AnsiIndex", etAnsi, E + "D", {4}, kAny, 1},
    {"AnsiReverseIndex", etAnsi, E + "M", {88}},
    {"AnsiUnknownEscapeDrawn", etAnsi, E + "q", {1}, kAny, kAny, kAny, kAny, kAny, 'q'},
    {"Vt100KeypadModes", etVt100, E + "=" + E + ">", {}},
    {"Vt100Designations", etVt100, E + "(B" + E + ")0", {124, 124}, 1, csDecGraphics},
    {"Vt100UnknownDesignationDrawn", etVt100, E + "(X", {1}, kAny, kAny, kAny, kAny, kAny, 'X'},
    {"Vt100ScrollRegion", etVt100, E + "[2;20r", {113}, 2, 20},
    {"Vt100BareScrollRegionMeansPage", etVt100, E + "[r", {113}, 1, 0},
    {"Vt100Modes", etVt100, E + "[4h" + E + "[20l" + E + "[7h", {69, 72}, 0},
    // Private modes.
    {"Vt100PrivateModes", etVt100, E + "[?25h" + E + "[?7l" + E + "[?0h", {120, 121, 120}},
    {"AnsiPrivateModes", etAnsiBbs, E + "[?2004h" + E + "[?1049l", {120, 121}},
    {"OtherPrivateSequencesIgnored", etAnsi, E + "[>c" + E + "[?6n" + E + "[<1;2M", {}},
    // VT52.
    {"Vt52Moves", etVt52, E + "A" + E + "B" + E + "C" + E + "D" + E + "H", {3, 4, 5, 6, 2}, 1, 1},
    {"Vt52EraseToEnd", etVt52, E + "J" + E + "K", {50, 52}, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Parser, ParserTable, ::testing::ValuesIn(kCases),
                         [](const auto &param) { return std::string(param.param.Name); });

// A private mode sequence carries all its modes, in every type with control sequences.
TEST(PrivateModes, CarryEveryMode)
{
    for (const uint8_t type : {etAnsi, etVt100, etAnsiBbs}) {
        const Parsed p = Parse(type, E + "[?2004;25;;1049h");
        EXPECT_EQ(p.Commands, std::vector<int>{cmd::SetPrivateMode});
        ASSERT_EQ(p.Record.ParamCount, 4);
        EXPECT_EQ(std::vector<int>(p.Record.Params, p.Record.Params + 4),
                  (std::vector<int>{2004, 25, 0, 1049}));
    }
}

// A refused sequence leaves its first eleven bytes in the record, zero-filled when shorter.
TEST(ParserErrors, CopyTheSequenceStart)
{
    struct Case {
        std::string Bytes;
        std::string Copied; // 11 bytes
    };
    const Case cases[] = {
        {"xy" + E + "[;?", E + "[;?" + std::string(7, '\0')},
        {"\t" + E + "[1;22;333;4444;55555?", E + "[1;22;333;"},
        {E + "[123456789012345678901234?", E + "[123456789"},
    };
    for (const Case &c : cases) {
        const Parsed p = Parse(etAnsi, c.Bytes);
        ASSERT_EQ(p.Record.Command, cmd::SequenceError) << c.Bytes;
        std::string copied(1, static_cast<char>(p.Record.Count));
        copied.append(reinterpret_cast<const char *>(p.Record.Chars), kErrorCopyBytes - 1);
        EXPECT_EQ(copied, c.Copied) << c.Bytes;
    }
}

TEST(EmulatorComponent, TypeChangesHandlersAndLoading)
{
    TApdCustomEmulator emulator;
    EXPECT_EQ(emulator.EmulationType(), etAnsi);
    TCommandRecord r;
    // A half-read sequence is forgotten when the type changes: the state is new.
    TApdCustomEmulator::EmulatorRoutine(&emulator, 0x1b, r);
    emulator.SetEmulationType(etVt100);
    ASSERT_NE(emulator.State(), nullptr);
    EXPECT_EQ(emulator.State()->ParseState, psGround);
    EXPECT_EQ(emulator.State()->EmulationType, etVt100);
    emulator.SetEmulationType(9);
    EXPECT_EQ(emulator.EmulationType(), etVt100);
    emulator.SetEmulationType(etNone);
    EXPECT_EQ(emulator.State(), nullptr);
    TApdCustomEmulator::EmulatorRoutine(&emulator, 0x1b, r);
    EXPECT_EQ(r.Command, cmd::WriteChar);

    emulator.BeginLoading();
    emulator.SetEmulationType(etVt52);
    EXPECT_EQ(emulator.State(), nullptr);
    emulator.EndLoading();
    ASSERT_NE(emulator.State(), nullptr);
    EXPECT_EQ(emulator.State()->EmulationType, etVt52);

    emulator.OnProcessChar = [](uint8_t c, TCommandRecord &rec) {
        rec.Command = cmd::WriteString;
        rec.Count = 2;
        rec.Chars[0] = rec.Chars[1] = c;
    };
    TApdCustomEmulator::EmulatorRoutine(&emulator, 0x1b, r);
    EXPECT_EQ(r.Command, cmd::WriteString);
    EXPECT_EQ(r.Chars[1], 0x1b);
}

} // namespace
