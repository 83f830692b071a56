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

// Carries out what the emulator put into the record: a glyph (the buffer drops NUL) or a command.
inline void CarryOut(TBuffer &b)
{
    const TCommandRecord &r = b.Command;
    if (r.Command == cmd::WriteChar) {
        if (r.Character != 0)
            WriteGlyph(b, r.Character);
    } else if (r.Command != cmd::Nothing) {
        ExecuteCommand(b);
    }
}

// A user character handler, another routine, or the built-in emulator without a parser.
[[gnu::noinline]] void ProcessEmulated(TBuffer &b, uint8_t c)
{
    b.EmulatorRoutine(b.EmulatorContext, c, b.Command);
    CarryOut(b);
}

// The built-in parser's general step, for the bytes its inline road leaves.
[[gnu::noinline]] void ParseAndExecute(TBuffer &b, TEmulatorState &s, uint8_t c)
{
    ParseGeneral(s, c, b.Command);
    CarryOut(b);
}

// A final byte of a control sequence, straight to the final-byte table.
[[gnu::noinline]] void FinishAndExecute(TBuffer &b, TEmulatorState &s, uint8_t c)
{
    ParseFinal(s, c, b.Command);
    CarryOut(b);
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
    // The built-in parser's inline road: text is written by a tail call, the bytes that open a
    // sequence and its parameters need nothing more, a final byte goes straight to the final-byte
    // table; every other byte takes the parser's general step.
    auto &emulator = *static_cast<TApdCustomEmulator *>(EmulatorContext);
    TEmulatorState *s = emulator.State();
    if (!s || emulator.OnProcessChar)
        return ProcessEmulated(*this, c);
    switch (ParseShort(*s, c, Command)) {
    case ShortStep::Text:
        return WriteGlyph(*this, c);
    case ShortStep::Quiet:
        return;
    case ShortStep::Final:
        return FinishAndExecute(*this, *s, c);
    default:
        return ParseAndExecute(*this, *s, c);
    }
}

} // namespace terminal
