#pragma once
// A child process of a test or a bench: a program with its arguments (or a function run in a
// forked copy of the caller, for a bench that plays the device itself), in a folder of the
// caller's choosing, its standard streams passed on, written to files or captured. It is waited
// for with a time limit, signalled, and always reaped: a child still running when its object goes
// is killed. Plain C++ and POSIX, so the benches use it as the tests do.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testsupport
{

using Clock = std::chrono::steady_clock;

// Where one of the child's output streams goes.
struct ChildOutput {
    enum class To { Parent, Capture, File, Output, Closed };
    To to = To::Parent;
    std::string path; // for File
    bool append = false;

    // Kept in memory; ChildProcess::Output and Error read it, while the child runs or after.
    static ChildOutput Captured() { return {To::Capture, {}, false}; }
    static ChildOutput ToFile(std::string path, bool append = false)
    {
        return {To::File, std::move(path), append};
    }
    // Standard error joins standard output, wherever that goes.
    static ChildOutput SameAsOutput() { return {To::Output, {}, false}; }
    // A pipe that nobody reads: every write of the child fails (EPIPE, or SIGPIPE).
    static ChildOutput Closed() { return {To::Closed, {}, false}; }
};

struct ChildOptions {
    std::string dir; // the working folder; empty: the caller's
    // Names removed from the caller's environment, then names set (programs only).
    std::vector<std::string> unsetEnv;
    std::vector<std::pair<std::string, std::string>> setEnv;
    bool nullInput = false; // standard input from /dev/null instead of the caller's
    ChildOutput out;
    ChildOutput err;
    // A process group of its own, so a Ctrl-C at the terminal reaches only the caller, which
    // ends the child itself; signals then go to the whole group. The kernel kills the child
    // should the caller die without a chance to clean up.
    bool ownGroup = false;
};

class ChildProcess
{
  public:
    // Starts `program` (a path; no search). Throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string &program, const std::vector<std::string> &args,
                 const ChildOptions &options = {});
    // Runs `body` in a forked copy of the caller; the copy exits with what it returns.
    explicit ChildProcess(const std::function<int()> &body, const ChildOptions &options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The process id; -1 once the child has been reaped.
    pid_t Pid() const { return pid_; }
    bool Running();

    // The wait status once the child has ended by `deadline`; nothing when it still runs then or
    // when `stop` says so first.
    std::optional<int> WaitUntil(Clock::time_point deadline,
                                 const std::function<bool()> &stop = {});
    // Waits as long as it takes; the wait status.
    int Wait();
    // True once `path` exists (a link: once what it names exists, so a stale link left by an
    // earlier run does not count); false when the child ended first, or `deadline` or `stop` came.
    bool WaitForPath(const std::string &path, Clock::time_point deadline,
                     const std::function<bool()> &stop = {});
    // True once the captured output holds `text`; false when the child ended without writing it
    // or `deadline` came.
    bool WaitForOutput(const std::string &text, Clock::time_point deadline);

    // Sends `signal` (to the group when the child has its own); false once it has been reaped.
    bool Signal(int signal);
    // SIGTERM, with SIGCONT so a stopped child hears it, then SIGKILL when it has not ended
    // within `grace`; the wait status (that of its own end when it had ended already).
    int Stop(std::chrono::milliseconds grace);
    void Kill();

    // What the child wrote so far to a captured standard output or error.
    std::string Output() const;
    std::string Error() const;

  private:
    void Start(const std::string &program, const std::vector<std::string> &args,
               const std::function<int()> &body, const ChildOptions &options);
    bool Reaped(int flags);
    void CloseCaptures();

    pid_t pid_ = -1;
    bool group_ = false;
    int status_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
};

// The exit code in a wait status; -1 when the child did not exit normally.
int ExitCode(int status);

} // namespace testsupport
