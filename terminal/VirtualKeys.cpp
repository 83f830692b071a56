#include "terminal/VirtualKeys.h"

#include <QKeyEvent>

#include <unordered_map>

namespace terminal
{
namespace
{

enum : uint16_t {
    vkBack = 0x08,
    vkTab = 0x09,
    vkClear = 0x0C,
    vkReturn = 0x0D,
    vkPause = 0x13,
    vkEscape = 0x1B,
    vkSpace = 0x20,
    vkNext = 0x22,
    vkEnd = 0x23,
    vkHome = 0x24,
    vkLeft = 0x25,
    vkUp = 0x26,
    vkRight = 0x27,
    vkSnapshot = 0x2C,
    vkInsert = 0x2D,
    vkDelete = 0x2E,
    vkHelp = 0x2F,
    vkLWin = 0x5B,
    vkApps = 0x5D,
    vkNumpad0 = 0x60,
    vkMultiply = 0x6A,
    vkAdd = 0x6B,
    vkSeparator = 0x6C,
    vkSubtract = 0x6D,
    vkDecimal = 0x6E,
    vkDivide = 0x6F,
    vkOem1 = 0xBA, // ; :
    vkOemPlus = 0xBB,
    vkOemComma = 0xBC,
    vkOemMinus = 0xBD,
    vkOemPeriod = 0xBE,
    vkOem2 = 0xBF, // / ?
    vkOem3 = 0xC0, // ` ~
    vkOem4 = 0xDB, // [ {
    vkOem5 = 0xDC, // \ |
    vkOem6 = 0xDD, // ] }
    vkOem7 = 0xDE, // ' "
};

// Keys whose number does not depend on the keypad. Shifted symbols name the key that carries
// them on a US layout, as Windows reports the key rather than the character.
const std::unordered_map<int, uint16_t> &MainKeys()
{
    static const std::unordered_map<int, uint16_t> table = {
        {Qt::Key_Backspace, vkBack},
        {Qt::Key_Tab, vkTab},
        {Qt::Key_Backtab, vkTab},
        {Qt::Key_Clear, vkClear},
        {Qt::Key_Return, vkReturn},
        {Qt::Key_Enter, vkReturn},
        {Qt::Key_Shift, vkShift},
        {Qt::Key_Control, vkControl},
        {Qt::Key_Alt, vkMenu},
        {Qt::Key_AltGr, vkMenu},
        {Qt::Key_Pause, vkPause},
        {Qt::Key_CapsLock, vkCapital},
        {Qt::Key_Escape, vkEscape},
        {Qt::Key_Space, vkSpace},
        {Qt::Key_PageUp, vkPrior},
        {Qt::Key_PageDown, vkNext},
        {Qt::Key_End, vkEnd},
        {Qt::Key_Home, vkHome},
        {Qt::Key_Left, vkLeft},
        {Qt::Key_Up, vkUp},
        {Qt::Key_Right, vkRight},
        {Qt::Key_Down, vkDown},
        {Qt::Key_Print, vkSnapshot},
        {Qt::Key_Insert, vkInsert},
        {Qt::Key_Delete, vkDelete},
        {Qt::Key_Help, vkHelp},
        {Qt::Key_Meta, vkLWin},
        {Qt::Key_Super_L, vkLWin},
        {Qt::Key_Menu, vkApps},
        {Qt::Key_NumLock, vkNumLock},
        {Qt::Key_ScrollLock, vkScroll},
        {Qt::Key_Exclam, '1'},
        {Qt::Key_At, '2'},
        {Qt::Key_NumberSign, '3'},
        {Qt::Key_Dollar, '4'},
        {Qt::Key_Percent, '5'},
        {Qt::Key_AsciiCircum, '6'},
        {Qt::Key_Ampersand, '7'},
        {Qt::Key_Asterisk, '8'},
        {Qt::Key_ParenLeft, '9'},
        {Qt::Key_ParenRight, '0'},
        {Qt::Key_Semicolon, vkOem1},
        {Qt::Key_Colon, vkOem1},
        {Qt::Key_Equal, vkOemPlus},
        {Qt::Key_Plus, vkOemPlus},
        {Qt::Key_Comma, vkOemComma},
        {Qt::Key_Less, vkOemComma},
        {Qt::Key_Minus, vkOemMinus},
        {Qt::Key_Underscore, vkOemMinus},
        {Qt::Key_Period, vkOemPeriod},
        {Qt::Key_Greater, vkOemPeriod},
        {Qt::Key_Slash, vkOem2},
        {Qt::Key_Question, vkOem2},
        {Qt::Key_QuoteLeft, vkOem3},
        {Qt::Key_AsciiTilde, vkOem3},
        {Qt::Key_BracketLeft, vkOem4},
        {Qt::Key_BraceLeft, vkOem4},
        {Qt::Key_Backslash, vkOem5},
        {Qt::Key_Bar, vkOem5},
        {Qt::Key_BracketRight, vkOem6},
        {Qt::Key_BraceRight, vkOem6},
        {Qt::Key_Apostrophe, vkOem7},
        {Qt::Key_QuoteDbl, vkOem7},
    };
    return table;
}

// Keypad keys that have their own numbers; the keypad's cursor keys (Num Lock off) and Enter
// keep the main keys' numbers, as on Windows.
const std::unordered_map<int, uint16_t> &KeypadKeys()
{
    static const std::unordered_map<int, uint16_t> table = {
        {Qt::Key_Asterisk, vkMultiply}, {Qt::Key_Plus, vkAdd},       {Qt::Key_Comma, vkSeparator},
        {Qt::Key_Minus, vkSubtract},    {Qt::Key_Period, vkDecimal}, {Qt::Key_Slash, vkDivide},
    };
    return table;
}

} // namespace

uint16_t VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<uint16_t>(keypad ? vkNumpad0 + (qtKey - Qt::Key_0) : qtKey);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<uint16_t>(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<uint16_t>(vkF1 + (qtKey - Qt::Key_F1));
    if (keypad) {
        const auto &pad = KeypadKeys();
        if (auto it = pad.find(qtKey); it != pad.end())
            return it->second;
    }
    const auto &main = MainKeys();
    const auto it = main.find(qtKey);
    return it == main.end() ? 0 : it->second;
}

int16_t ShiftStateOf(Qt::KeyboardModifiers modifiers)
{
    return static_cast<int16_t>((modifiers.testFlag(Qt::ControlModifier) ? 0 : ssCtrlUp) +
                                (modifiers.testFlag(Qt::AltModifier) ? 0 : ssAltUp) +
                                (modifiers.testFlag(Qt::ShiftModifier) ? 0 : ssShiftUp));
}

int16_t LockFlagsOfNative(quint32 nativeModifiers)
{
    constexpr quint32 lockMask = 1u << 1, mod2Mask = 1u << 4;
    return static_cast<int16_t>(((nativeModifiers & lockMask) ? klCapsLock : 0) |
                                ((nativeModifiers & mod2Mask) ? klNumLock : 0));
}

TKeyRecord KeyRecordOf(uint16_t virtualKey, Qt::KeyboardModifiers modifiers, int16_t lockFlags)
{
    TKeyRecord record;
    record.KeyCode = virtualKey;
    auto &state = record.KeyboardState;
    if (modifiers.testFlag(Qt::ShiftModifier))
        state[vkShift] |= ksDown;
    if (modifiers.testFlag(Qt::ControlModifier))
        state[vkControl] |= ksDown;
    if (modifiers.testFlag(Qt::AltModifier))
        state[vkMenu] |= ksDown;
    if (virtualKey != 0)
        state[virtualKey] |= ksDown;
    if (lockFlags & klCapsLock)
        state[vkCapital] |= ksToggled;
    if (lockFlags & klNumLock)
        state[vkNumLock] |= ksToggled;
    if (lockFlags & klScrollLock)
        state[vkScroll] |= ksToggled;
    record.ShiftFlags = ShiftStateOf(modifiers);
    record.LockFlags = lockFlags;
    return record;
}

TKeyRecord KeyRecordOf(const QKeyEvent &event)
{
    return KeyRecordOf(VirtualKeyOf(event.key(), event.modifiers()), event.modifiers(),
                       LockFlagsOfNative(event.nativeModifiers()));
}

} // namespace terminal
