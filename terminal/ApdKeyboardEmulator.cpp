#include "terminal/ApdKeyboardEmulator.h"

#include "serial/ApdExcept.h"
#include "serial/ErrorCodes.h"
#include "serial/ErrorMessages.h"

#include <algorithm>

namespace terminal
{

TApdCustomKeyboardEmulator::~TApdCustomKeyboardEmulator()
{
    Disable();
}

void TApdCustomKeyboardEmulator::SetEnabled(bool enabled)
{
    if (enabled == Enabled())
        return;
    if (enabled)
        Enable();
    else
        Disable();
}

void TApdCustomKeyboardEmulator::Enable()
{
    // Everything is prepared aside, so a failure leaves the component disabled.
    auto map = std::make_unique<TKeyMap>();
    const int opened = map->Open(mapFileName_);
    // A refused file is named with its reason: the code's message alone would not say which.
    if (opened == serial::ecIniRead && !Loading())
        throw serial::EIniRead(opened, serial::ErrorMessage(opened) + ": " + map->Refusal());
    if (serial::RaiseOnError(this, opened) < 0)
        return;
    map->ProcessAllKeys = processAllKeys_;
    map->ProcessExtended = processExtended_;

    std::vector<std::string> names;
    if (map->EntryCount() > 0 && serial::RaiseOnError(this, map->EmulationNames(names)) < 0)
        return;
    // A file without listed emulations loads no keys; one that lists the chosen type keeps it.
    if (std::find(names.begin(), names.end(), emulatorType_) == names.end())
        emulatorType_ = names.empty() ? std::string() : names.front();
    if (!emulatorType_.empty() && serial::RaiseOnError(this, map->LoadEmulation(emulatorType_)) < 0)
        return;
    map_ = std::move(map);
    names_ = std::move(names);
}

void TApdCustomKeyboardEmulator::Disable()
{
    map_.reset();
    names_.clear();
    emulatorType_.clear();
}

void TApdCustomKeyboardEmulator::SetMapFileName(const std::string &name)
{
    if (name == mapFileName_)
        return;
    mapFileName_ = name;
    if (Enabled()) {
        Disable();
        Enable();
    }
}

void TApdCustomKeyboardEmulator::SetEmulatorType(const std::string &name)
{
    if (name == emulatorType_)
        return;
    if (!Enabled()) {
        emulatorType_ = name;
        return;
    }
    // A name the map refuses leaves the loaded emulation, and its name, in place.
    const int result = map_->LoadEmulation(name);
    if (result == 0)
        emulatorType_ = name;
    serial::RaiseOnError(this, result);
}

void TApdCustomKeyboardEmulator::SetProcessAllKeys(bool value)
{
    processAllKeys_ = value;
    if (map_)
        map_->ProcessAllKeys = value;
}

void TApdCustomKeyboardEmulator::SetProcessExtended(bool value)
{
    processExtended_ = value;
    if (map_)
        map_->ProcessExtended = value;
}

std::vector<std::string> TApdCustomKeyboardEmulator::InvalidKeys() const
{
    return map_ ? map_->InvalidKeys() : std::vector<std::string>{};
}

void TApdCustomKeyboardEmulator::Translate(uint16_t virtualKey, TKeyRecord &record) const
{
    if (map_)
        map_->Translate(virtualKey, record);
    else
        PlainKey(virtualKey, record);
}

} // namespace terminal
