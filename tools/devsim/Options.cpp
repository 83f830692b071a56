#include "tools/devsim/Options.h"

#include <functional>
#include <map>
#include <optional>

namespace devsim
{
namespace
{

uint32_t ParseNumber(const std::string &option, const std::string &text, uint32_t minimum,
                     uint32_t maximum = UINT32_MAX)
{
    uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || value > maximum || value < minimum)
        throw OptionsError(option + " needs a whole number " +
                           (maximum == UINT32_MAX ? "of at least " + std::to_string(minimum)
                                                  : "from " + std::to_string(minimum) + " to " +
                                                        std::to_string(maximum)) +
                           ", not \"" + text + "\"");
    return static_cast<uint32_t>(value);
}

std::string ParseText(const std::string &option, const std::string &text)
{
    if (text.empty())
        throw OptionsError(option + " needs a text that is not empty");
    return text;
}

bool ParseMode(const std::string &text)
{
    std::string upper = text;
    for (char &c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (upper != "N" && upper != "UL")
        throw OptionsError("--mode takes N or UL, not \"" + text + "\"");
    return upper == "UL";
}

// Options that belong to neither mode alone.
bool Shared(const std::string &name)
{
    return name == "--link" || name == "--baud" || name == "--help";
}

bool ForShell(const std::string &name)
{
    return name == "--shell" || name == "--shell-command" || name == "--rows" ||
           name == "--columns";
}

} // namespace

Options ParseOptions(const std::vector<std::string> &args)
{
    Options options;
    DeviceSettings &device = options.device;
    using Setter = std::function<void(const std::string &)>;
    const std::map<std::string, Setter> valued = {
        {"--link", [&](const std::string &v) { options.linkPath = ParseText("--link", v); }},
        {"--report", [&](const std::string &v) { options.reportPath = ParseText("--report", v); }},
        {"--baud", [&](const std::string &v) { options.baud = ParseNumber("--baud", v, 1); }},
        {"--fail-after",
         [&](const std::string &v) { device.failAfter = ParseNumber("--fail-after", v, 0); }},
        {"--error-split",
         [&](const std::string &v) { device.errorSplit = ParseNumber("--error-split", v, 1); }},
        {"--error-pause",
         [&](const std::string &v) { device.errorPauseMs = ParseNumber("--error-pause", v, 0); }},
        {"--idle-ms",
         [&](const std::string &v) { device.bodyIdleMs = ParseNumber("--idle-ms", v, 1); }},
        {"--mode", [&](const std::string &v) { device.startWithUploadTexts = ParseMode(v); }},
        {"--prompt", [&](const std::string &v) { device.texts.prompt = ParseText("--prompt", v); }},
        {"--error", [&](const std::string &v) { device.texts.error = ParseText("--error", v); }},
        {"--ul-prompt",
         [&](const std::string &v) { device.texts.ulPrompt = ParseText("--ul-prompt", v); }},
        {"--ul-error",
         [&](const std::string &v) { device.texts.ulError = ParseText("--ul-error", v); }},
        {"--result", [&](const std::string &v) { device.texts.result = ParseText("--result", v); }},
        {"--shell-command",
         [&](const std::string &v) {
             options.shellSettings.command = ParseText("--shell-command", v);
         }},
        {"--rows",
         [&](const std::string &v) {
             options.shellSettings.rows = static_cast<uint16_t>(ParseNumber("--rows", v, 1, 65535));
         }},
        {"--columns",
         [&](const std::string &v) {
             options.shellSettings.columns =
                 static_cast<uint16_t>(ParseNumber("--columns", v, 1, 65535));
         }},
    };
    const std::map<std::string, bool *> flags = {
        {"--silent", &device.silent},         {"--echo", &device.echo},
        {"--fail-at-end", &device.failAtEnd}, {"--report-times", &options.reportTimes},
        {"--shell", &options.shell},          {"--help", &options.help},
    };

    std::vector<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (const auto flag = flags.find(name); flag != flags.end()) {
            if (value)
                throw OptionsError(name + " takes no value");
            *flag->second = true;
        } else if (const auto setter = valued.find(name); setter != valued.end()) {
            if (!value) {
                if (i + 1 == args.size())
                    throw OptionsError(name + " needs a value");
                value = args[++i];
            }
            setter->second(*value);
        } else {
            throw OptionsError("unknown argument \"" + args[i] + "\"");
        }
        given.push_back(name);
    }
    const bool loginShell = options.shell;
    options.shell = options.shell || !options.shellSettings.command.empty();
    if (loginShell && !options.shellSettings.command.empty())
        throw OptionsError("--shell and --shell-command cannot be given together");
    for (const std::string &name : given) {
        if (Shared(name))
            continue;
        if (options.shell && !ForShell(name))
            throw OptionsError(name + " is an option of the device, not of " +
                               (loginShell ? "--shell" : "--shell-command"));
        if (!options.shell && ForShell(name))
            throw OptionsError(name + " needs --shell or --shell-command");
    }
    if (!options.help && options.linkPath.empty())
        throw OptionsError("--link PATH is required");
    return options;
}

std::string UsageText()
{
    return "usage: devsim --link PATH [options]\n"
           "       devsim --link PATH (--shell | --shell-command C) [--rows N] [--columns N] "
           "[--baud N]\n"
           "Plays the remote device of the flash loader on a pseudo terminal reached through "
           "PATH.\n"
           "  --link PATH       symbolic link to create for the pseudo terminal (required)\n"
           "  --prompt T        prompt in normal mode (default \"#\")\n"
           "  --error T         error text in normal mode (default \"?\")\n"
           "  --ul-prompt T     prompt in upload mode (default \">\")\n"
           "  --ul-error T      error text in upload mode (default \"ERR\")\n"
           "  --result T        result marker before a value (default \"=\")\n"
           "  --mode N|UL       reply texts at start: normal (default) or upload\n"
           "  --baud N          pace both directions like a line of N baud (N/10 bytes/s)\n"
           "  --fail-after N    fail the next upload after N body bytes\n"
           "  --fail-at-end     read the next upload whole, then refuse it\n"
           "  --error-pause MS  send upload error replies slowly: a pause of MS inside\n"
           "  --error-split N   ... after the reply's first N bytes (default 1)\n"
           "  --idle-ms N       a body that stalls N ms has ended short (default 5000)\n"
           "  --silent          never answer\n"
           "  --echo            echo command characters\n"
           "  --report FILE     append one JSON line per upload header received\n"
           "  --report-times    add when the first and last body byte arrived (ms)\n"
           "Instead of the device, a program behind the line (with --link and --baud only):\n"
           "  --shell           the user's login shell on a terminal of its own (TERM=vt100)\n"
           "  --shell-command C /bin/sh -c C on that terminal instead\n"
           "  --rows N          the terminal's rows (default 24)\n"
           "  --columns N       the terminal's columns (default 80)\n"
           "  --help            show this text\n";
}

} // namespace devsim
