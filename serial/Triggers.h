#pragma once
// The trigger tables of one port: timer, data-match and status triggers, and the table that
// maps trigger handles to their slots. Plain data, so a port can stash and reinstate them.

#include <cstdint>

namespace serial
{

constexpr int kTimerSlots = 10;
constexpr int kDataSlots = 20;
constexpr int kStatusSlots = 10;
constexpr uint16_t kAvailHandle = 1;
constexpr uint16_t kFirstHandle = 2;
constexpr uint16_t kMaxHandle = 41;
constexpr uint16_t kMaxMatchLength = 21;

// Ticks of 55 ms run from 0 to this and wrap; longer durations are capped to it.
constexpr int32_t kMaxTimerTicks = 39045157;

// Kinds in the handle table.
constexpr uint8_t hkTimer = 2;
constexpr uint8_t hkData = 3;
constexpr uint8_t hkStatus = 4;

// A procedure handler of the trigger messages: runs on the port's dispatch thread.
using TEventProc = void (*)(uintptr_t handleValue, unsigned msg, uintptr_t wParam, intptr_t lParam);

// Status trigger kinds.
constexpr uint16_t StatusModem = 1;
constexpr uint16_t StatusLineError = 2;
constexpr uint16_t StatusOutFree = 3;
constexpr uint16_t StatusOutUsed = 4;
constexpr uint16_t StatusOutSent = 5;

struct TTimerTrigger {
    uint16_t Handle = 0;
    int32_t StartTick = 0;
    int32_t ExpiryTick = 0;
    int32_t Duration = 0;
    bool InUse = false;
    bool Armed = false;

    // Expired when the expiry lies behind now, also across a wrap of the tick counter.
    bool Expired(int32_t now) const;
};

struct TDataTrigger {
    uint16_t Handle = 0; // 0: slot free (a trigger of length 0 holds its slot but never fires)
    uint16_t Length = 0;
    uint16_t State = 0; // bytes of Text matched by the latest received bytes
    // For each count k of matched bytes: the longest proper prefix of Text[0..k) that is also
    // its suffix, where a failed next byte may still continue the match.
    uint8_t Fallback[kMaxMatchLength] = {};
    bool Matched = false;
    bool IgnoreCase = false;
    uint8_t Text[kMaxMatchLength + 1] = {};
    // Completed matches since the trigger was added, counted by the dispatch thread whether or
    // not their delivery reached anyone, so an owner can tell that its text came.
    uint32_t MatchCount = 0;

    // Shows the trigger one received byte; true when it completes a match: the first place the
    // text ends in the bytes received since the last match, which may begin with that match's
    // last byte (a prefix-function automaton, one step per byte).
    bool Feed(uint8_t c);
    void ResetPositions() { State = 0; }
    // Fills Fallback from Text and Length.
    void Prepare();
};

struct TStatusTrigger {
    uint16_t Handle = 0; // 0: slot free
    uint16_t Kind = 0;
    bool Armed = false;
    uint16_t Value = 0;
};

struct THandleEntry {
    uint16_t Slot = 0; // 1-based; 0 means the handle is free
    uint8_t Kind = 0;
};

// Everything a stash takes out of a port and a reinstate puts back.
struct TTriggerSet {
    uint16_t AvailThreshold = 0;
    THandleEntry Handles[kMaxHandle + 1]; // by handle; entries 0 and 1 unused
    TTimerTrigger Timers[kTimerSlots];
    TDataTrigger Data[kDataSlots];
    TStatusTrigger Status[kStatusSlots];

    // Each returns the new handle, or -5001 when no slot or handle is free; -5002 for a text
    // longer than 21; -1002 for a status kind above 5.
    int AddTimer();
    int AddData(const uint8_t *text, uint16_t length, bool ignoreCase);
    int AddStatus(uint16_t kind);
    // Frees the handle's slot; a handle that names no trigger is ignored.
    void Drop(uint16_t handle);
    void Reset() { *this = TTriggerSet{}; }
    // The 1-based slot of a handle of the given kind, else 0.
    int SlotOf(uint16_t handle, uint8_t kind) const;
    // The status kind (1 to 5) of a status trigger's handle, else 0.
    uint16_t StatusKindOf(uint16_t handle) const;

  private:
    int FreeHandle() const;
};

using TTriggerSnapshot = TTriggerSet;

// Upper-cases a byte the way the trigger matching does (ASCII letters only).
inline uint8_t UpperByte(uint8_t c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c;
}

} // namespace serial
