#pragma once
// The key map of the keyboard emulator: an INI file that holds key maps for several emulations.
// "Index" lists the emulations (value "#" marks one present), "Defaults" holds "_Entries" (the
// number of emulations) and default key definitions, and each emulation's section holds
// "Key1" ... "Key100" = virtual-key code, shift state, sequence. Plain C++: the file is read
// through the profile layer and every failure is a result code of the error model.
//
// Choices:
// - A bare file name that is not in the current directory is looked for in the running
//   program's folder; a map found in neither is created under the name as given. Something
//   that is there but cannot be read (a FIFO, a folder, UTF-16 beyond 8 bits) is refused.
// - A definition whose code or shift state is not a number leaves its key empty and is listed in
//   InvalidKeys(); the rest of the map still loads, so one typo does not disable the keyboard.
// - Only names marked "#" are listed, and only whole names: a listed name can always be loaded.

#include "terminal/KeyRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace terminal
{

constexpr int KeyMapEntries = 100;
constexpr std::size_t MaxFieldName = 21;
constexpr std::size_t MaxIndexField = 32;
constexpr std::size_t MaxRecordSize = 65520;
constexpr std::size_t MaxEmulationName = 30;
constexpr std::size_t EmulationNamesSize = 121; // NUL-separated, at most 119 bytes of it used

// The fields of a map record: one index field (the emulation name), then the key fields.
class TKeyMapFields
{
  public:
    struct Field {
        std::string Name;
        std::size_t Size;
        bool Numeric;
        bool Index;
    };

    // 0, or -7001 (name longer than 21), -7002 (record above 65520 bytes or an index field
    // longer than 32); a refused field is not added.
    int Add(const std::string &name, std::size_t size, bool numeric = false, bool index = false);
    // 0, or -7003 (no fields) or -7006 (no index field).
    int Check() const;
    const std::vector<Field> &Fields() const { return fields_; }

    // "EMULATOR" (30, index) and "Key1" ... "Key100" (20 each).
    static TKeyMapFields Standard();

  private:
    std::vector<Field> fields_;
    std::size_t total_ = 0;
};

struct TKeyEntry {
    bool Defined = false; // false: the definition was empty, "#", had no comma, or was invalid
    int16_t KeyCode = 0;
    int16_t ShiftState = 0;
    std::string Sequence; // at most MaxKeySequence bytes
};

// How a key definition splits: at the first comma the virtual-key code, then up to the next
// comma the shift state (0 when empty or absent), and the rest the sequence cut to 20 bytes.
// A text without a comma leaves the entry empty. A code or shift state that is not a number
// (or out of range) also leaves it empty and sets invalid.
TKeyEntry ParseKeyDefinition(const std::string &value, bool &invalid);

class TKeyMap
{
  public:
    // Opens the map file, creating it when it is missing. When a name without a folder does not
    // exist, the same name in the program's folder is used if it is there. Returns 0 or -7001,
    // -7002, -7003, -7006 (bad fields), -7004 (cannot create the file), -7005 (the file is
    // refused: see Refusal), -8.
    int Open(const std::string &fileName, const TKeyMapFields &fields = TKeyMapFields::Standard());
    // After Open returned -7005: the file's name and why it cannot be read (not a regular file,
    // UTF-16 beyond 8 bits, ...), as the profile layer refused it.
    const std::string &Refusal() const { return refusal_; }
    void Close();
    bool IsOpen() const { return open_; }
    const std::string &FileName() const { return fileName_; }
    int EntryCount() const { return entryCount_; }

    // The emulations marked "#" in "Index", as many whole names as fit the 119 bytes.
    // 0, or -7012 (not open), -7011 (entry count 0), -7005 ("Index" unreadable or empty).
    int EmulationNames(std::vector<std::string> &names) const;

    // Loads the named emulation's keys (an empty name clears them). 0, or -7012 (not open),
    // -7008 (not marked "#" in "Index").
    int LoadEmulation(const std::string &name);
    const std::string &EmulationName() const { return emulation_; }
    const std::array<TKeyEntry, KeyMapEntries> &Keys() const { return keys_; }
    // The key fields of the loaded emulation whose definitions could not be read.
    const std::vector<std::string> &InvalidKeys() const { return invalidKeys_; }

    bool ProcessAllKeys = false;
    bool ProcessExtended = false;

    // Fills the record for virtual key k: key code, shift state, handled and sequence.
    void Translate(uint16_t virtualKey, TKeyRecord &record) const;
    // The same as a key emulator routine; context is a TKeyMap.
    static void TranslateProc(const void *context, uint16_t virtualKey, TKeyRecord &record);

  private:
    int OpenFile(const std::string &fileName, const TKeyMapFields &fields);

    bool open_ = false;
    std::string fileName_;
    std::vector<TKeyMapFields::Field> fields_;
    std::vector<std::string> defaults_; // by field
    int entryCount_ = 0;
    std::string emulation_;
    std::array<TKeyEntry, KeyMapEntries> keys_{};
    std::vector<std::string> invalidKeys_;
    std::string refusal_;
};

// The folder of the running program (empty when it cannot be found).
std::string ProgramFolder();

} // namespace terminal
