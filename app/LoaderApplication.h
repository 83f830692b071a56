#pragma once
// Program start: names the application and its help file, creates the windows that exist from
// the start, and runs the message loop. A smoke run shows the window offscreen for a moment and
// ends by itself, for machines without a display.

#include <string>

class QApplication;

namespace loader
{

class TFrmLoadr;

constexpr const char *ApplicationTitle = "Tavrin Research, Inc. RS232 Flash File Loader";
constexpr const char *ApplicationHelpFile = "loader.hlp";
constexpr int SmokeRunMs = 1500;

struct StartOptions {
    bool smoke = false; // "--smoke"
};

// Picks the program's own options; everything else is left to the toolkit.
StartOptions ParseStartOptions(int argc, const char *const *argv);

// Sets the application's title and help file.
void InitialiseApplication(QApplication &application);

// Creates, after the main window, the windows that live from start to end: the communication
// settings object (which opens the port and reports to the main window), the about box and the
// support box. They are added here as they are written; the terminal window is made on demand.
// First it points the serial device layer at the main window's loader.ini.
void CreateStartupWindows(TFrmLoadr &mainWindow);

// The whole program run; returns the exit code.
int RunLoader(int argc, char **argv);

} // namespace loader
