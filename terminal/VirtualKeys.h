#pragma once
// Windows virtual-key numbers for Qt key events, so key map files keep their meaning: one fixed
// table from Qt::Key (the keypad modifier picks the keypad's own numbers) for a US layout, and
// the shift state and lock flags of a key record from Qt's modifiers.

#include "terminal/KeyRecord.h"

#include <Qt>
#include <cstdint>

class QKeyEvent;

namespace terminal
{

// The virtual-key number of a Qt key, or 0 for a key without one.
uint16_t VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers);

// The shift-state sum: 2 while Ctrl is up, 4 while Alt is up, 8 while Shift is up.
int16_t ShiftStateOf(Qt::KeyboardModifiers modifiers);

// Lock flags (klCapsLock, klNumLock) from the native modifier mask that X11 and Wayland report:
// the lock bit for Caps Lock and Mod2, where Num Lock sits on common keymaps.
int16_t LockFlagsOfNative(quint32 nativeModifiers);

// The key record for a key press as the terminal window hands it to the keyboard emulator: the
// keyboard state holds the held modifiers, the pressed key and the locks that are on.
TKeyRecord KeyRecordOf(uint16_t virtualKey, Qt::KeyboardModifiers modifiers, int16_t lockFlags);
TKeyRecord KeyRecordOf(const QKeyEvent &event);

} // namespace terminal
