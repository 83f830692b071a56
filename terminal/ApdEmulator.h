#pragma once
// The terminal emulator: a non-visual component that turns received bytes into commands for the
// screen buffer. The parser keeps the escape-sequence state; the buffer's character processor
// carries out what the parser puts into the command record, so either side can be replaced.
//
// There is one parser. Its general step (ParseGeneral) takes any byte in any state; its inline
// road (ParseShort) takes the bytes most frequently received (text, the escape and bracket that
// open a control sequence, parameter digits and separators) through the same steps the general
// one uses, and leaves every other byte to it.

#include "serial/ApdBaseComponent.h"
#include "terminal/EmulatorCommand.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace terminal
{


enum TParseState : uint8_t {
    psGround = 0,
    psEscape = 1,
    psCsiEntry = 2,    // after ESC [: a private marker may come
    psCsiParam = 3,    // reading parameters
    psCsiOverflow = 4, // past the last parameter kept: digits and separators are dropped
    psCsiIgnore = 5,   // after a refused sequence: its remaining bytes up to the final one
    psG0Designation = 6,
    psG1Designation = 7,
    psVt52Row = 8,       // VT52 ESC Y: the row byte comes next
    psVt52Column = 9,    // VT52 ESC Y: the column byte comes next
    psEscapeIgnore = 10, // ESC and an intermediate no table knows: skipped up to its final byte
    psEscapeHash = 11,   // VT100 ESC #: the line-size and alignment functions
};

// Real colour sequences carry six parameters and more; parameters past the last kept are read
// and dropped. A value saturates at kMaxParamValue, so any mode number fits.
constexpr int kMaxParams = kRecordParams;
constexpr int32_t kMaxParamValue = 65535;
constexpr int kMaxCollected = 20;
constexpr int kErrorCopyBytes = 11;

struct TEmulationTables; // the escape and final-byte tables of one emulation type

// The parser's state for one emulator.
struct TEmulatorState {
    explicit TEmulatorState(uint8_t type);

    uint16_t EmulationType;
    const TEmulationTables *Tables;
    bool HasControlSequences; // ESC [ opens a control sequence (not in VT52)
    bool ResetPending = true; // the first byte processed resets the record's colours
    uint8_t AttributeAccumulator = 0;
    uint8_t BaseForeground = 7;  // the colour bold brightens, kept so normal intensity restores it
    uint8_t PrivateMarker = 0;   // '?', '<' or '>' right after ESC [, else 0
    uint16_t CollectedCount = 0; // raw bytes of the current sequence, for error reports
    uint16_t ParamIndex = 1;     // parameter being read, 1..kMaxParams
    uint8_t Collected[kMaxCollected] = {};
    // An omitted parameter reads as 0, as an explicit 0 does; the parser keeps every parameter
    // not being read at 0, so the final byte need not fill them in.
    int32_t Params[kMaxParams] = {};
    uint8_t ParseState = psGround;
};

// The general step: any byte in any state. Returns the record's command.
uint8_t ParseGeneral(TEmulatorState &s, uint8_t c, TCommandRecord &r);
// The general step's part for a final byte (0x40..0x7E) of a control sequence while its
// parameters are read: the function of the type's final-byte table.
uint8_t ParseFinal(TEmulatorState &s, uint8_t c, TCommandRecord &r);

// The steps the inline road shares with the general step.
namespace parse
{

inline void Collect(TEmulatorState &s, uint8_t c)
{
    if (s.CollectedCount < kMaxCollected)
        s.Collected[s.CollectedCount++] = c;
}

// A byte drawn between sequences.
inline void Text(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    s.CollectedCount = 0;
    r.Character = c;
    r.Command = cmd::WriteChar;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);
}

// A byte that only moves the parser on.
inline void Quiet(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    Collect(s, c);
    r.Character = c;
    r.Command = cmd::Nothing;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);
}

// An escape in ground starts a sequence; its collected bytes start there.
inline void Escape(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    s.CollectedCount = 0;
    s.ParseState = psEscape;
    Quiet(s, c, r);
}

