#include "terminal/ApdEmulator.h"

#include "terminal/Buffer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace terminal
{

namespace
{

// How a table entry fills the record's X or Y: from a parameter with a least value (a count or
// an address reads 0, like an omitted parameter, as 1; a selector keeps 0), as a constant, or
// not at all. Values land in the byte-wide fields saturated at 255.
struct TArg {
    uint8_t From;
    uint8_t Least;
};
constexpr uint8_t kFromConstant = 0xFE, kFromNowhere = 0xFF;
constexpr TArg argKeep{kFromNowhere, 0};
constexpr TArg argCount1{0, 1}, argCount2{1, 1}, argSelect1{0, 0}, argSelect2{1, 0};
constexpr TArg argZero{kFromConstant, 0}, argOne{kFromConstant, 1};

// What a final byte does beyond filling a command.
enum TAction : uint8_t {
    acDraw,            // not a function of this type: the final byte is drawn
    acCommand,         // the entry's command with its arguments
    acColours,         // select graphic rendition, attributes accumulating
    acColoursFromNone, // select graphic rendition, starting from no attributes (VT100)
    acVt100Mode,       // ESC [ n h / l for the VT100's modes 2, 3, 4 and 20
    acVt100Attributes, // ESC [ c and ESC [ 0 c ask for device attributes; others are drawn
};

struct TFinalEntry {
    uint8_t Action = acDraw;
    uint8_t Command = cmd::Nothing;
    TArg X = argKeep;
    TArg Y = argKeep;
};

// ESC followed by a byte: the state it leads to, or (back in ground) the command it gives.
struct TEscapeEntry {
    uint8_t Next = psGround;
    uint8_t Command = cmd::WriteChar; // a byte no table knows is drawn
    TArg X = argKeep;
    TArg Y = argKeep;
};

constexpr uint8_t kFirstFinal = 0x40, kLastFinal = 0x7E;
constexpr uint8_t kFirstEscape = 0x20, kLastEscape = 0x7E;

} // namespace

struct TEmulationTables {
    std::array<TEscapeEntry, kLastEscape - kFirstEscape + 1> Escapes;
    std::array<TFinalEntry, kLastFinal - kFirstFinal + 1> Finals;
};

namespace
{

struct TFinalRow {
    char Final;
    TFinalEntry Entry;
};
struct TEscapeRow {
    char Byte;
    TEscapeEntry Entry;
};

constexpr TFinalEntry Command(uint8_t command, TArg x = argKeep, TArg y = argKeep)
{
    return {acCommand, command, x, y};
}
constexpr TEscapeEntry Escape(uint8_t command, TArg x = argKeep, TArg y = argKeep)
{
    return {psGround, command, x, y};
}
constexpr TEscapeEntry Enter(uint8_t state)
{
    return {state, cmd::Nothing, argKeep, argKeep};
}

// ANSI (ECMA-48) after ESC [; the functions marked "—" are produced but have no effect here.
constexpr TFinalRow kAnsiFinals[] = {
    {'@', Command(cmd::InsertChars, argCount1)},
    {'A', Command(cmd::CursorUp, argKeep, argCount1)},
    {'B', Command(cmd::CursorDown, argKeep, argCount1)},
    {'C', Command(cmd::CursorRight, argCount1)},
    {'a', Command(cmd::CursorRight, argCount1)},
    {'D', Command(cmd::CursorLeft, argCount1)},
    {'E', Command(cmd::NextLineN, argKeep, argCount1)},
    {'F', Command(cmd::PreviousLine, argKeep, argCount1)},
    {'G', Command(cmd::CursorToColumn, argCount1)},
    {'`', Command(cmd::CursorToColumn, argCount1)},
    {'H', Command(cmd::CursorPosition, argCount2, argCount1)},
    {'f', Command(cmd::CursorPosition, argCount2, argCount1)},
    {'I', Command(cmd::TabForward, argCount1)},
    {'J', Command(cmd::EraseDisplay, argSelect1, argZero)},
    {'K', Command(cmd::EraseLine, argSelect1, argOne)},
    {'L', Command(cmd::InsertLines, argKeep, argCount1)},
    {'M', Command(cmd::DeleteLines, argKeep, argCount1)},
    {'N', Command(cmd::EraseField, argSelect1)}, // —
    {'O', Command(cmd::EraseArea, argSelect1)},  // —
    {'P', Command(cmd::DeleteChars, argCount1)},
    {'Q', Command(cmd::SelectEditingExtent, argSelect1)}, // —
    {'R', Command(cmd::PositionReport, argCount2, argCount1)},
    {'S', Command(cmd::ScrollUp, argKeep, argCount1)},      // —
    {'T', Command(cmd::ScrollDown, argKeep, argCount1)},    // —
    {'U', Command(cmd::NextPage, argKeep, argCount1)},      // —
    {'V', Command(cmd::PrecedingPage, argKeep, argCount1)}, // —
    {'W', Command(cmd::TabControl, argSelect1)},
    {'X', Command(cmd::EraseChars, argCount1)},
    {'Y', Command(cmd::VerticalTab, argKeep, argCount1)},
    {'Z', Command(cmd::TabBackward, argCount1)},
    {'b', Command(cmd::RepeatChar, argCount1)}, // —
    // An ANSI terminal answers as a VT100 does; the VT52 identification would mean nothing to
    // a host that spoke ANSI to us.
    {'c', Command(cmd::DeviceAttributes, argSelect1, argOne)},
    {'d', Command(cmd::CursorToRow, argKeep, argCount1)},
    {'e', Command(cmd::CursorDown, argKeep, argCount1)},
    {'g', Command(cmd::TabClear, argSelect1)},
    {'h', Command(cmd::SetModeAnsi, argSelect1)},   // —
    {'i', Command(cmd::MediaCopy, argSelect1)},     // —
    {'l', Command(cmd::ResetModeAnsi, argSelect1)}, // —
    {'m', {acColours}},
    {'n', Command(cmd::DeviceStatusReport, argSelect1)},
    {'o', Command(cmd::DefineAreaQualifier, argSelect1)}, // —
    {'s', Command(cmd::SaveCursor)},
    {'u', Command(cmd::RestoreCursor)},
};

// A missing (or 0) bottom margin is sent as 0, which the buffer reads as "the page's last row".
constexpr TFinalRow kVt100Finals[] = {
    {'A', Command(cmd::CursorUp, argKeep, argCount1)},
    {'B', Command(cmd::CursorDown, argKeep, argCount1)},
    {'C', Command(cmd::CursorRight, argCount1)},
    {'D', Command(cmd::CursorLeft, argCount1)},
    {'H', Command(cmd::CursorPosition, argCount2, argCount1)},
    {'f', Command(cmd::CursorPosition, argCount2, argCount1)},
    {'@', Command(cmd::InsertChars, argCount1)}, // VT102 editing
    {'P', Command(cmd::DeleteChars, argCount1)},
    {'X', Command(cmd::EraseChars, argCount1)},
    {'J', Command(cmd::EraseDisplay, argSelect1, argOne)},
    {'K', Command(cmd::EraseLine, argSelect1, argZero)},
    {'L', Command(cmd::InsertLines, argKeep, argCount1)},
    {'M', Command(cmd::DeleteLines, argKeep, argCount1)},
    {'R', Command(cmd::PositionReport, argCount2, argCount1)},
    {'c', {acVt100Attributes}},
    {'g', Command(cmd::TabClear, argSelect1)},
    {'h', {acVt100Mode}},
    {'l', {acVt100Mode}},
    {'i', Command(cmd::MediaCopy, argSelect1)}, // —
    {'m', {acColoursFromNone}},
    {'n', Command(cmd::DeviceStatusReport, argSelect1)},
    {'r', Command(cmd::SetScrollRegion, argCount1, argSelect2)},
    {'x', Command(cmd::RequestParameters, argSelect1)},
};

constexpr TEscapeRow kAnsiEscapes[] = {
    {'[', Enter(psCsiEntry)},
    {'D', Escape(cmd::CursorDown, argKeep, argOne)},
    {'E', Escape(cmd::NextLine)},
    {'H', Escape(cmd::SetTab)},
    {'I', Escape(cmd::TabJustify)},
    {'J', Escape(cmd::SetVerticalTab)},
    {'F', Escape(cmd::StartSelectedArea)},   // —
    {'G', Escape(cmd::EndSelectedArea)},     // —
    {'K', Escape(cmd::PartialLineDown)},     // —
    {'L', Escape(cmd::PartialLineUp)},       // —
    {'M', Escape(cmd::ReverseIndex)},        // —
    {'N', Escape(cmd::SingleShift2)},        // —
    {'O', Escape(cmd::SingleShift3)},        // —
    {'P', Escape(cmd::DeviceControlString)}, // —
    {'Q', Escape(cmd::PrivateUse1)},         // —
    {'R', Escape(cmd::PrivateUse2)},         // —
    {'S', Escape(cmd::SetTransmitState)},    // —
    {'T', Escape(cmd::CancelCharacter)},     // —
    {'U', Escape(cmd::MessageWaiting)},      // —
    {'V', Escape(cmd::StartGuardedArea)},    // —
    {'W', Escape(cmd::EndGuardedArea)},      // —
    {'\\', Escape(cmd::StringTerminator)},   // —
    {'^', Escape(cmd::PrivacyMessage)},      // —
    {'a', Escape(cmd::Interrupt)},           // —
    {'b', Escape(cmd::EndMessage)},          // —
    {'c', Escape(cmd::ResetInitial)},        // —
};

constexpr TEscapeRow kVt100Escapes[] = {
    {'[', Enter(psCsiEntry)},
    {'(', Enter(psG0Designation)},
    {')', Enter(psG1Designation)},
    {'#', Enter(psEscapeHash)},
    {'7', Escape(cmd::SaveCursor)},
    {'8', Escape(cmd::RestoreCursor)},
    {'=', Escape(cmd::Nothing)}, // keypad modes: nothing to do
    {'>', Escape(cmd::Nothing)},
    {'D', Escape(cmd::Index)},
    {'E', Escape(cmd::NextLine)},
    {'H', Escape(cmd::SetTab)},
    {'M', Escape(cmd::ReverseIndex)},
    {'Z', Escape(cmd::DeviceAttributes, argZero, argOne)},
    {'c', Escape(cmd::ResetInitial)},
};

// VT52 has no control sequences. ESC J and ESC K erase from the cursor to the end of the screen
// and of the line; they never cleared what lies before the cursor. ESC Y addresses the cursor.
constexpr TEscapeRow kVt52Escapes[] = {
    {'A', Escape(cmd::CursorUp, argKeep, argOne)},
    {'B', Escape(cmd::CursorDown, argKeep, argOne)},
    {'C', Escape(cmd::CursorRight, argOne)},
    {'D', Escape(cmd::CursorLeft, argOne)},
    {'H', Escape(cmd::CursorPosition, argOne, argOne)},
    {'J', Escape(cmd::EraseDisplay, argZero, argZero)},
    {'K', Escape(cmd::EraseLine, argZero, argZero)},
    {'Z', Escape(cmd::DeviceAttributes, argZero, argZero)},
    {'c', Escape(cmd::ResetInitial)}, // —
    {'Y', Enter(psVt52Row)},
};

template <size_t N> constexpr auto EscapeTable(const TEscapeRow (&rows)[N])
{
    decltype(TEmulationTables::Escapes) table{};
    for (const TEscapeRow &row : rows)
        table[uint8_t(row.Byte) - kFirstEscape] = row.Entry;
    return table;
}

template <size_t N> constexpr auto FinalTable(const TFinalRow (&rows)[N])
{
    decltype(TEmulationTables::Finals) table{};
    for (const TFinalRow &row : rows)
        table[uint8_t(row.Final) - kFirstFinal] = row.Entry;
    return table;
}

constexpr TEmulationTables kAnsiTables{EscapeTable(kAnsiEscapes), FinalTable(kAnsiFinals)};
constexpr TEmulationTables kVt100Tables{EscapeTable(kVt100Escapes), FinalTable(kVt100Finals)};
constexpr TEmulationTables kVt52Tables{EscapeTable(kVt52Escapes), {}};

const TEmulationTables *TablesFor(uint8_t type)
{
    switch (type) {
    case etVt100:
        return &kVt100Tables;
    case etVt52:
        return &kVt52Tables;
    default:
        return &kAnsiTables;
    }
}

constexpr uint8_t kCan = 0x18, kSub = 0x1A, kEscape = 0x1B;

uint8_t Byte(int32_t value)
{
    return static_cast<uint8_t>(std::min<int32_t>(value, 255));
}

void Fill(const TEmulatorState &s, uint8_t &field, TArg arg)
{
    if (arg.From < kMaxParams)
        field = Byte(std::max<int32_t>(s.Params[arg.From], arg.Least));
    else if (arg.From == kFromConstant)
        field = arg.Least;
}

void Apply(const TEmulatorState &s, TCommandRecord &r, uint8_t command, TArg x, TArg y)
{
    r.Command = command;
    Fill(s, r.X, x);
    Fill(s, r.Y, y);
}

// Only the parameters the sequence reached can hold another value than 0.
void Reset(TEmulatorState &s)
{
    s.Params[0] = 0; // most sequences have one or two
    s.Params[1] = 0;
    if (s.ParamIndex > 2)
        std::fill(s.Params + 2, s.Params + s.ParamIndex, 0);
    s.ParamIndex = 1;
    s.PrivateMarker = 0;
    s.ParseState = psGround;
    s.CollectedCount = 0;
}

// A control byte's command, the same in ground and inside a sequence.
void ControlCommand(const TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    switch (c) {
    case 0x09:
        r.Command = cmd::HorizontalTab;
        break;
    case 0x0C: // form feed clears the screen
        r.Command = cmd::EraseDisplay;
        r.X = 2;
        r.Y = 0;
        break;
    case 0x0E: // shift out / shift in: a VT100 switches between G1 and G0
    case 0x0F:
        r.Command = s.EmulationType != etVt100 ? cmd::Nothing
                    : c == 0x0E                 ? cmd::ShiftOut
                                                : cmd::ShiftIn;
        break;
    default: // the buffer acts on backspace, line feed and carriage return and draws the rest
        r.Command = cmd::WriteChar;
        break;
    }
}

void Ground(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c >= 0x20)
        return parse::Text(s, c, r);
    if (c == kEscape)
        return parse::Escape(s, c, r);
    ControlCommand(s, c, r);
    // A sequence's collected bytes start at its escape.
    s.CollectedCount = 0;
}

// The record's bytes from Count on receive the start of the broken sequence, so that whoever
// looks at the record can tell what was refused. Bytes not collected are zero. The rest of the
// sequence (up to its final byte) is skipped, so a refused sequence leaves no debris on screen.
void SequenceError(TEmulatorState &s, TCommandRecord &r)
{
    uint8_t copy[kErrorCopyBytes] = {};
    std::memcpy(copy, s.Collected, std::min<size_t>(s.CollectedCount, kErrorCopyBytes));
    r.Command = cmd::SequenceError;
    r.Count = copy[0];
    std::memcpy(r.Chars, copy + 1, kErrorCopyBytes - 1);
    Reset(s);
    s.ParseState = psCsiIgnore;
}

void EscapeByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const TEscapeEntry entry = c >= kFirstEscape && c <= kLastEscape
                                   ? s.Tables->Escapes[c - kFirstEscape]
                                   : TEscapeEntry{};
    if (entry.Next != psGround) {
        s.ParseState = entry.Next;
        return parse::Collect(s, c);
    }
    if (c < 0x30 && entry.Command == cmd::WriteChar && s.HasControlSequences) {
        // An intermediate byte (ESC # 8, ESC SP F, ...) names a function of another terminal:
        // the sequence is taken whole up to its final byte and shows nothing.
        s.ParseState = psEscapeIgnore;
        return parse::Collect(s, c);
    }
    Apply(s, r, entry.Command, entry.X, entry.Y);
    Reset(s);
}

