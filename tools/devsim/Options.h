#pragma once
// The simulator's command line.

#include "tools/devsim/Device.h"
#include "tools/devsim/ShellChild.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace devsim
{

struct Options {
    std::string linkPath;
    std::string reportPath;   // empty: no report
    bool reportTimes = false; // report when the first and last body byte arrived
    uint32_t baud = 0;        // 0: unpaced
    DeviceSettings device;
    bool shell = false; // run a program behind the line instead of playing the device
    ShellSettings shellSettings;
    bool help = false;
};

class OptionsError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Options take their value as the next argument
// or after "=" ("--baud 19200", "--baud=19200"). The device's options are refused with a shell,
// the shell's with the device. Throws OptionsError with a one-line reason.
Options ParseOptions(const std::vector<std::string> &args);

std::string UsageText();

} // namespace devsim
