#include "app/LoaderSettings.h"

#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"

#include <filesystem>
#include <unistd.h>

namespace loader
{
namespace
{

constexpr const char *UploadSettings = "Upload Settings";

std::string UpperCase(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string CurrentDirectory()
{
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string(".") : path.string();
}

} // namespace

LoaderSettings ReadLoaderSettings()
{
    LoaderSettings settings;
    const std::string startDirectory = CurrentDirectory();
    // Fixed before the working directory moves, so loader.ini always comes from the start folder.
    settings.iniFileName = startDirectory + "/" + "loader.ini";
    platform::TIniFile ini(settings.iniFileName);
    // The defaults stand in for a file that cannot be read, and the file is kept as it is.
    settings.iniRefusal = ini.Refusal();
    if (!settings.iniRefusal.empty())
        platform::ShowMessage(platform::MsgType::Error,
                              "Settings file error - " + settings.iniRefusal +
                                  "!\rFile Name: " + settings.iniFileName +
                                  "\rThe defaults are used; the file is not changed.",
                              platform::MsgButtons::Ok);

    settings.scriptFileName = ini.ReadString(UploadSettings, "Default Script", "loader.sld");
    const std::string defaultPath = ini.ReadString(UploadSettings, "Default Path", startDirectory);
    settings.uploadDelayMs = ini.ReadInteger(UploadSettings, "Delay", 1000);

    if (::chdir(defaultPath.c_str()) != 0)
        platform::ShowMessage(platform::MsgType::Error,
                              "Could not set directory specified in the loader.ini file!\r"
                              "Edit the \"Default Path\" parameter to correct.\r"
                              "The current program directory will be used.",
                              platform::MsgButtons::Ok);

    settings.loggingAllowed = ini.ReadInteger(UploadSettings, "Logging", 0) > 0;

    // The manual opens in the program's own viewer unless the operator prefers the browser.
    platform::SetHelpViewerChoice(
        platform::HelpViewerChoiceOf(ini.ReadString("Help", "Viewer", "Builtin")));

    settings.manualUpload =
        UpperCase(ini.ReadString(UploadSettings, "Upload Method", "AUTOMATIC")) == "MANUAL";

    try {
        if (settings.iniRefusal.empty())
            ini.WriteString("Global", "Driver Version", "1.04");
    } catch (const platform::EIniFileException &error) {
        // Start-up goes on: the program works without a writable configuration file.
        platform::ShowException(error);
    }
    return settings;
}

} // namespace loader
