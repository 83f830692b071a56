#pragma once
// Runs the device simulator as a child process for tests and benches that need a device on a
// line: starts it, waits until its link path exists, and stops it with SIGTERM at the end.

#include "tests/support/ChildProcess.h"

#include <optional>
#include <string>
#include <vector>

namespace testsupport
{

class DevsimProcess
{
  public:
    // `binary` is the simulator's path; `args` must hold "--link PATH". Throws std::runtime_error
    // when the simulator cannot start or its link does not appear within a few seconds.
    DevsimProcess(const std::string &binary, const std::vector<std::string> &args,
                  const ChildOptions &options = {});
    ~DevsimProcess() { Stop(); }
    DevsimProcess(const DevsimProcess &) = delete;
    DevsimProcess &operator=(const DevsimProcess &) = delete;

    const std::string &LinkPath() const { return linkPath_; }
    // For tests that freeze the device (SIGSTOP) and let it go on (SIGCONT); false once it has
    // ended.
    bool Signal(int signal) { return child_.Signal(signal); }

    // Waits for the simulator to end by itself. Returns the exit status (-1 when it did not exit
    // normally), or nothing when it still runs after a generous limit.
    std::optional<int> WaitForEnd();

    // Sends SIGTERM and waits. Returns the exit status, or -1 when it did not exit normally.
    int Stop();

  private:
    std::string linkPath_;
    ChildProcess child_;
};

// Runs the simulator to its end (for arguments it must refuse); returns its exit status.
int RunDevsimToEnd(const std::string &binary, const std::vector<std::string> &args);

} // namespace testsupport
