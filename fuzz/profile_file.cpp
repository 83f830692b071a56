// Fuzzes the profile file reader and writer: the input is a whole profile file. Every section and
// key name found in it is looked up, then one value is written and read back on a copy. The files
// live in one private folder, on tmpfs where there is one, removed when the process ends.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "platform/ProfileFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

using platform::MaxProfileValue;
using platform::TIniFile;

namespace
{

std::string Trimmed(std::string_view s)
{
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos)
        return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r") - b + 1));
}

// Candidate names: whatever stands between brackets, and whatever stands before an equals sign.
void Names(std::string_view text, std::vector<std::string> &sections,
           std::vector<std::string> &keys)
{
    constexpr std::size_t most = 6;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const auto open = line.find('['), close = line.find(']');
        if (open != std::string_view::npos && close != std::string_view::npos && open < close &&
            sections.size() < most)
            sections.push_back(Trimmed(line.substr(open + 1, close - open - 1)));
        const auto eq = line.find('=');
        if (eq != std::string_view::npos && keys.size() < most)
            keys.push_back(Trimmed(line.substr(0, eq)));
        start = end + 1;
    }
}

// A name the file format can hold: one line, no bracket or equals sign that would change
// the line's meaning, not a comment.
bool Writable(const std::string &name)
{
    return !name.empty() && name == Trimmed(name) && name.front() != ';' && name.front() != '[' &&
           name.find_first_of(std::string_view("\n\r=]\0", 5)) == std::string::npos;
}

// A value that reads back as written: one line, no blanks around it, not wholly quoted.
std::string WritableValue(std::string_view raw)
{
    std::string value;
    for (const char c : raw)
        if (c != '\n' && c != '\r' && c != '\0')
            value += c;
    value = Trimmed(value);
    if (value.size() > MaxProfileValue)
        value.resize(MaxProfileValue);
    value = Trimmed(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = "x" + value;
    return value;
}

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x >= 'a' && x <= 'z' && x - 32 == y) &&
            !(y >= 'a' && y <= 'z' && y - 32 == x))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string file = fuzzscratch::Folder("profile_fuzz") + "/fuzz.ini";
    fuzzscratch::WriteFile(file, text);

    std::vector<std::string> sections{"Main"}, keys{"Port"};
    Names(text, sections, keys);

    TIniFile ini(file);
    const std::string fallback = "\x01none";
    std::vector<std::pair<std::pair<std::size_t, std::size_t>, std::string>> before;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const std::string value = ini.ReadString(sections[s], keys[k], fallback);
            const bool exists = ini.ValueExists(sections[s], keys[k]);
            FUZZ_CHECK(value.size() <= MaxProfileValue);
            FUZZ_CHECK(exists || value == fallback);
            int32_t number = 0;
            const bool isNumber = platform::ParseProfileInteger(value, number);
            FUZZ_CHECK(ini.ReadInteger(sections[s], keys[k], -77) == (isNumber ? number : -77));
            before.push_back({{s, k}, value});
        }
    }

    // A refused file (UTF-16 beyond 8 bits) gives the defaults, as checked above, and is never
    // written over.
    if (!ini.Refusal().empty()) {
        bool refused = false;
        try {
            ini.WriteString("Main", "Port", "1");
        } catch (const platform::EIniFileException &) {
            refused = true;
        }
        FUZZ_CHECK(refused && ini.Refusal().find("UTF-16") != std::string::npos);
        return 0;
    }

    // Write one value on the file and read it back; every other entry stays as it was.
    const std::size_t s = size % sections.size();
    const std::size_t k = (size / 7) % keys.size();
    if (!Writable(sections[s]) || !Writable(keys[k]))
        return 0;
    const std::string value = WritableValue(text.substr(size / 2));
    ini.WriteString(sections[s], keys[k], value);
    FUZZ_CHECK(ini.ReadString(sections[s], keys[k], fallback) == value);
    for (const auto &[where, old] : before) {
        const auto &[ws, wk] = where;
        // Only the written entry, under any spelling of its names, may read differently now.
        const bool written = SameName(sections[ws], sections[s]) && SameName(keys[wk], keys[k]);
        FUZZ_CHECK(written || ini.ReadString(sections[ws], keys[wk], fallback) == old);
    }
    ini.WriteInteger(sections[s], keys[k], static_cast<int32_t>(size * 2654435761u));
    FUZZ_CHECK(ini.ReadInteger(sections[s], keys[k], 0) ==
               static_cast<int32_t>(size * 2654435761u));
    return 0;
}
