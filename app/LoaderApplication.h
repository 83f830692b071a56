#pragma once
// Program start: reads the command line before anything else happens, names the application and
// its help file, creates the windows that exist from the start, and runs the message loop. A
// smoke run shows the window offscreen for a moment and ends by itself, for machines without a
// display.

#include "app/BatchBoxes.h"
#include "app/GangPorts.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QCoreApplication;

namespace loader
{

class TFrmLoadr;
class TLinkServices;

constexpr const char *ApplicationTitle = "Tavrin Research, Inc. RS232 Flash File Loader";
constexpr const char *ApplicationHelpFile = "loader.hlp";
constexpr int SmokeRunMs = 1500;

struct StartOptions {
    bool smoke = false;                      // "--smoke"
    bool batch = false;                      // "--batch": one run without a window
    bool help = false;                       // "-h", "--help"
    bool version = false;                    // "-v", "--version"
    bool listPorts = false;                  // "--list-ports"
    std::optional<std::string> script;       // "--script FILE" (batch only)
    BatchPolicy answer = BatchPolicy::Abort; // "--answer abort|ignore" (batch only)
    // "--port NAME", in order (batch only): one is a single run on that port, more a gang run.
    std::vector<std::string> ports;
    // The toolkit's own options ("-platform NAME", "-style NAME", ...), each with its value, in
    // the form the application object reads them.
    std::vector<std::string> toolkitArgs;
    std::optional<std::string> platform; // the value of "-platform", when given
    std::string error;                   // what is wrong with the command line; empty when nothing
};

// Reads the whole command line, argv[0] being the program. Anything not known (a mistyped option,
// a stray argument) is an error: a production line must not run the default script by mistake.
// Options take their value as the next argument or after "=" ("--script=boot.sld"); the
// toolkit's options may start with one dash or two.
StartOptions ParseStartOptions(int argc, const char *const *argv);

// The usage text for --help and after a bad command line.
std::string UsageText();
// Program name, version and the revision it was built from, for --version.
std::string VersionText();

// Whether the toolkit platform list `platforms` (QT_QPA_PLATFORM's form: names with optional
// ":arguments", separated by ";", empty for the default) needs a display server: false when one
// of them can do without, such as "offscreen".
bool PlatformNeedsDisplay(std::string_view platforms);

// Sets the application's title and help file.
void InitialiseApplication(QCoreApplication &application);

// Starts the serial port engine: no port component known, the POSIX device layer installed, its
// devices looked up in `iniFileName` (the start folder's loader.ini).
void StartSerialEngine(const std::string &iniFileName);

// Reads the link's part of `iniFileName` into `link` as the settings dialog does, gives the port
// those settings and opens it (a port that does not open gets its box).
// A port named on the command line (`port`) stands in for loader.ini's "Comm Port".
void OpenLink(TLinkServices &link, const std::string &iniFileName,
              const std::optional<GangPort> &port = std::nullopt);

// Starts the serial port engine (no port component known, the POSIX device layer installed, its
// devices looked up in the main window's loader.ini), then creates after the main window the
// windows that live from start to end: the communication settings object, which opens the port
// and reports to the main window, then the about and support boxes, hidden. The terminal window is
// made on demand.
void CreateStartupWindows(TFrmLoadr &mainWindow);

// The whole program run; returns the exit code.
int RunLoader(int argc, char **argv);

} // namespace loader