// Nearest of the sixteen colours (default colour map) to a colour given as red, green, blue.
uint8_t NearestColour(int red, int green, int blue)
{
    uint8_t best = 0;
    int bestDistance = 1 << 30;
    for (uint8_t i = 0; i < 16; ++i) {
        const uint32_t rgb = kDefaultColorMap[i];
        const int dr = red - int(rgb & 0xFF), dg = green - int(rgb >> 8 & 0xFF),
                  db = blue - int(rgb >> 16 & 0xFF);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

// One of the 256 indexed colours: the sixteen, a 6 x 6 x 6 cube, then 24 greys.
uint8_t IndexedColour(int32_t n)
{
    if (n < 16)
        return uint8_t(n);
    if (n < 232) {
        static constexpr int kLevels[] = {0, 95, 135, 175, 215, 255};
        n -= 16;
        return NearestColour(kLevels[n / 36], kLevels[n / 6 % 6], kLevels[n % 6]);
    }
    const int grey = 8 + 10 * (n - 232);
    return NearestColour(grey, grey, grey);
}

// 38 / 48 followed by 5;n or 2;r;g;b: the colour, or -1, and the parameters it used. A
// selector this emulator does not know uses the rest of the sequence.
int ExtendedColour(const TEmulatorState &s, int at, int &colour)
{
    const int left = s.ParamIndex - at - 1;
    const int32_t *p = s.Params + at + 1;
    colour = -1;
    if (left >= 2 && p[0] == 5) {
        if (p[1] <= 255)
            colour = IndexedColour(p[1]);
        return 2;
    }
    if (left >= 4 && p[0] == 2) {
        colour = NearestColour(Byte(p[1]), Byte(p[2]), Byte(p[3]));
        return 4;
    }
    return left;
}

// Select graphic rendition. Bold shows a colour 0..7 bright; the colour itself is kept, so
// normal intensity (22) or a sequence without bold shows it as it was chosen. (Out of line,
// like the private modes, so the other final bytes save no registers for it.)
[[gnu::noinline]] void Colours(TEmulatorState &s, TCommandRecord &r, bool fromNone)
{
    if (fromNone)
        s.AttributeAccumulator = 0;
    uint8_t &acc = s.AttributeAccumulator;
    uint8_t foreground = s.BaseForeground;
    uint8_t background = r.Background;
    for (int i = 0; i < s.ParamIndex; ++i) {
        const int32_t v = s.Params[i];
        switch (v) {
        case 0:
            foreground = 7;
            background = 0;
            acc = 0;
            break;
        case 1:
            acc |= attrBold;
            break;
        case 4:
            acc |= attrUnderline;
            break;
        case 5:
            acc |= attrBlink;
            break;
        case 7:
            acc |= attrReverse;
            break;
        case 8:
            acc |= attrConcealed;
            break;
        case 22:
            acc &= ~attrBold;
            break;
        case 24:
            acc &= ~attrUnderline;
            break;
        case 25:
            acc &= ~attrBlink;
            break;
        case 27:
            acc &= ~attrReverse;
            break;
        case 28:
            acc &= ~attrConcealed;
            break;
        case 38:
        case 48: {
            int colour;
            i += ExtendedColour(s, i, colour);
            if (colour >= 0)
                (v == 38 ? foreground : background) = uint8_t(colour);
            break;
        }
        case 39:
            foreground = 7;
            break;
        case 49:
            background = 0;
            break;
        default:
            if (v >= 30 && v <= 37)
                foreground = uint8_t(v - 30);
            else if (v >= 40 && v <= 47)
                background = uint8_t(v - 40);
            else if (v >= 90 && v <= 97)
                foreground = uint8_t(v - 90 + 8);
            else if (v >= 100 && v <= 107)
                background = uint8_t(v - 100 + 8);
            break;
        }
    }
    s.BaseForeground = foreground;
    r.Foreground = (acc & attrBold) && foreground < 8 ? uint8_t(foreground + 8) : foreground;
    r.Background = background;
    r.Attributes = acc;
    r.Command = cmd::SetColors;
}

void Vt100Mode(const TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const uint8_t set = c == 'h' ? 1 : 0;
    switch (s.Params[0]) {
    case 2:
        r.Command = cmd::ModeKeyboardLock;
        break;
    case 3:
        r.Command = cmd::ModeCursorKeys;
        break;
    case 4:
        r.Command = cmd::ModeInsert;
        break;
    case 20:
        r.Command = cmd::ModeNewLine;
        break;
    default:
        return; // modes without a meaning here are ignored, not drawn
    }
    r.X = set;
}

// ESC [ ? n ; ... h / l carries the modes to the buffer, which acts on those it knows; any other
// private sequence (ESC [ ? ... or ESC [ > ... with another final) is taken whole and ignored.
[[gnu::noinline]] void PrivateFinal(const TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.PrivateMarker != '?' || (c != 'h' && c != 'l'))
        return;
    r.Command = c == 'h' ? cmd::SetPrivateMode : cmd::ResetPrivateMode;
    r.ParamCount = uint8_t(s.ParamIndex);
    for (int i = 0; i < s.ParamIndex; ++i)
        r.Params[i] = uint16_t(s.Params[i]);
}

void FinalByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.PrivateMarker != 0) {
        PrivateFinal(s, c, r);
    } else if (c < kFirstFinal || c > kLastFinal) {
        r.Command = cmd::WriteChar;
    } else {
        const TFinalEntry &entry = s.Tables->Finals[c - kFirstFinal];
        switch (entry.Action) {
        case acCommand:
            Apply(s, r, entry.Command, entry.X, entry.Y);
            break;
        case acColours:
        case acColoursFromNone:
            Colours(s, r, entry.Action == acColoursFromNone);
            break;
        case acVt100Mode:
            Vt100Mode(s, c, r);
            break;
        case acVt100Attributes:
            if (s.Params[0] == 0)
                Apply(s, r, cmd::DeviceAttributes, argZero, argOne);
            else
                r.Command = cmd::WriteChar;
            break;
        default:
            r.Command = cmd::WriteChar;
            break;
        }
    }
    Reset(s);
}

