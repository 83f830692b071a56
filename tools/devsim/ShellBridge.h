#pragma once
// Joins the loader's line to a program on a terminal of its own (ShellChild), so the loader's
// terminal window can be tried against a real shell, pager or editor: bytes from the line go to
// the program's terminal, its output goes to the line, both at the line rate when one is set.
//
// Nothing is dropped on the way: while the program writes faster than the line carries, its
// output waits in its terminal and the program blocks, as behind a slow serial line; while the
// program does not read, the host is held back. What a host did not read when it closed the line
// is dropped, as on a line with nothing at its end; the next host opening the line finds the
// program as it was.

#include "tools/devsim/Pacer.h"
#include "tools/devsim/PtyLink.h"
#include "tools/devsim/ShellChild.h"

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

namespace devsim
{

// Output of the program taken from its terminal ahead of the line; beyond it the program waits.
inline constexpr std::size_t ShellReadAhead = 4096;

class ShellBridge
{
  public:
    // `baud` 0 means an unpaced line.
    ShellBridge(PtyLink &link, ShellChild &child, uint32_t baud);

    // Serves until the program ends (once its last output has reached the host) or `stop`
    // becomes non-zero; then the program is hung up. Signals that set `stop` must be blocked by
    // the caller; they are let through only while the loop waits. Returns the exit status.
    int Run(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask);

  private:
    void FollowHostOpens();
    void ReadLine();
    void WriteShell(int64_t nowNs);
    void ReadShell();
    void WriteLine(int64_t nowNs);
    bool Finished(int64_t nowNs);
    void Wait(const sigset_t &waitMask, int64_t nowNs);

    PtyLink &link_;
    ShellChild &child_;
    Pacer toShellPacer_;
    Pacer toLinePacer_;
    std::string toShell_;
    std::string toLine_;
    bool shellClosed_ = false; // nothing holds the program's terminal open any more
    std::optional<int64_t> endedAtNs_;
    int64_t lineWrittenAtNs_ = 0;
    std::size_t pending_ = 0;
    int64_t pendingSinceNs_ = 0;
};

} // namespace devsim
