#pragma once
// Signals reach the GUI thread through a pipe: the handler only writes the signal's number to it,
// and a socket notifier hands each one to the program's own code from the event loop. So a
// signal ends a run the way the window's own commands do (the port closed and its exclusive mark
// cleared, loader.log complete): between two steps, or inside a step's wait, which it cuts short
// as Cancel does.

#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace loader
{

class TSignalPipe
{
  public:
    // Catches `caught` signals for as long as it lives and hands each to `handler` on the GUI
    // thread; the previous handling comes back afterwards. One may exist at a time.
    TSignalPipe(std::initializer_list<int> caught, std::function<void(int signal)> handler);
    ~TSignalPipe();
    TSignalPipe(const TSignalPipe &) = delete;
    TSignalPipe &operator=(const TSignalPipe &) = delete;

  private:
    void Deliver();

    std::function<void(int signal)> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::pair<int, struct sigaction>> previous_;
};

// "SIGTERM" for SIGTERM, and so on.
std::string SignalName(int signal);

// A write to a closed pipe (standard output read by a program that has ended, as with
// "loader --batch | head -1") fails with EPIPE, and one past the file size limit (ulimit -f)
// with EFBIG, instead of killing the program: the writer sees the failure and says so. A handler
// that does nothing, rather than ignoring the signals, is not handed on to programs started from
// here.
void SurviveFailedWrites();

} // namespace loader
