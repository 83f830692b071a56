#pragma once
// Program start: names the application and its help file, creates the windows that exist from
// the start, and runs the message loop. A smoke run shows the window offscreen for a moment and
// ends by itself, for machines without a display.

#include "app/BatchBoxes.h"

#include <optional>
#include <string>

class QApplication;

namespace loader
{

class TFrmLoadr;

constexpr const char *ApplicationTitle = "Tavrin Research, Inc. RS232 Flash File Loader";
constexpr const char *ApplicationHelpFile = "loader.hlp";
constexpr int SmokeRunMs = 1500;

struct StartOptions {
    bool smoke = false;                      // "--smoke"
    bool batch = false;                      // "--batch": one run without a window
    std::optional<std::string> script;       // "--script FILE" (batch only)
    BatchPolicy answer = BatchPolicy::Abort; // "--answer abort|ignore" (batch only)
    std::string error; // what is wrong with the command line; empty when nothing
};

constexpr const char *BatchUsage = "usage: loader --batch [--script FILE] [--answer abort|ignore]";

// Picks the program's own options; everything else is left to the toolkit. Options take their
// value as the next argument or after "=" ("--script=boot.sld").
StartOptions ParseStartOptions(int argc, const char *const *argv);

// Sets the application's title and help file.
void InitialiseApplication(QApplication &application);

// Starts the serial port engine (no port component known, the POSIX device layer installed, its
// devices looked up in the main window's loader.ini), then creates after the main window the
// windows that live from start to end: the communication settings object, which opens the port
// and reports to the main window, and later the about and support boxes. The terminal window is
// made on demand.
void CreateStartupWindows(TFrmLoadr &mainWindow);

// The whole program run; returns the exit code.
int RunLoader(int argc, char **argv);

} // namespace loader
