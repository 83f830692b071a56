#pragma once
// A program the soak starts: in a folder of its own, its output in files, in a process group of
// its own (a Ctrl-C at the terminal reaches the soak, which then ends its programs itself), and
// killed by the kernel should the soak die without a chance to clean up.

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace soak
{

using Clock = std::chrono::steady_clock;

class Child
{
  public:
    Child(const std::string &binary, const std::vector<std::string> &args, const std::string &cwd,
          const std::string &out, const std::string &err);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // The wait status once the program has ended by `deadline`; nothing when it still runs then
    // or when `stop` was raised first.
    std::optional<int> WaitUntil(Clock::time_point deadline, const volatile sig_atomic_t &stop);
    bool Running();
    // SIGTERM, and SIGKILL if it has not ended within `grace`.
    void Stop(std::chrono::milliseconds grace);
    void Kill();

  private:
    bool Reaped(int flags);

    pid_t pid_ = -1;
    int status_ = 0;
};

} // namespace soak
