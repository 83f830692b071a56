#include "link/LinkSettings.h"

#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"
#include "serial/Triggers.h"

#include <charconv>
#include <filesystem>

namespace loader
{

const std::array<const char *, BaudRateCount> BaudTexts = {
    "1200", "9600", "19200", "38400", "57600", "115200", "230400", "460800", "921600"};
const std::array<const char *, BaudRateCount> BaudItems = {
    "1200", "9600", "19.2", "38.4", "57.6", "115.2", "230.4", "460.8", "921.6"};

namespace
{

const char *const Rs232Section = "RS232Settings";
const char *const TriggerSection = "Trigger";
const char *const UploadSection = "Upload Settings";

constexpr uint16_t MinBufferSize = 2078;

// Writes a corrected value back to loader.ini. A file that cannot be written is reported once
// per load, and the settings already read stay in force.
class TWriteBack
{
  public:
    // A file that is there but cannot be read is left as it is, without a box of its own: the
    // main window has told why, and that the defaults are used.
    explicit TWriteBack(platform::TIniFile &ini) : ini_(ini), refused_(!ini.Refusal().empty()) {}

    void String(const char *section, const char *key, const std::string &value)
    {
        Guard([&] { ini_.WriteString(section, key, value); });
    }
    void Integer(const char *section, const char *key, int32_t value)
    {
        Guard([&] { ini_.WriteInteger(section, key, value); });
    }

  private:
    template <typename Write> void Guard(Write write)
    {
        if (refused_)
            return;
        try {
            write();
        } catch (const platform::EIniFileException &e) {
            if (!reported_)
                platform::ShowException(e);
            reported_ = true;
        }
    }

    platform::TIniFile &ini_;
    bool refused_;
    bool reported_ = false;
};

// The serial settings found in the file but not accepted, each with the value used instead. They
// are told in one box: the port would otherwise run with settings the operator never chose, and
// the run would fail with a device that does not answer.
class TReplacedSettings
{
  public:
    explicit TReplacedSettings(const platform::TIniFile &ini) : ini_(ini) {}

    // Notes `key` when the file holds a value for it; a missing key takes its default silently.
    void Note(const char *key, const std::string &used)
    {
        if (!ini_.ValueExists(Rs232Section, key))
            return;
        lines_ += std::string("\r\"") + key + "\" is \"" + ini_.ReadString(Rs232Section, key, "") +
                  "\"; " + used + " is used instead.";
    }

    void Show() const
    {
        if (lines_.empty())
            return;
        const std::string file = std::filesystem::path(ini_.FileName()).filename().string();
        platform::ShowMessage(platform::MsgType::Warning,
                              std::string("Invalid serial settings in section \"") + Rs232Section +
                                  "\" of " + file + " were replaced:" + lines_,
                              platform::MsgButtons::Ok);
    }

  private:
    const platform::TIniFile &ini_;
    std::string lines_;
};

// A prompt or error text the port can match: a data trigger holds at most kMaxMatchLength bytes,
// and an empty one never matches. Anything else would make the port fail to open, or leave the
// loader waiting for a reply it cannot recognise, so the key's default stands in for it.
std::string ReadTriggerText(platform::TIniFile &ini, const char *key, const std::string &fallback)
{
    const std::string text = ini.ReadString(TriggerSection, key, fallback);
    if (!text.empty() && text.size() <= serial::kMaxMatchLength)
        return text;
    const std::string file = std::filesystem::path(ini.FileName()).filename().string();
    const std::string fault =
        text.empty() ? "is empty"
                     : "is longer than " + std::to_string(serial::kMaxMatchLength) + " characters";
    platform::ShowMessage(platform::MsgType::Error,
                          std::string("Trigger text \"") + key + "\" in section \"" +
                              TriggerSection + "\" of " + file + " " + fault + "; the default \"" +
                              fallback + "\" is used instead.",
                          platform::MsgButtons::Ok);
    return fallback;
}

} // namespace

bool ParsePortNumber(const std::string &text, std::size_t from, uint16_t &number)
{
    if (from >= text.size())
        return false;
    const char *first = text.data() + from;
    const char *last = text.data() + text.size();
    unsigned value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || value > 0xFFFF)
        return false;
    number = static_cast<uint16_t>(value);
    return true;
}

