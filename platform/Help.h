#pragma once
// Opens the operator's manual. The program names its help file "loader.hlp"; we ship it as
// docs/loader.html with one anchor per help context ("context-20", ...). The manual opens in the
// program's own viewer, or in the desktop browser when the operator prefers it; a browser that
// cannot be started falls back to the viewer, so help always opens.

#include <functional>
#include <string>

namespace platform
{

constexpr int HelpFinder = 11; // the command that opens the contents and index
constexpr int HelpContext = 1; // the command that opens one help context

// The help contexts: each is the section "context-N" of the manual. An item without a context of
// its own has NoHelpContext and uses its window's.
constexpr int NoHelpContext = 0;
constexpr int AboutHelpContext = 10; // the support and about boxes
constexpr int MainWindowHelpContext = 20;
constexpr int TerminalHelpContext = 110;
constexpr int RS232HelpContext = 210; // the communication settings

// The dynamic property that carries the help context of a window or menu item.
constexpr const char *HelpContextProperty = "helpContext";

// Handles a help request: the help file name, the command and its data (the context number).
using HelpOpener = std::function<void(const std::string &helpFile, int command, int data)>;

void SetHelpFile(const std::string &helpFile);
const std::string &HelpFile();

// Asks the help viewer to open the help file; tests replace the opener to see the request.
void OpenHelp(int command, int data);
HelpOpener SetHelpOpener(HelpOpener opener);

// The manual's location: next to the program, in its share folder or in the source tree's docs/;
// empty when it is nowhere.
std::string ManualPath();
// Puts the manual at a fixed place instead of searching (empty searches again); returns the
// previous setting.
std::string SetManualPath(std::string path);

// Where the manual opens; the operator chooses in loader.ini ("Help", "Viewer").
enum class HelpViewerChoice { Builtin, Browser };
// "Browser" (any case, blanks around ignored) picks the desktop browser; anything else the viewer.
HelpViewerChoice HelpViewerChoiceOf(const std::string &value);
void SetHelpViewerChoice(HelpViewerChoice choice);
HelpViewerChoice CurrentHelpViewerChoice();

// Hands a URL to the desktop (browser, mail program); false when nothing took it. Tests replace
// the opener to see the request.
using DesktopOpener = std::function<bool(const std::string &url)>;
bool OpenInDesktop(const std::string &url);
DesktopOpener SetDesktopOpener(DesktopOpener opener);

// The same search for a program in programDir built from sourceDir (none when empty): the first
// of programDir/, programDir/../share/tavrin-loader/, programDir/../share/loader/ and
// sourceDir/docs/ that holds loader.html; empty when none does.
std::string ManualPathFor(const std::string &programDir, const std::string &sourceDir);

} // namespace platform
