#include "terminal/ApdEmulator.h"

#include <algorithm>
#include <cstring>

namespace terminal
{

namespace
{

// Only the parameters the sequence reached can hold digits or another value than 1.
void ResetParser(TEmulatorState &s)
{
    for (int i = 0; i < s.ParamIndex && i < kMaxParams; ++i) {
        s.ParamTexts[i].Length = 0;
        s.Params[i] = 1;
    }
    s.ParamIndex = 1;
    s.ParseState = psGround;
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
    ResetParser(s);
    s.ParseState = psSkipSequence;
}

bool IsParameterByte(uint8_t c)
{
    return (c >= '0' && c <= '9') || c == ';' || c == '=' || c == '?';
}

// Empty parameters count as 1, except a missing first parameter of the erase and colour
// commands, which selects their mode 0. Device attributes are asked for with a bare
// ESC [ c as well as ESC [ 0 c, so its missing parameter is 0 too.
void ConvertParams(TEmulatorState &s, uint8_t final)
{
    if (s.ParamTexts[0].Length == 0 &&
        (final == 'J' || final == 'K' || final == 'm' || final == 'c'))
        s.Params[0] = 0;
}

uint8_t Byte(int32_t value)
{
    return static_cast<uint8_t>(value & 0xFF);
}

void Set(TCommandRecord &r, uint8_t command)
{
    r.Command = command;
}
void SetX(TCommandRecord &r, uint8_t command, int32_t x)
{
    r.Command = command;
    r.X = Byte(x);
}
void SetY(TCommandRecord &r, uint8_t command, int32_t y)
{
    r.Command = command;
    r.Y = Byte(y);
}
void SetXY(TCommandRecord &r, uint8_t command, int32_t x, int32_t y)
{
    r.Command = command;
    r.X = Byte(x);
    r.Y = Byte(y);
}

constexpr uint8_t kBold = 0x04;

// Select graphic rendition. ANSI keeps accumulating attributes across sequences; VT100 starts
// each sequence from none.
void ColourSequence(TEmulatorState &s, TCommandRecord &r, bool vt100)
{
    if (vt100)
        s.AttributeAccumulator = 0;
    uint8_t &acc = s.AttributeAccumulator;
    for (int i = 0; i < s.ParamIndex && i < kMaxParams; ++i) {
        const int32_t v = s.Params[i];
        switch (v) {
        case 0:
            r.Foreground = 7;
            r.Background = 0;
            acc = 0;
            break;
        case 1:
            acc |= kBold;
            break;
        case 4:
            acc |= 0x10;
            break;
        case 5:
            acc |= 0x01;
            break;
        case 7:
            acc |= 0x02;
            break;
        case 8:
            acc |= 0x08;
            break;
        case 22:
            acc &= ~kBold;
            break;
        case 24:
            acc &= ~0x10;
            break;
        case 25:
            acc &= ~0x01;
            break;
        case 27:
            acc &= ~0x02;
            break;
        case 28:
            acc &= ~0x08;
            break;
        case 39:
            r.Foreground = 7;
            break;
        case 49:
            r.Background = 0;
            break;
        default:
            if (v >= 30 && v <= 37)
                r.Foreground = static_cast<uint8_t>(v - 30);
            else if (v >= 40 && v <= 47)
                r.Background = static_cast<uint8_t>(v - 40);
            break;
        }
    }
    if ((acc & kBold) && r.Foreground < 8)
        r.Foreground += 8;
    r.Attributes = acc;
    r.Command = cmd::SetColors;
}

void AnsiFinal(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const int32_t p1 = s.Params[0];
    const int32_t p2 = s.Params[1];
    switch (c) {
    case '@':
        SetX(r, cmd::InsertChars, p1);
        break;
    case 'A':
        SetY(r, cmd::CursorUp, p1);
        break;
    case 'B':
        SetY(r, cmd::CursorDown, p1);
        break;
    case 'C':
    case 'a':
        SetX(r, cmd::CursorRight, p1);
        break;
    case 'D':
        SetX(r, cmd::CursorLeft, p1);
        break;
    case 'E':
        SetY(r, cmd::NextLineN, p1);
        break;
    case 'F':
        SetY(r, cmd::PreviousLine, p1);
        break;
    case 'G':
    case '`':
        SetX(r, cmd::CursorToColumn, p1);
        break;
    case 'H':
    case 'f':
        SetXY(r, cmd::CursorPosition, p2, p1);
        break;
    case 'I':
        SetX(r, cmd::TabForward, p1);
        break;
    case 'J':
        SetXY(r, cmd::EraseDisplay, p1, 0);
        break;
    case 'K':
        SetXY(r, cmd::EraseLine, p1, 1);
        break;
    case 'L':
        SetY(r, cmd::InsertLines, p1);
        break;
    case 'M':
        SetY(r, cmd::DeleteLines, p1);
        break;
    case 'N':
        SetX(r, cmd::EraseField, p1);
        break;
    case 'O':
        SetX(r, cmd::EraseArea, p1);
        break;
    case 'P':
        SetX(r, cmd::DeleteChars, p1);
        break;
    case 'Q':
        SetX(r, cmd::SelectEditingExtent, p1);
        break;
    case 'R':
        SetXY(r, cmd::PositionReport, p2, p1);
        break;
    case 'S':
        SetY(r, cmd::ScrollUp, p1);
        break;
    case 'T':
        SetY(r, cmd::ScrollDown, p1);
        break;
    case 'U':
        SetY(r, cmd::NextPage, p1);
        break;
    case 'V':
        SetY(r, cmd::PrecedingPage, p1);
        break;
    case 'W':
        SetX(r, cmd::TabControl, p1);
        break;
    case 'X':
        SetX(r, cmd::EraseChars, p1);
        break;
    case 'Y':
        SetY(r, cmd::VerticalTab, p1);
        break;
    case 'Z':
        SetX(r, cmd::TabBackward, p1);
        break;
    case 'b':
        SetX(r, cmd::RepeatChar, p1);
        break;
    // An ANSI terminal answers as a VT100 does; the VT52 identification would mean nothing
    // to a host that spoke ANSI to us.
    case 'c':
        SetXY(r, cmd::DeviceAttributes, p1, 1);
        break;
    case 'd':
        SetY(r, cmd::CursorToRow, p1);
        break;
    case 'e':
        SetY(r, cmd::CursorDown, p1);
        break;
    case 'g':
        SetX(r, cmd::TabClear, p1);
        break;
    case 'h':
        SetX(r, cmd::SetModeAnsi, p1);
        break;
    case 'i':
        SetX(r, cmd::MediaCopy, p1);
        break;
    case 'l':
        SetX(r, cmd::ResetModeAnsi, p1);
        break;
    case 'm':
        ColourSequence(s, r, false);
        break;
    case 'n':
        SetX(r, cmd::DeviceStatusReport, p1);
        break;
    case 'o':
        SetX(r, cmd::DefineAreaQualifier, p1);
        break;
    case 's':
        Set(r, cmd::SaveCursor);
        break;
    case 'u':
        Set(r, cmd::RestoreCursor);
        break;
    default:
        Set(r, cmd::WriteChar);
        break;
    }
}

void Vt100Mode(TCommandRecord &r, int32_t p1, bool set)
{
    const uint8_t x = set ? 1 : 0;
    switch (p1) {
    case 2:
        SetX(r, cmd::ModeKeyboardLock, x);
        break;
    case 3:
        SetX(r, cmd::ModeCursorKeys, x);
        break;
    case 4:
        SetX(r, cmd::ModeInsert, x);
        break;
    case 20:
        SetX(r, cmd::ModeNewLine, x);
        break;
    default:
        break; // modes without a meaning here are ignored, not drawn
    }
}

void Vt100Final(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const int32_t p1 = s.Params[0];
    const int32_t p2 = s.Params[1];
    switch (c) {
    case 'A':
        SetY(r, cmd::CursorUp, p1);
        break;
    case 'B':
        SetY(r, cmd::CursorDown, p1);
        break;
    case 'C':
        SetX(r, cmd::CursorRight, p1);
        break;
    case 'D':
        SetX(r, cmd::CursorLeft, p1);
        break;
    case 'H':
    case 'f':
        SetXY(r, cmd::CursorPosition, p2, p1);
        break;
    case 'J':
        SetXY(r, cmd::EraseDisplay, p1, 1);
        break;
    case 'K':
        SetXY(r, cmd::EraseLine, p1, 0);
        break;
    case 'L':
        SetY(r, cmd::InsertLines, p1);
        break;
    case 'M':
        SetY(r, cmd::DeleteLines, p1);
        break;
    case 'R':
        SetXY(r, cmd::PositionReport, p2, p1);
        break;
    case 'c':
        if (p1 == 0)
            SetXY(r, cmd::DeviceAttributes, 0, 1);
        else
            Set(r, cmd::WriteChar);
        break;
    case 'h':
        Vt100Mode(r, p1, true);
        break;
    case 'l':
        Vt100Mode(r, p1, false);
        break;
    case 'i':
        SetX(r, cmd::MediaCopy, p1);
        break;
    case 'm':
        ColourSequence(s, r, true);
        break;
    case 'n':
        SetX(r, cmd::DeviceStatusReport, p1);
        break;
    // A missing bottom margin is sent as 0, which the buffer reads as "the page's last row".
    case 'r':
        SetXY(r, cmd::SetScrollRegion, p1, s.ParamTexts[1].Length ? p2 : 0);
        break;
    default:
        Set(r, cmd::WriteChar);
        break;
    }
}

// The escape tables. The command is preset to write character, so a byte no table knows is
// drawn.
void AnsiEscape(uint8_t c, TCommandRecord &r)
{
    switch (c) {
    case 'D':
        SetY(r, cmd::CursorDown, 1);
        break;
    case 'E':
        Set(r, cmd::NextLine);
        break;
    case 'H':
        Set(r, cmd::SetTab);
        break;
    case 'I':
        Set(r, cmd::TabJustify);
        break;
    case 'J':
        Set(r, cmd::SetVerticalTab);
        break;
    case 'F':
        Set(r, cmd::StartSelectedArea);
        break;
    case 'G':
        Set(r, cmd::EndSelectedArea);
        break;
    case 'K':
        Set(r, cmd::PartialLineDown);
        break;
    case 'L':
        Set(r, cmd::PartialLineUp);
        break;
    case 'M':
        Set(r, cmd::ReverseIndex);
        break;
    case 'N':
        Set(r, cmd::SingleShift2);
        break;
    case 'O':
        Set(r, cmd::SingleShift3);
        break;
    case 'P':
        Set(r, cmd::DeviceControlString);
        break;
    case 'Q':
        Set(r, cmd::PrivateUse1);
        break;
    case 'R':
        Set(r, cmd::PrivateUse2);
        break;
    case 'S':
        Set(r, cmd::SetTransmitState);
        break;
    case 'T':
        Set(r, cmd::CancelCharacter);
        break;
    case 'U':
        Set(r, cmd::MessageWaiting);
        break;
    case 'V':
        Set(r, cmd::StartGuardedArea);
        break;
    case 'W':
        Set(r, cmd::EndGuardedArea);
        break;
    case '\\':
        Set(r, cmd::StringTerminator);
        break;
    case '^':
        Set(r, cmd::PrivacyMessage);
        break;
    case 'a':
        Set(r, cmd::Interrupt);
        break;
    case 'b':
        Set(r, cmd::EndMessage);
        break;
    case 'c':
        Set(r, cmd::ResetInitial);
        break;
    default:
        break;
    }
}

void Vt100Escape(uint8_t c, TCommandRecord &r)
{
    switch (c) {
    case '7':
        Set(r, cmd::SaveCursor);
        break;
    case '8':
        Set(r, cmd::RestoreCursor);
        break;
    case '=':
    case '>':
        Set(r, cmd::Nothing);
        break; // keypad modes: nothing to do
    case 'D':
        SetY(r, cmd::CursorDown, 1);
        break;
    case 'E':
        Set(r, cmd::NextLine);
        break;
    case 'H':
        Set(r, cmd::SetTab);
        break;
    case 'M':
        Set(r, cmd::ReverseIndex);
        break;
    case 'Z':
        SetXY(r, cmd::DeviceAttributes, 0, 1);
        break;
    case 'c':
        Set(r, cmd::ResetInitial);
        break;
    default:
        break;
    }
}

// VT52 ESC J and ESC K erase from the cursor to the end of the screen and of the line; they
// never cleared what lies before the cursor.
void Vt52Escape(uint8_t c, TCommandRecord &r)
{
    switch (c) {
    case 'A':
        SetY(r, cmd::CursorUp, 1);
        break;
    case 'B':
        SetY(r, cmd::CursorDown, 1);
        break;
    case 'C':
        SetX(r, cmd::CursorRight, 1);
        break;
    case 'D':
        SetX(r, cmd::CursorLeft, 1);
        break;
    case 'H':
        SetXY(r, cmd::CursorPosition, 1, 1);
        break;
    case 'J':
        SetXY(r, cmd::EraseDisplay, 0, 0);
        break;
    case 'K':
        SetXY(r, cmd::EraseLine, 0, 0);
        break;
    case 'Z':
        SetXY(r, cmd::DeviceAttributes, 0, 0);
        break;
    case 'c':
        Set(r, cmd::ResetInitial);
        break;
    default:
        break;
    }
}

void GroundByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    switch (c) {
    case 0x09:
        Set(r, cmd::HorizontalTab);
        break;
    case 0x0C:
        SetXY(r, cmd::EraseDisplay, 2, 0);
        break; // form feed clears the screen
    case 0x0E:
    case 0x0F:
        break; // shift out / shift in: no alternate character set here
    case 0x1B:
        s.ParseState = psEscape;
        return;
    default:
        Set(r, cmd::WriteChar);
        break;
    }
    // A sequence's collected bytes start at its escape.
    s.CollectedCount = 0;
}

// VT52 direct cursor addressing: ESC Y, then the row and the column, each sent as 32 plus its
// 0-based value. A control byte in their place abandons the address and acts as usual.
void Vt52AddressByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c < 0x20) {
        ResetParser(s);
        GroundByte(s, c, r);
        return;
    }
    if (s.ParseState == psVt52Row) {
        s.Params[0] = c - 0x1F; // 1-based
        s.ParseState = psVt52Column;
        return;
    }
    SetXY(r, cmd::CursorPosition, c - 0x1F, s.Params[0]);
    ResetParser(s);
}

void EscapeByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const uint16_t type = s.EmulationType;
    if (c == '[' && type != etVt52) {
        s.ParseState = psCsiEntry;
        return;
    }
    if (type == etVt100 && (c == '(' || c == ')')) {
        s.ParseState = c == '(' ? psG0Designation : psG1Designation;
        return;
    }
    if (type == etVt52 && c == 'Y') {
        s.ParseState = psVt52Row;
        return;
    }
    r.Command = cmd::WriteChar;
    if (type == etVt100)
        Vt100Escape(c, r);
    else if (type == etVt52)
        Vt52Escape(c, r);
    else
        AnsiEscape(c, r);
    ResetParser(s);
}

void CsiByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (c >= '0' && c <= '9') {
        AppendDigit(s, c);
        s.ParseState = psInNumber;
        return;
    }
    switch (c) {
    case ';':
        if (s.ParseState == psAfterSeparator || s.ParamIndex >= kMaxParams) {
            SequenceError(s, r);
            return;
        }
        s.ParseState = psAfterSeparator;
        ++s.ParamIndex;
        return;
    case '=':
        return;
    case '?':
        if (s.ParamIndex >= kMaxParams) {
            SequenceError(s, r);
            return;
        }
        s.ParseState = psPrivateEntry;
        ++s.ParamIndex;
        return;
    default:
        break;
    }
    FinishControlSequence(s, c, r);
}

