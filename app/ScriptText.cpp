#include "app/ScriptText.h"

#include "app/WholeFile.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace loader
{

std::vector<std::string> SplitScriptText(std::string_view text)
{
    const auto end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);

    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::optional<std::vector<std::string>> ReadScriptFile(const std::string &fileName,
                                                       std::string *reason)
{
    const WholeFile file = ReadWholeFile(fileName, std::string().max_size());
    if (file.status != ReadStatus::Ok) {
        if (reason)
            *reason = file.reason;
        return std::nullopt;
    }
    // A script far too big to hold (a wrong file picked by hand) counts as unreadable.
    try {
        return SplitScriptText(file.data);
    } catch (const std::bad_alloc &) {
        if (reason)
            *reason = std::strerror(ENOMEM);
        return std::nullopt;
    }
}

} // namespace loader