LinkSettingsRead ReadLinkSettings(const std::string &iniFileName, LinkState &link)
{
    platform::TIniFile ini(iniFileName);
    LinkSettingsRead read;
    TWriteBack writeBack(ini);
    TReplacedSettings replaced(ini);

    // A port name whose number cannot be read is repaired like a missing one; "ERROR" stands for
    // missing.
    const std::string commPort = ini.ReadString(Rs232Section, "Comm Port", "ERROR");
    uint16_t comNumber = 0;
    if (commPort != "ERROR" && ParsePortNumber(commPort, 3, comNumber)) {
        link.CfgComNumber = comNumber;
        read.comPortNamed = true;
    } else {
        link.CfgComNumber = 1;
        if (commPort != "ERROR")
            replaced.Note("Comm Port", "COM1");
        writeBack.String(Rs232Section, "Comm Port", "COM1");
    }

    const std::string baudText = ini.ReadString(Rs232Section, "Baud Rate", "19200");
    int baudIndex = -1;
    for (std::size_t i = 0; i < BaudTexts.size() && baudIndex < 0; ++i) {
        if (baudText == BaudTexts[i])
            baudIndex = static_cast<int>(i);
    }
    if (baudIndex < 0) {
        baudIndex = DefaultBaudIndex;
        replaced.Note("Baud Rate", "19200");
        writeBack.String(Rs232Section, "Baud Rate", "19200");
    }
    link.CfgBaud = BaudRates[static_cast<std::size_t>(baudIndex)];
    read.baudIndex = baudIndex;

    const int32_t dataBits = ini.ReadInteger(Rs232Section, "Data Bits", 0);
    link.CfgDataBits = dataBits == 7 ? 7 : 8;
    if (dataBits != 7 && dataBits != 8) {
        replaced.Note("Data Bits", "8");
        writeBack.Integer(Rs232Section, "Data Bits", 8);
    }

    const int32_t parity = ini.ReadInteger(Rs232Section, "Parity", 9);
    const bool parityKnown = parity >= 0 && parity <= 2;
    link.CfgParity = parityKnown ? static_cast<uint8_t>(parity) : 0;
    if (!parityKnown) {
        replaced.Note("Parity", "0");
        writeBack.Integer(Rs232Section, "Parity", 0);
    }

    const int32_t stopBits = ini.ReadInteger(Rs232Section, "Stop Bit", 0);
    const bool stopKnown = stopBits == 1 || stopBits == 2;
    link.CfgStopBits = stopKnown ? static_cast<uint16_t>(stopBits) : 1;
    if (!stopKnown) {
        replaced.Note("Stop Bit", "1");
        writeBack.Integer(Rs232Section, "Stop Bit", 1);
    }
    replaced.Show();

    link.PromptText = ReadTriggerText(ini, "Prompt", "#");
    link.ErrorText = ReadTriggerText(ini, "Error", "?");
    link.ULPromptText = ReadTriggerText(ini, "UL Prompt", ">");
    link.ULErrorText = ReadTriggerText(ini, "UL Error", "ERR");
    link.ResultMarker = ini.ReadString(TriggerSection, "Result", "=");
    link.CurrentPrompt = link.PromptText;
    link.CurrentError = link.ErrorText;

    const auto bufferSize =
        static_cast<uint16_t>(ini.ReadInteger(UploadSection, "Buffer Size", 4096));
    link.CfgBufferSize = bufferSize < MinBufferSize ? MinBufferSize : bufferSize;
    link.CfgBlockSize = static_cast<uint16_t>(ini.ReadInteger(UploadSection, "Block Size", 50));
    return read;
}

} // namespace loader
