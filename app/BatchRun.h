#pragma once
// One upload run without a screen: an upload engine on its link, no window; the run starts as the
// start button starts it in automatic mode, every message box goes to the error stream and is
// answered by a fixed policy, and the progress a window would show goes to the output stream.
// A script or flash file that cannot be read, or a port that cannot be opened, gets a line after
// its box with the system's reason.
// SIGINT cancels the run as the cancel button does, with the question answered Yes; a second
// SIGINT while the cancelled run still winds down stops at once. SIGTERM and SIGHUP are both at
// once: the run is cancelled and ends without waiting, with a line on the error stream. Either
// way the port is closed and loader.log is complete.

#include "app/BatchBoxes.h"
#include "app/BatchProgress.h"
#include "app/NormalisedPath.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

class QCoreApplication;

namespace loader
{

class TLinkServices;
class TUploadEngine;

// Exit statuses of a batch run.
constexpr int BatchRunClean = 0;   // the run ended and no error box was shown
constexpr int BatchRunErrors = 1;  // at least one error box was shown
constexpr int BatchNotStarted = 2; // port not open, script not readable, or a bad command line
// Ended by SIGTERM or SIGHUP: this plus the signal's number, as a shell reports a killed program.
constexpr int BatchEndedBySignal = 128;

// The line that follows the box of a port that did not open: the device path `deviceName`, or the
// one port `comNumber` names when it is empty, and the system's reason `error` (an errno; 0 when
// there is none).
std::string PortOpenFailureLine(uint16_t comNumber, const std::string &deviceName, int error);

// The line after the box of a file that could not be read: "name: reason", with the name in
// quotes when a blank at either end would not show.
std::string UnreadableFileLine(const std::string &file, const std::string &reason);

class TBatchRun
{
  public:
    TBatchRun(std::ostream &progress, std::ostream &boxes, BatchPolicy policy);
    ~TBatchRun();
    TBatchRun(const TBatchRun &) = delete;
    TBatchRun &operator=(const TBatchRun &) = delete;

    // Installs the message box responder; from here on no box reaches a screen.
    void AnswerBoxes();

    // Starts the run of `engine` on `link` (its port already tried) with `script`, or the
    // engine's own script when none is given, waits for its end and closes the link. Returns the
    // exit status.
    int Run(QCoreApplication &application, TUploadEngine &engine, TLinkServices &link,
            const std::optional<std::string> &script);

    // A caught SIGINT, SIGTERM or SIGHUP, on the GUI thread.
    void Signalled(QCoreApplication &application, TUploadEngine &engine, int signal);

  private:
    platform::MsgResult Answer(const platform::MessageRequest &request);
    void Interrupted(QCoreApplication &application, TUploadEngine &engine);

    std::ostream &progressOut_;
    std::ostream &boxesOut_; // the boxes, and why a file named for the run was not read
    TBatchProgress progress_;
    TBatchBoxes boxes_;
    bool confirmCancel_ = false;
    bool cancelRequested_ = false;
    int endedBy_ = 0; // the SIGTERM or SIGHUP that ended the run; 0 when none
    bool responderInstalled_ = false;
    platform::MessageResponder previous_;
};

} // namespace loader