// The bracket of ESC [.
inline void ControlSequenceIntroducer(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    s.ParseState = psCsiEntry;
    Quiet(s, c, r);
}

// A digit of a parameter: leading zeros read as the number; large values saturate.
inline void Digit(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    int32_t &value = s.Params[s.ParamIndex - 1];
    value = value * 10 + (c - '0');
    if (value > kMaxParamValue)
        value = kMaxParamValue;
    s.ParseState = psCsiParam;
    Quiet(s, c, r);
}

// A separator: an empty parameter keeps its 0, a default like an omitted one.
inline void Separator(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    if (s.ParamIndex < kMaxParams) {
        ++s.ParamIndex;
        s.ParseState = psCsiParam;
    } else {
        s.ParseState = psCsiOverflow;
    }
    Quiet(s, c, r);
}

} // namespace parse

// The inline road: the byte's step when it is text in ground, an escape, the bracket after it,
// or a digit or separator of a control sequence (ShortStep::Text or ::Quiet, the record
// filled). Otherwise nothing is done yet: ShortStep::Final for a final byte of a control
// sequence (for ParseFinal), ShortStep::General for any other byte.
enum class ShortStep : uint8_t { General, Text, Quiet, Final };

inline ShortStep ParseShort(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const uint8_t state = s.ParseState;
    if (state == psGround) {
        if (c >= 0x20 && !s.ResetPending) [[likely]] {
            parse::Text(s, c, r);
            return ShortStep::Text;
        }
        if (c == 0x1B && !s.ResetPending) {
            parse::Escape(s, c, r);
            return ShortStep::Quiet;
        }
    } else if (state == psEscape) {
        if (c == '[' && s.HasControlSequences) {
            parse::ControlSequenceIntroducer(s, c, r);
            return ShortStep::Quiet;
        }
    } else if (state == psCsiParam || state == psCsiEntry) {
        if (uint8_t(c - '0') < 10) {
            parse::Digit(s, c, r);
            return ShortStep::Quiet;
        }
        if (c == ';') {
            parse::Separator(s, c, r);
            return ShortStep::Quiet;
        }
        if (uint8_t(c - 0x40) <= 0x7E - 0x40)
            return ShortStep::Final;
    }
    return ShortStep::General;
}

// One byte through the parser. Returns the record's command.
inline uint8_t ParseStep(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    switch (ParseShort(s, c, r)) {
    case ShortStep::General:
        return ParseGeneral(s, c, r);
    case ShortStep::Final:
        return ParseFinal(s, c, r);
    default:
        return r.Command;
    }
}

class TApdCustomEmulator : public serial::TApdBaseComponent
{
  public:
    // A user character handler replaces the parser: it fills the record for each byte.
    using TProcessCharHandler = std::function<void(uint8_t c, TCommandRecord &record)>;

    TApdCustomEmulator();
    ~TApdCustomEmulator() override;

    uint8_t EmulationType() const { return type_; }
    // Types above 4 are refused (the type stays). While loading the type is only remembered;
    // it takes effect when loading ends.
    void SetEmulationType(uint8_t type);
    void EndLoading() override;

    // The parser state; null for type 0 or before a loaded type was applied.
    TEmulatorState *State() { return state_.get(); }
    const TEmulatorState *State() const { return state_.get(); }

    TProcessCharHandler OnProcessChar;

    // The routine installed into a screen buffer, with the emulator as its context.
    static void EmulatorRoutine(void *context, uint8_t c, TCommandRecord &record);
    // What the routine does: the user handler, else the parser, else write the byte.
    void Process(uint8_t c, TCommandRecord &record)
    {
        if (OnProcessChar) [[unlikely]] {
            record.Character = c;
            record.Command = cmd::Nothing;
            OnProcessChar(c, record);
        } else if (state_) {
            ParseStep(*state_, c, record);
        } else {
            record.Character = c;
            record.Command = cmd::WriteChar;
            record.EmulationType = etNone;
        }
    }

  private:
    void ApplyType();

    uint8_t type_ = etAnsi;
    std::unique_ptr<TEmulatorState> state_;
};

} // namespace terminal
