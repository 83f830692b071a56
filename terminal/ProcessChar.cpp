// The character processor: every received byte goes through the attached emulator (if any) into
// the command record, and the command is carried out on the buffer (CommandExecutor.cpp).

#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"
#include "terminal/CommandExecutor.h"

namespace terminal
{

namespace
{

// A glyph on its own: bProcessChar reaches it by a tail call, so the byte's dispatch saves no
// registers and the write runs in a function of its own.
[[gnu::noinline]] void WriteGlyph(TBuffer &b, uint8_t c)
{
    b.bWriteChar(c);
}

// The general emulated path: a user parser, another routine, and every byte the short roads
// of bProcessChar leave.
[[gnu::noinline]] void ProcessEmulated(TBuffer &b, uint8_t c)
{
    if (b.EmulatorRoutine == &TApdCustomEmulator::EmulatorRoutine) {
        // The built-in emulator, called directly: its text path is then inline here.
        static_cast<TApdCustomEmulator *>(b.EmulatorContext)->Process(c, b.Command);
    } else {
        b.EmulatorRoutine(b.EmulatorContext, c, b.Command);
    }
    if (b.Command.Command == cmd::WriteChar) {
        if (b.Command.Character != 0)
            WriteGlyph(b, b.Command.Character);
        return;
    }
    if (b.Command.Command != cmd::Nothing) // most bytes inside a sequence produce nothing
        ExecuteCommand(b);
}

// The built-in parser's general step for the bytes bProcessChar's short road leaves (with no
// user handler, so the parser's own text and digit steps have been ruled out already).
[[gnu::noinline]] void ParseAndExecute(TBuffer &b, TEmulatorState &s, uint8_t c)
{
    ParseSequenceByte(s, c, b.Command);
    if (b.Command.Command == cmd::WriteChar) {
        if (b.Command.Character != 0)
            WriteGlyph(b, b.Command.Character);
        return;
    }
    if (b.Command.Command != cmd::Nothing)
        ExecuteCommand(b);
}

// The final byte of a control sequence: what the parser's general step would do for it, without
// the general step's dispatch.
[[gnu::noinline]] void FinishAndExecute(TBuffer &b, TEmulatorState &s, uint8_t c)
{
    b.Command.Character = c;
    b.Command.Command = cmd::Nothing;
    b.Command.EmulationType = static_cast<uint8_t>(s.EmulationType);
    FinishControlSequence(s, c, b.Command);
    if (b.Command.Command == cmd::WriteChar) {
        if (c != 0)
            WriteGlyph(b, c);
        return;
    }
    if (b.Command.Command != cmd::Nothing)
        ExecuteCommand(b);
}

[[gnu::noinline]] void ProcessPlain(TBuffer &b, uint8_t c)
{
    // The byte is written as it is (the buffer drops NUL).
    b.Command.Character = c;
    b.Command.Command = cmd::WriteChar;
    if (c != 0)
        b.bWriteChar(c);
}

} // namespace

void TBuffer::bProcessChar(uint8_t c)
{
    if (EmulatorRoutine != &TApdCustomEmulator::EmulatorRoutine || !EmulatorContext) {
        if (!EmulatorContext || !EmulatorRoutine)
            return ProcessPlain(*this, c);
        return ProcessEmulated(*this, c);
    }
    // The built-in parser's most frequent bytes (text in ground, the escape and bracket that open
    // a control sequence, its digits and separators) take a short road here; they do exactly
    // what the parser would.
    auto &emulator = *static_cast<TApdCustomEmulator *>(EmulatorContext);
    TEmulatorState *s = emulator.State();
    if (!s || emulator.OnProcessChar)
        return ProcessEmulated(*this, c);
    const uint8_t state = s->ParseState;
    if (state == psGround) {
        if (s->ResetPending)
            return ParseAndExecute(*this, *s, c);
        if (c >= 0x20) {
            Command.Character = c;
            Command.EmulationType = static_cast<uint8_t>(s->EmulationType);
            Command.Command = cmd::WriteChar;
            s->CollectedCount = 0;
            return WriteGlyph(*this, c);
        }
        if (c != 0x1B)
            return ParseAndExecute(*this, *s, c);
        // A sequence's collected bytes start at its escape.
        s->CollectedCount = 0;
        s->ParseState = psEscape;
    } else if (state == psEscape) {
        if (c != '[' || s->EmulationType == etVt52)
            return ParseAndExecute(*this, *s, c);
        s->ParseState = psCsiEntry;
    } else if (state != psInNumber && state != psCsiEntry && state != psAfterSeparator) {
        return ParseAndExecute(*this, *s, c);
    } else if (uint8_t(c - '0') < 10) {
        AppendDigit(*s, c);
        s->ParseState = psInNumber;
    } else if (c == ';' && state != psAfterSeparator && s->ParamIndex < kMaxParams) {
        ++s->ParamIndex;
        s->ParseState = psAfterSeparator;
    } else if (c != ';' && c != '=' && c != '?') {
        return FinishAndExecute(*this, *s, c);
    } else {
        return ParseAndExecute(*this, *s, c);
    }
    if (s->CollectedCount < kMaxCollected)
        s->Collected[s->CollectedCount++] = c;
    Command.Character = c;
    Command.EmulationType = static_cast<uint8_t>(s->EmulationType);
    Command.Command = cmd::Nothing;
}

} // namespace terminal

