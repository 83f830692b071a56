#pragma once
// The keyboard emulator component: turns key presses in the terminal window into the byte
// sequences of a key map file (see KeyMap.h). While enabled it holds the open map and offers the
// routine the terminal window calls for every key down; every failure is raised as the exception
// of its result code.

#include "serial/ApdBaseComponent.h"
#include "terminal/KeyMap.h"

#include <memory>
#include <string>
#include <vector>

namespace terminal
{

class TApdCustomKeyboardEmulator : public serial::TApdBaseComponent
{
  public:
    TApdCustomKeyboardEmulator() = default;
    ~TApdCustomKeyboardEmulator() override;

    bool Enabled() const { return map_ != nullptr; }
    // True opens the map file, lists its emulations and loads one: the current EmulatorType when
    // the file lists it, otherwise the first listed. False frees the map and forgets the type.
    void SetEnabled(bool enabled);

    const std::string &MapFileName() const { return mapFileName_; }
    // While enabled the new file is opened at once.
    void SetMapFileName(const std::string &name);

    const std::string &EmulatorType() const { return emulatorType_; }
    // While enabled the named emulation is loaded (an empty name loads no keys); a name the map
    // refuses raises and leaves the current emulation.
    void SetEmulatorType(const std::string &name);

    bool ProcessAllKeys() const { return processAllKeys_; }
    void SetProcessAllKeys(bool value);
    bool ProcessExtended() const { return processExtended_; }
    void SetProcessExtended(bool value);

    // The emulations the open file lists; empty while disabled.
    const std::vector<std::string> &EmulatorNames() const { return names_; }
    // The key fields of the loaded emulation that could not be read and so are left empty.
    std::vector<std::string> InvalidKeys() const;

    // What the terminal window stores: the map and its routine, both null while disabled.
    const void *KeyEmulatorContext() const { return map_.get(); }
    TKeyEmulatorProc KeyEmulatorProc() const { return map_ ? &TKeyMap::TranslateProc : nullptr; }

    // Translates one key as the terminal's routine does (the plain path while disabled).
    void Translate(uint16_t virtualKey, TKeyRecord &record) const;

  private:
    void Enable();
    void Disable();

    std::unique_ptr<TKeyMap> map_;
    std::string mapFileName_ = "AWKEYBRD.INI";
    std::string emulatorType_;
    bool processAllKeys_ = false;
    bool processExtended_ = false;
    std::vector<std::string> names_;
};

class TApdKeyboardEmulator : public TApdCustomKeyboardEmulator
{
};

} // namespace terminal