// Parameters, their separators and a private marker right after ESC [; anything else ends the
// sequence. A marker later on breaks the rules.
void ControlSequenceByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const bool overflow = s.ParseState == psCsiOverflow;
    if (uint8_t(c - '0') < 10) {
        if (!overflow)
            return parse::Digit(s, c, r);
    } else if (c == ';' || c == ':') { // sub-parameters (38:5:208) are read as parameters
        if (!overflow)
            return parse::Separator(s, c, r);
    } else if (c < 0x30) {
        // An intermediate byte (ESC [ 2 SP q, ESC [ ! p): no function here has one, so the
        // sequence is taken whole up to its final byte and shows nothing.
        parse::Collect(s, c);
        Reset(s);
        s.ParseState = psCsiIgnore;
        return;
    } else if (c == 0x7F) { // delete is ignored inside a sequence, as on a VT100
        return;
    } else if (c == '?' || c == '<' || c == '>') {
        if (s.ParseState != psCsiEntry) {
            parse::Collect(s, c);
            return SequenceError(s, r);
        }
        s.PrivateMarker = c;
        s.ParseState = psCsiParam;
    } else if (c != '=') { // "=" is ignored wherever it stands
        return FinalByte(s, c, r);
    }
    parse::Collect(s, c);
}

// VT52 direct cursor addressing: ESC Y, then the row and the column, each sent as 32 plus its
// 0-based value. A control byte in their place abandons the address and acts as usual.
void Vt52AddressByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c < 0x20) {
        Reset(s);
        return Ground(s, c, r);
    }
    if (s.ParseState == psVt52Row) {
        s.Params[0] = c - 0x1F; // 1-based
        s.ParseState = psVt52Column;
        return;
    }
    r.Command = cmd::CursorPosition;
    r.X = uint8_t(c - 0x1F);
    r.Y = uint8_t(s.Params[0]);
    Reset(s);
}

