#pragma once
// A program run behind a terminal line of its own: a new pseudo terminal in its normal cooked
// mode, the program in a new session with that terminal as its controlling terminal, so job
// control, Ctrl-C and hang-ups act as they do for a login on a serial line.
//
// The terminal says TERM=vt100 and carries the window size; LINES and COLUMNS are taken out of the
// environment so programs ask the terminal. The erase character is backspace (^H), the byte a
// VT100's backspace key sends.

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace devsim
{

struct ShellSettings {
    std::string command; // run with /bin/sh -c; empty: the user's login shell
    uint16_t rows = 24;
    uint16_t columns = 80;
};

class ShellChild
{
  public:
    // Starts the program. Throws std::system_error when the terminal or the process cannot be
    // made; a program that cannot be run says so on its terminal and ends with status 127.
    explicit ShellChild(const ShellSettings &settings);
    // Hangs the program up without waiting when it still runs.
    ~ShellChild();
    ShellChild(const ShellChild &) = delete;
    ShellChild &operator=(const ShellChild &) = delete;

    // The master side of the program's terminal (non-blocking).
    int Master() const { return master_; }
    // Readable once the program has ended; -1 after it was reaped.
    int EndWatch() const { return ended_ ? -1 : pidfd_; }
    pid_t Pid() const { return pid_; }
    // Reaps the program when it has ended; true from then on.
    bool Ended();
    // Sends SIGHUP (and SIGCONT, so a stopped program hears it) to the program's process group,
    // as a line's hang-up does, and waits up to `grace` for the program to end.
    void HangUp(std::chrono::milliseconds grace);

  private:
    int master_ = -1;
    int pidfd_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
};

} // namespace devsim