// DEC private modes (ESC [ ? n h/l) are recognised so they are not drawn; none has an effect.
void PrivateByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.EmulationType == etVt100 && c >= '1' && c <= '9') {
        AppendDigit(s, c);
        s.ParseState = psPrivateDigits;
        return;
    }
    if (s.EmulationType != etVt100 || (c != 'h' && c != 'l'))
        r.Command = cmd::WriteChar;
    ResetParser(s);
}

} // namespace

void FinishControlSequence(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    ConvertParams(s, c);
    if (s.EmulationType == etVt100)
        Vt100Final(s, c, r);
    else
        AnsiFinal(s, c, r);
    ResetParser(s);
}

void ParseSequenceByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.ResetPending) {
        s.ResetPending = false;
        r.Foreground = 7;
        r.Background = 0;
        r.Attributes = 0;
        s.AttributeAccumulator = 0;
    }
    if (s.CollectedCount < kMaxCollected)
        s.Collected[s.CollectedCount++] = c;
    r.Character = c;
    r.Command = cmd::Nothing;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);

    switch (s.ParseState) {
    case psGround:
        GroundByte(s, c, r);
        break;
    case psEscape:
        EscapeByte(s, c, r);
        break;
    case psCsiEntry:
    case psAfterSeparator:
    case psInNumber:
        CsiByte(s, c, r);
        break;
    case psG0Designation:
    case psG1Designation:
        if (c != '0' && c != '1' && c != '2' && c != 'A' && c != 'B')
            r.Command = cmd::WriteChar;
        ResetParser(s);
        break;
    case psPrivateEntry:
    case psPrivateDigits:
        PrivateByte(s, c, r);
        break;
    case psVt52Row:
    case psVt52Column:
        Vt52AddressByte(s, c, r);
        break;
    case psSkipSequence:
        if (c == 0x1B)
            s.ParseState = psEscape; // a new sequence ends the refused one
        else if (IsParameterByte(c))
            s.CollectedCount = 0;
        else
            ResetParser(s);
        break;
    default:
        ResetParser(s);
        break; // a state no path sets: start over
    }
}

void ParseByte(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    ParseTextOrDigit(s, c, r);
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
