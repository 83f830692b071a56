#pragma once
// The terminal emulator: a non-visual component that turns received bytes into commands for the
// screen buffer. The parser keeps the escape-sequence state; the buffer's character processor
// carries out what the parser puts into the command record, so either side can be replaced.

#include "serial/ApdBaseComponent.h"
#include "terminal/EmulatorCommand.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace terminal
{

// Emulation types. AnsiBbs parses exactly as Ansi; only Ansi gets the fallback of a restore
// without a saved cursor.
enum TEmulationType : uint8_t {
    etNone = 0,
    etAnsi = 1,
    etVt52 = 2,
    etVt100 = 3,
    etAnsiBbs = 4,
};
constexpr uint8_t kLastEmulationType = etAnsiBbs;

// Parse states, numbered as the emulator has always stored them.
enum TParseState : uint8_t {
    psGround = 0,
    psEscape = 1,
    psAfterSeparator = 3,
    psInNumber = 4,
    psCsiEntry = 6,
    psG0Designation = 7,
    psG1Designation = 8,
    psPrivateEntry = 10,
    psPrivateDigits = 11,
    psSkipSequence = 12, // after a refused sequence: its remaining bytes up to the final one
    psVt52Row = 13,      // VT52 ESC Y: the row byte comes next
    psVt52Column = 14,   // VT52 ESC Y: the column byte comes next
};

constexpr int kMaxParams = 5;
constexpr int kMaxParamDigits = 5;
constexpr int kMaxCollected = 20;
constexpr int kErrorCopyBytes = 11;

struct TParamText {
    uint8_t Length = 0;
    char Digits[kMaxParamDigits] = {};
};

// The parser's state for one emulator.
static_assert(kMaxParams == 5, "the parameters start at 1, one initialiser each");

struct TEmulatorState {
    explicit TEmulatorState(uint8_t type) : EmulationType(type) {}

    uint16_t EmulationType;
    bool ResetPending = true; // the first byte processed resets the record's colours
    uint8_t AttributeAccumulator = 0;
    uint16_t CollectedCount = 0; // raw bytes of the current sequence, for error reports
    uint16_t ParamIndex = 1;     // parameter being read, 1..5
    uint8_t Collected[kMaxCollected] = {};
    TParamText ParamTexts[kMaxParams];
    // A parameter without digits is 1; the parser keeps every parameter not being read at 1, so
    // the final byte need not fill them in.
    int32_t Params[kMaxParams] = {1, 1, 1, 1, 1};
    uint8_t ParseState = psGround;
};

// Runs the parser of types 1..4 on one byte and fills the record.
void ParseByte(TEmulatorState &state, uint8_t c, TCommandRecord &record);

// The parser's own steps. Text and parameter digits are handled inline (every received byte
// passes here, so the screen buffer's character processor calls it without an indirection);
// everything else goes to ParseSequenceByte.
void ParseSequenceByte(TEmulatorState &s, uint8_t c, TCommandRecord &r);
// The final byte of a control sequence (ESC [ ... final), whose parameters are collected: the
// command of the type's final-byte table, then the parser starts over.
void FinishControlSequence(TEmulatorState &s, uint8_t c, TCommandRecord &r);

// A digit joins the current parameter's text (digits past the fifth are dropped); its value is
// kept up to date alongside, so the final byte need not read the texts again.
inline void AppendDigit(TEmulatorState &s, uint8_t c)
{
    const int index = s.ParamIndex - 1;
    TParamText &text = s.ParamTexts[index];
    if (text.Length >= kMaxParamDigits)
        return;
    const int32_t digit = c - '0';
    s.Params[index] = text.Length == 0 ? digit : s.Params[index] * 10 + digit;
    text.Digits[text.Length++] = static_cast<char>(c);
}

// Most bytes are text between sequences, and most bytes of a sequence are parameter digits; both
// take a short road. (A reset is only ever pending before the first byte, which is in ground.)
inline void ParseTextOrDigit(TEmulatorState &s, uint8_t c, TCommandRecord &r)
{
    const uint8_t state = s.ParseState;
    r.Character = c;
    r.EmulationType = static_cast<uint8_t>(s.EmulationType);
    if (state == psGround) {
        if (c >= 0x20 && !s.ResetPending) [[likely]] {
            s.CollectedCount = 0;
            r.Command = cmd::WriteChar;
            return;
        }
        if (c == 0x1B && !s.ResetPending) {
            s.Collected[0] = c;
            s.CollectedCount = 1;
            s.ParseState = psEscape;
            r.Command = cmd::Nothing;
            return;
        }
    } else if (state == psInNumber || state == psCsiEntry || state == psAfterSeparator) {
        if (uint8_t(c - '0') < 10) {
            if (s.CollectedCount < kMaxCollected)
                s.Collected[s.CollectedCount++] = c;
            r.Command = cmd::Nothing;
            AppendDigit(s, c);
            s.ParseState = psInNumber;
            return;
        }
    } else if (state == psEscape && c == '[' && s.EmulationType != etVt52) {
        if (s.CollectedCount < kMaxCollected)
            s.Collected[s.CollectedCount++] = c;
        r.Command = cmd::Nothing;
        s.ParseState = psCsiEntry;
        return;
    }
    ParseSequenceByte(s, c, r);
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
            ParseTextOrDigit(*state_, c, record);
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