// ESC ( or ESC ) and the set: "0" and "2" (the alternate ROM's graphics) are the DEC special
// graphics, "A", "B" and "1" (the alternate ROM's standard set) are shown as ASCII. Any other
// byte is drawn.
void Designation(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c == '0' || c == '1' || c == '2' || c == 'A' || c == 'B') {
        r.Command = cmd::DesignateCharSet;
        r.X = s.ParseState == psG0Designation ? 0 : 1;
        r.Y = c == '0' || c == '2' ? csDecGraphics : csAscii;
    } else {
        r.Command = cmd::WriteChar;
    }
    Reset(s);
}

// Inside a sequence a control byte acts as it does in ground and the sequence goes on, as on
// a VT100; an escape starts a new sequence, and cancel and substitute abandon the sequence.
void ControlInSequence(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c == kEscape) {
        Reset(s);
        return parse::Escape(s, c, r);
    }
    if (c == kCan || c == kSub)
        return Reset(s);
    ControlCommand(s, c, r);
}

} // namespace

TEmulatorState::TEmulatorState(uint8_t type)
    : EmulationType(type), Tables(TablesFor(type)),
      HasControlSequences(Tables->Escapes['[' - kFirstEscape].Next == psCsiEntry)
{
}

uint8_t ParseFinal(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    r.Character = c;
    r.Command = cmd::Nothing;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);
    FinalByte(s, c, r);
    return r.Command;
}

