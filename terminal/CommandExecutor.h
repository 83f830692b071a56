#pragma once
// Carries out the command in a screen buffer's command record (what the emulator's parser made of
// the byte just received).

namespace terminal
{

class TBuffer;

void ExecuteCommand(TBuffer &buffer);

} // namespace terminal
