#include "serial/Triggers.h"

#include "serial/ErrorCodes.h"

namespace serial
{

bool TTimerTrigger::Expired(int32_t now) const
{
    if (ExpiryTick < now)
        return true;
    return now < StartTick && ExpiryTick < now + kMaxTimerTicks;
}

bool TDataTrigger::Feed(uint8_t c)
{
    if (IgnoreCase)
        c = UpperByte(c);
    uint16_t k = State;
    while (k > 0 && Text[k] != c)
        k = Fallback[k - 1];
    if (Text[k] == c)
        ++k;
    if (k < Length) {
        State = k;
        return false;
    }
    // The next match may start with this byte, never inside the one just completed.
    State = Length > 1 && c == Text[0] ? 1 : 0;
    return true;
}

void TDataTrigger::Prepare()
{
    Fallback[0] = 0;
    for (uint16_t i = 1, k = 0; i < Length; ++i) {
        while (k > 0 && Text[i] != Text[k])
            k = Fallback[k - 1];
        if (Text[i] == Text[k])
            ++k;
        Fallback[i] = static_cast<uint8_t>(k);
    }
    State = 0;
}

int TTriggerSet::FreeHandle() const
{
    for (int handle = kFirstHandle; handle <= kMaxHandle; ++handle)
        if (Handles[handle].Slot == 0)
            return handle;
    return 0;
}

int TTriggerSet::AddTimer()
{
    const int handle = FreeHandle();
    for (int i = 0; handle && i < kTimerSlots; ++i) {
        if (Timers[i].InUse)
            continue;
        Timers[i] = TTimerTrigger{};
        Timers[i].Handle = static_cast<uint16_t>(handle);
        Timers[i].InUse = true;
        Handles[handle] = THandleEntry{static_cast<uint16_t>(i + 1), hkTimer};
        return handle;
    }
    return ecNoMoreTriggers;
}

int TTriggerSet::AddData(const uint8_t *text, uint16_t length, bool ignoreCase)
{
    if (length > kMaxMatchLength)
        return ecTriggerTooLong;
    const int handle = FreeHandle();
    for (int i = 0; handle && i < kDataSlots; ++i) {
        if (Data[i].Handle != 0)
            continue;
        TDataTrigger &t = Data[i];
        t = TDataTrigger{};
        t.Handle = static_cast<uint16_t>(handle);
        t.Length = length;
        t.IgnoreCase = ignoreCase;
        for (uint16_t j = 0; j < length; ++j)
            t.Text[j] = ignoreCase ? UpperByte(text[j]) : text[j];
        t.Prepare();
        Handles[handle] = THandleEntry{static_cast<uint16_t>(i + 1), hkData};
        return handle;
    }
    return ecNoMoreTriggers;
}

int TTriggerSet::AddStatus(uint16_t kind)
{
    if (kind > StatusOutSent)
        return ecBadArgument;
    const int handle = FreeHandle();
    for (int i = 0; handle && i < kStatusSlots; ++i) {
        if (Status[i].Handle != 0)
            continue;
        Status[i] = TStatusTrigger{static_cast<uint16_t>(handle), kind, false, 0};
        Handles[handle] = THandleEntry{static_cast<uint16_t>(i + 1), hkStatus};
        return handle;
    }
    return ecNoMoreTriggers;
}

void TTriggerSet::Drop(uint16_t handle)
{
    if (handle == kAvailHandle) {
        AvailThreshold = 0;
        return;
    }
    if (handle < kFirstHandle || handle > kMaxHandle || Handles[handle].Slot == 0)
        return;
    const int slot = Handles[handle].Slot - 1;
    switch (Handles[handle].Kind) {
    case hkTimer:
        Timers[slot] = TTimerTrigger{};
        break;
    case hkData:
        Data[slot] = TDataTrigger{};
        break;
    case hkStatus:
        Status[slot] = TStatusTrigger{};
        break;
    default:
        break;
    }
    Handles[handle] = THandleEntry{};
}

int TTriggerSet::SlotOf(uint16_t handle, uint8_t kind) const
{
    if (handle < kFirstHandle || handle > kMaxHandle || Handles[handle].Kind != kind)
        return 0;
    return Handles[handle].Slot;
}

uint16_t TTriggerSet::StatusKindOf(uint16_t handle) const
{
    const int slot = SlotOf(handle, hkStatus);
    return slot ? Status[slot - 1].Kind : 0;
}

} // namespace serial
