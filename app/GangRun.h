#pragma once
// A gang run: the same script on several ports at once, one upload engine and link per port, all
// on the GUI thread's event loop. Each port's boxes are answered as in batch mode and printed with
// its name; its progress goes to the gang report (scrolling lines, or live lines on a terminal);
// its log is its own. A port that fails ends only its own run. At the end the report prints one
// line per port and the count, and the exit status says whether every port succeeded.
// SIGINT cancels every port (the cancel question answered Yes for each); a second one stops at
// once. SIGTERM and SIGHUP cancel and stop at once.

#include "app/BatchBoxes.h"
#include "app/GangPorts.h"

#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace loader
{

// Runs the gang on `ports` (already resolved) with `script` (absolute; the "Default Script" of
// loader.ini when empty). Returns the exit status.
int RunGang(QCoreApplication &application, const std::vector<GangPort> &ports,
            const std::optional<std::string> &script, BatchPolicy policy);

} // namespace loader
