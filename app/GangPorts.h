#pragma once
// The ports of a gang run, as "--port NAME" gives them: each name checked and resolved to the
// device it opens and the log it writes, before any port or log is opened. A name is "COM"n (any
// letter case, n from 1 to 65535), opening what section [Devices] of loader.ini or the built-in
// table names for it, or a device path (any name holding "/"), taken from the start folder.

#include <cstdint>
#include <string>
#include <vector>

namespace loader
{

struct GangPort {
    std::string name;       // as given on the command line, for the lines shown
    std::string device;     // the device path it opens
    std::string logName;    // "loader-SAFE.log", unique among the ports
    uint16_t comNumber = 0; // n of a "COM"n name; 0 for a device path
};

struct GangPortList {
    std::vector<GangPort> ports; // in command-line order
    std::string error;           // the usage error; empty when every name is good
};

// Resolves `names` in order; relative paths are taken from `startFolder`. COM names are looked up
// through serial::DevicePathFor, so its ini file must have been set. Two names naming one device
// (after following symbolic links; a path that does not exist by its normalised text) are an
// error, as are names that are neither a COM name with a device nor a path.
GangPortList ResolveGangPorts(const std::vector<std::string> &names,
                              const std::string &startFolder);

} // namespace loader
