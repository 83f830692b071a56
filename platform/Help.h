#pragma once
// Opens the operator's manual. The program names its help file "loader.hlp"; we ship it as
// docs/loader.html with one anchor per help context ("context-20", ...).

#include <functional>
#include <string>

namespace platform
{

constexpr int HelpFinder = 11; // the command that opens the contents and index
constexpr int HelpContext = 1; // the command that opens one help context

// Handles a help request: the help file name, the command and its data (the context number).
using HelpOpener = std::function<void(const std::string &helpFile, int command, int data)>;

void SetHelpFile(const std::string &helpFile);
const std::string &HelpFile();

// Asks the help viewer to open the help file; tests replace the opener to see the request.
void OpenHelp(int command, int data);
HelpOpener SetHelpOpener(HelpOpener opener);

// The manual's location: next to the program, in its share folder or in the source tree's docs/.
std::string ManualPath();
// The same search for a program in programDir built from sourceDir (none when empty): the first
// of programDir/, programDir/../share/tavrin-loader/, programDir/../share/loader/ and
// sourceDir/docs/ that holds loader.html; empty when none does.
std::string ManualPathFor(const std::string &programDir, const std::string &sourceDir);

} // namespace platform
