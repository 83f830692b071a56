#include "app/CmdString.h"

#include <algorithm>

namespace loader
{
namespace
{

bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) < 33;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view Unquoted(std::string_view text)
{
    const std::size_t n = text.size();
    const std::size_t quote = text.find('"');
    const std::size_t start = quote == std::string_view::npos ? 0 : quote + 1;
    const std::size_t wanted = n >= 2 ? n - 2 : 0;
    return text.substr(start, std::min(wanted, n - start));
}

unsigned char ControlOf(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<unsigned char>(c - 'a' + 'A');
    return static_cast<unsigned char>((c - 64) & 0xFF);
}

} // namespace

std::string ProcessCmdString(std::string_view argument)
{
    const std::string_view text = Unquoted(Trimmed(argument));
    std::string bytes;
    bytes.reserve(text.size());
    // One pass from left to right: a byte produced by an escape is final, even when it is itself
    // a caret (^ followed by byte 158), so it never swallows the byte after it.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '^') {
            bytes += text[i];
        } else if (++i < text.size()) {
            bytes += static_cast<char>(ControlOf(static_cast<unsigned char>(text[i])));
        }
    }
    return bytes;
}

} // namespace loader
