#pragma once
// The command record: what an emulator's parser makes of the byte just received, and what the
// screen buffer's character processor carries out. It lives in the buffer and is not cleared
// between bytes, so a field a command does not set keeps its previous value.

#include <cstdint>

namespace terminal
{

struct TCommandRecord {
    uint8_t Character = 0;  // the byte just received
    uint8_t Command = 0;    // command code; 0 = nothing to do
    uint8_t X = 0;          // first argument: column, count or mode selector
    uint8_t Y = 0;          // second argument: row, count or selector
    uint8_t Foreground = 0; // colour index set by the colour command
    uint8_t Background = 0;
    uint8_t Attributes = 0;    // attribute bits, as the buffer's cells keep them
    uint8_t EmulationType = 0; // type of the emulator that produced the command
    uint8_t Count = 0;         // characters for the write-string command
    uint8_t Chars[15] = {};    // characters for the write-string command
};

// An emulator's entry point: given its own context, the byte and the buffer's record, it fills
// the record. The buffer holds a context and a routine; both empty means plain mode.
using TEmulatorRoutine = void (*)(void *context, uint8_t c, TCommandRecord &record);

} // namespace terminal