uint8_t ParseGeneral(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.ResetPending) {
        s.ResetPending = false;
        r.Foreground = 7;
        r.Background = 0;
        r.Attributes = 0;
        s.AttributeAccumulator = 0;
        s.BaseForeground = 7;
    }
    r.Character = c;
    r.Command = cmd::Nothing;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);

    const uint8_t state = s.ParseState;
    if (state == psGround) {
        Ground(s, c, r);
    } else if (state == psVt52Row || state == psVt52Column) {
        Vt52AddressByte(s, c, r);
    } else if (c < 0x20) {
        ControlInSequence(s, c, r);
    } else if (state == psEscape) {
        EscapeByte(s, c, r);
    } else if (state == psCsiEntry || state == psCsiParam || state == psCsiOverflow) {
        ControlSequenceByte(s, c, r);
    } else if (state == psCsiIgnore || state == psEscapeIgnore) {
        // The final byte ends the skipped sequence, taken with it; delete is ignored.
        if (c >= (state == psCsiIgnore ? 0x40 : 0x30) && c != 0x7F)
            Reset(s);
    } else if (state == psG0Designation || state == psG1Designation) {
        Designation(s, c, r);
    } else if (state == psEscapeHash) {
        // ESC # 8 fills the screen for alignment; the double-size lines (3 to 6) are not
        // shown here and change nothing.
        if (c == '8')
            r.Command = cmd::AlignmentTest;
        if (c >= 0x30)
            Reset(s);
    } else {
        Reset(s); // a state no path sets: start over
    }
    return r.Command;
}

TApdCustomEmulator::TApdCustomEmulator()
{
    ApplyType();
}

TApdCustomEmulator::~TApdCustomEmulator() = default;

void TApdCustomEmulator::SetEmulationType(uint8_t type)
{
    if (type > kLastEmulationType)
        return;
    if (Loading()) {
        type_ = type;
        return;
    }
    if (type == type_)
        return;
    type_ = type;
    ApplyType();
}

void TApdCustomEmulator::EndLoading()
{
    TApdBaseComponent::EndLoading();
    ApplyType();
}

void TApdCustomEmulator::ApplyType()
{
    state_.reset();
    if (type_ != etNone)
        state_ = std::make_unique<TEmulatorState>(type_);
}

void TApdCustomEmulator::EmulatorRoutine(void *context, uint8_t c, TCommandRecord &record)
{
    static_cast<TApdCustomEmulator *>(context)->Process(c, record);
}

} // namespace terminal
