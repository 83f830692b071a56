// Fuzzes the conversion of command texts into device bytes and the script integer rule.

#include "app/CmdString.h"
#include "app/ScriptInteger.h"
#include "fuzz/FuzzCheck.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using namespace loader;

namespace
{

// Writes bytes the way a script author would so that ProcessCmdString gives them back: printable
// bytes as they are, every other byte (and the caret itself) as "^" and the byte plus 64.
std::string Escaped(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 33 && u <= 126 && c != '^') {
            text += c;
        } else {
            text += '^';
            text += static_cast<char>((u + 64) & 0xFF);
        }
    }
    return text;
}

std::size_t TrimmedLength(std::string_view text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) < 33)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33)
        --end;
    return end - begin;
}

void CheckCmdString(std::string_view input)
{
    const std::string bytes = ProcessCmdString(input);
    // Quotes and escapes only ever take bytes away.
    const std::size_t n = TrimmedLength(input);
    FUZZ_CHECK(bytes.size() <= (n >= 2 ? n - 2 : 0));
    if (input.find('^') == std::string_view::npos)
        FUZZ_CHECK(input.find(bytes) != std::string_view::npos);

    // Any bytes written escaped and quoted, with blanks and controls around, come back exactly.
    const std::string quoted = " \t\"" + Escaped(input) + "\"\r\n";
    FUZZ_CHECK(ProcessCmdString(quoted) == input);
}

// The integer rule again, by other means: from_chars reads the digits once they are cut out.
std::optional<int32_t> ReferenceInteger(std::string_view text)
{
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos)
        return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    }
    const std::string_view digits = text.substr(i);
    if (digits.empty())
        return std::nullopt;
    for (const char c : digits) {
        const bool decimal = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!decimal && !(base == 16 && hex))
            return std::nullopt;
    }
    uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (magnitude > (negative ? 2147483648u : 2147483647u))
        return std::nullopt;
    const int64_t value =
        negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return static_cast<int32_t>(value);
}

void CheckInteger(std::string_view input)
{
    const auto value = ParseScriptInteger(input);
    FUZZ_CHECK(value == ReferenceInteger(input));
    if (value)
        FUZZ_CHECK(ParseScriptInteger(std::to_string(*value)) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    CheckCmdString(input);
    CheckInteger(input);
    return 0;
}
