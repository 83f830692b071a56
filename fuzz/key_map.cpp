// Fuzzes the keyboard emulator's key map reader: the input is a whole key map file. It is opened,
// its emulations listed and each loaded; every key definition must read as the split rule says,
// and translation must follow the map: the last entry for a key and shift state wins, the never
// handled keys stay unhandled, and letters and digits wait for "process all keys". The file
// lives in a private folder, on tmpfs where there is one, removed when the process ends.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "platform/ProfileFile.h"
#include "terminal/KeyMap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

using namespace terminal;

namespace
{

// The split rule told independently: code up to the first comma, shift state up to the next
// (0 when empty or absent), the rest the sequence, cut to 20 bytes.
void CheckDefinition(const std::string &value, const TKeyEntry &entry, bool invalid)
{
    const auto first = value.find(',');
    if (first == std::string::npos) {
        FUZZ_CHECK(!entry.Defined && !invalid);
        return;
    }
    FUZZ_CHECK(entry.Defined != invalid);
    if (invalid)
        return;
    std::string_view rest = std::string_view(value).substr(first + 1);
    std::string_view shift;
    if (const auto second = rest.find(','); second != std::string_view::npos) {
        shift = rest.substr(0, second);
        rest.remove_prefix(second + 1);
    }
    int32_t code = -1, state = 0;
    FUZZ_CHECK(platform::ParseProfileInteger(value.substr(0, first), code));
    FUZZ_CHECK(code == entry.KeyCode && code >= 0 && code <= 255);
    FUZZ_CHECK(shift.empty() ? entry.ShiftState == 0
                             : platform::ParseProfileInteger(std::string(shift), state) &&
                                   state == entry.ShiftState);
    FUZZ_CHECK(entry.Sequence == rest.substr(0, MaxKeySequence));
}

TKeyRecord Press(int16_t shiftState)
{
    TKeyRecord record;
    record.KeyboardState[vkControl] = (shiftState & ssCtrlUp) ? 0 : ksDown;
    record.KeyboardState[vkMenu] = (shiftState & ssAltUp) ? 0 : ksDown;
    record.KeyboardState[vkShift] = (shiftState & ssShiftUp) ? 0 : ksDown;
    return record;
}

void CheckTranslation(TKeyMap &map)
{
    const auto &keys = map.Keys();
    // The keys and shift states the map names, and some it may not.
    std::set<unsigned> codes{0, 16, 17, 18, 20, 38, 48, 65, 112, 144, 255};
    std::set<int16_t> shifts{6, 14};
    for (const auto &e : keys) {
        if (!e.Defined)
            continue;
        codes.insert(static_cast<unsigned>(e.KeyCode));
        if (e.ShiftState >= 0 && e.ShiftState <= 14 && e.ShiftState % 2 == 0)
            shifts.insert(e.ShiftState);
    }
    for (const bool all : {false, true}) {
        map.ProcessAllKeys = map.ProcessExtended = all;
        for (const int16_t shift : shifts) {
            for (const unsigned k : codes) {
                const std::string *last = nullptr;
                for (const auto &e : keys)
                    if (e.Defined && e.KeyCode == static_cast<int16_t>(k) && e.ShiftState == shift)
                        last = &e.Sequence;
                const bool never = k == 16 || k == 17 || k == 18 || k == 20 || k == 144;
                const bool held = !all && ((k >= 33 && k <= 40) || (k >= 112 && k <= 123) ||
                                           (k >= '0' && k <= '9') || (k >= 'A' && k <= 'Z'));
                TKeyRecord record = Press(shift);
                record.SetSequence("stale");
                map.Translate(static_cast<uint16_t>(k), record);
                FUZZ_CHECK(record.KeyCode == k && record.ShiftFlags == shift);
                FUZZ_CHECK(record.Handled == (last && !never && !held));
                FUZZ_CHECK(record.Sequence() == (record.Handled ? *last : std::string()));
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string file = fuzzscratch::Folder("key_map_fuzz") + "/map.ini";
    fuzzscratch::WriteFile(file, text);

    TKeyMap map;
    const platform::TIniFile ini(file);
    // Only a file that cannot be read as 8-bit text is refused, and then with its reason.
    if (!ini.Refusal().empty()) {
        FUZZ_CHECK(map.Open(file) == -7005 && map.Refusal() == file + ": " + ini.Refusal());
        return 0;
    }
    FUZZ_CHECK(map.Open(file) == 0);
    FUZZ_CHECK(map.EntryCount() == ini.ReadInteger("Defaults", "_Entries", 0));

    std::vector<std::string> names;
    const int listed = map.EmulationNames(names);
    std::vector<std::string> indexKeys;
    ini.ReadSectionKeys("Index", indexKeys);
    if (map.EntryCount() == 0)
        FUZZ_CHECK(listed == -7011);
    else
        FUZZ_CHECK(listed == (indexKeys.empty() ? -7005 : 0));
    std::size_t used = 0;
    for (const auto &name : names) {
        FUZZ_CHECK(ini.ReadString("Index", name, "") == "#");
        used += name.size() + 1;
    }
    FUZZ_CHECK(used <= EmulationNamesSize - 2);

    // The first keys of "Index" are tried, marked or not (an empty name loads no keys).
    using Values = std::vector<std::pair<std::string, std::string>>;
    Values defaults;
    ini.ReadSectionValues("Defaults", defaults);
    for (std::size_t i = 0; i < indexKeys.size() && i < 3; ++i) {
        const std::string &name = indexKeys[i];
        const bool marked = name.empty() || ini.ReadString("Index", name, "") == "#";
        FUZZ_CHECK(map.LoadEmulation(name) == (marked ? 0 : -7008));
        if (!marked)
            continue;
        const auto &invalid = map.InvalidKeys();
        Values section;
        if (!name.empty())
            ini.ReadSectionValues(name, section);
        int spotChecks = 0;
        for (int n = 1; n <= KeyMapEntries; ++n) {
            const std::string key = "Key" + std::to_string(n);
            const auto find = [&](const Values &values) -> const std::string * {
                for (const auto &[k, v] : values)
                    if (platform::SameProfileName(k, key))
                        return &v;
                return nullptr;
            };
            const std::string *own = find(section), *fallback = find(defaults);
            std::string value = name.empty() ? std::string()
                                : own        ? *own
                                : fallback   ? *fallback
                                             : std::string();
            // Section reads must agree with key-by-key reads; each of those reads the file, so
            // only a few keys per input are compared.
            if (!name.empty() && (own || fallback || n % 16 == static_cast<int>(size % 16)) &&
                spotChecks++ < 4)
                FUZZ_CHECK(ini.ReadString(name, key, ini.ReadString("Defaults", key, "")) == value);
            if (value == "#")
                value.clear();
            bool bad = false;
            for (const auto &k : invalid)
                bad = bad || k == key;
            CheckDefinition(value, map.Keys()[n - 1], bad);
        }
        CheckTranslation(map);
    }
    return 0;
}
