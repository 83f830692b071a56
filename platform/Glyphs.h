#pragma once
// The program's button glyphs and window icon, drawn at run time so the program needs no image
// files. Each icon holds a 16 and a 32 pixel version drawn from the same 16-unit outline.

#include <QIcon>

namespace loader
{

QIcon TerminalGlyph();    // a monitor with a prompt
QIcon ComSetupGlyph();    // a nine-pin serial connector
QIcon CancelGlyph();      // a red cross
QIcon SaveGlyph();        // a green tick
QIcon LoaderWindowIcon(); // a chip with a download arrow

} // namespace loader
