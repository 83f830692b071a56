#pragma once
// The loader's own part of loader.ini ("Upload Settings" and "Help"), read at start by the main
// window and by a run without one alike: the file is the start folder's, values that cannot be
// read get their defaults, and the working directory moves to "Default Path".

#include <cstdint>
#include <string>

namespace loader
{

struct LoaderSettings {
    std::string iniFileName;    // start directory + "/loader.ini"
    std::string iniRefusal;     // why loader.ini could not be read; empty when it could
    std::string scriptFileName; // "Default Script"
    int32_t uploadDelayMs = 1000;
    bool loggingAllowed = false; // "Logging" above 0: the Logging menu item may be used
    bool manualUpload = false;   // "Upload Method" is MANUAL
};

// Reads the settings, shows the boxes about a file that cannot be read or a "Default Path" that
// cannot be entered, moves the working directory there, chooses the help viewer and records the
// driver version in the file.
LoaderSettings ReadLoaderSettings();

} // namespace loader
