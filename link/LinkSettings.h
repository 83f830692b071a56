#pragma once
// The link's part of loader.ini without the dialog: sections "RS232Settings" and "Trigger" and
// the transfer sizes of "Upload Settings". Values that cannot be used are replaced by their
// defaults, written back and told in one box, so a link without a window (a batch or gang run)
// reads the file exactly as the settings dialog does.

#include "link/LinkState.h"

#include <array>
#include <cstdint>
#include <string>

namespace loader
{

// The accepted "Baud Rate" values, their texts in loader.ini and the settings dialog's items, in
// the dialog's order. The first six are the classic rates; the fast ones follow.
constexpr std::size_t BaudRateCount = 9;
constexpr std::array<int32_t, BaudRateCount> BaudRates = {1200,   9600,   19200,  38400, 57600,
                                                          115200, 230400, 460800, 921600};
extern const std::array<const char *, BaudRateCount> BaudTexts;
extern const std::array<const char *, BaudRateCount> BaudItems;
// The index used for a rate that is missing or not accepted (19200).
constexpr int DefaultBaudIndex = 2;

// A port number written as decimal digits only, within 16 bits, from `from` to the text's end.
bool ParsePortNumber(const std::string &text, std::size_t from, uint16_t &number);

// What the reading found beyond the values it put into the link state.
struct LinkSettingsRead {
    bool comPortNamed = false; // "Comm Port" named a port number (else COM1 stands in)
    int baudIndex = DefaultBaudIndex;
};

// Reads the file's serial settings, reply texts and transfer sizes into `link`.
LinkSettingsRead ReadLinkSettings(const std::string &iniFileName, LinkState &link);

} // namespace loader
