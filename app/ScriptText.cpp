#include "app/ScriptText.h"

#include "app/WholeFile.h"
#include "platform/TextEncoding.h"

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

ScriptFile ParseScriptFile(std::string_view bytes)
{
    ScriptFile script;
    platform::DecodedText decoded = platform::DecodeText(bytes);
    if (!decoded.error.empty()) {
        script.status = ScriptStatus::Refused;
        script.reason = std::move(decoded.error);
        return script;
    }
    const std::string_view text = decoded.text;
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos && text.find_first_not_of('\0', zero) != text.npos) {
        // The zero byte's line: the lines before it, and the one it stands in.
        const std::size_t line = SplitScriptText(std::string(text.substr(0, zero)) + "x").size();
        script.status = ScriptStatus::Refused;
        script.reason = "zero byte in line " + std::to_string(line) + " cuts the text short";
        return script;
    }
    script.lines = SplitScriptText(text);
    script.status = ScriptStatus::Ok;
    return script;
}

ScriptFile ReadScriptFile(const std::string &fileName)
{
    const WholeFile file = ReadWholeFile(fileName, std::string().max_size());
    if (file.status != ReadStatus::Ok) {
        ScriptFile script;
        script.reason = file.reason;
        return script;
    }
    // A script far too big to hold (a wrong file picked by hand) counts as unreadable.
    try {
        return ParseScriptFile(file.data);
    } catch (const std::bad_alloc &) {
        ScriptFile script;
        script.reason = std::strerror(ENOMEM);
        return script;
    }
}

std::string ScriptRefusedMessage(const std::string &fileName, const std::string &reason)
{
    return "Script file error - " + reason + "!\rFile Name: " + fileName +
           "\rThe script was not run.";
}

} // namespace loader
