#pragma once
// The key record the terminal window and the keyboard emulator exchange for each key press: the
// window fills the keyboard state, the emulator's routine fills the rest and, when it handles the
// key, the bytes to send. Plain C++, so the key map and its tests need no Qt.

#include <array>
#include <cstdint>
#include <string_view>

namespace terminal
{

// Windows virtual-key numbers the key map rules name.
enum : uint16_t {
    vkShift = 16,
    vkControl = 17,
    vkMenu = 18, // Alt
    vkCapital = 20,
    vkPrior = 33, // first of the extended cursor keys (page up ... down)
    vkDown = 40,
    vkF1 = 112,
    vkF12 = 123,
    vkNumLock = 144,
    vkScroll = 145,
};

// Bits of a keyboard-state byte: the key is held down, or (for the locks) switched on.
constexpr uint8_t ksDown = 0x80;
constexpr uint8_t ksToggled = 0x01;

// Lock flags of the record.
constexpr int16_t klCapsLock = 0x01;
constexpr int16_t klNumLock = 0x02;
constexpr int16_t klScrollLock = 0x04;

// Shift-state terms: each is added while its modifier is up, so a bare key has 14.
constexpr int16_t ssCtrlUp = 2;
constexpr int16_t ssAltUp = 4;
constexpr int16_t ssShiftUp = 8;

constexpr std::size_t MaxKeySequence = 20;

struct TKeyRecord {
    uint16_t KeyCode = 0;
    int16_t ShiftFlags = 0; // the shift-state sum above
    int16_t LockFlags = 0;
    bool Handled = false;
    std::array<uint8_t, 256> KeyboardState{}; // by virtual-key number: ksDown, ksToggled
    uint8_t Length = 0;                       // bytes to send
    std::array<char, MaxKeySequence> Bytes{};

    std::string_view Sequence() const { return {Bytes.data(), Length}; }
    void SetSequence(std::string_view bytes)
    {
        Length =
            static_cast<uint8_t>(bytes.size() < MaxKeySequence ? bytes.size() : MaxKeySequence);
        Bytes.fill(0);
        bytes.copy(Bytes.data(), Length);
    }
};

// The shift-state sum from the record's keyboard state.
inline int16_t ShiftStateOf(const TKeyRecord &record)
{
    const auto up = [&](uint16_t vk) { return (record.KeyboardState[vk] & ksDown) == 0; };
    return static_cast<int16_t>((up(vkControl) ? ssCtrlUp : 0) + (up(vkMenu) ? ssAltUp : 0) +
                                (up(vkShift) ? ssShiftUp : 0));
}

// The routine the terminal window calls for every key down: context is the emulator's map.
using TKeyEmulatorProc = void (*)(const void *context, uint16_t virtualKey, TKeyRecord &record);

// What the window does without a keyboard emulator: a clean record holding only the key code,
// not handled.
inline void PlainKey(uint16_t virtualKey, TKeyRecord &record)
{
    record = TKeyRecord{};
    record.KeyCode = virtualKey;
}

} // namespace terminal
