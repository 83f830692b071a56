#pragma once
// A message target with its own thread, standing in for a window on the GUI thread in tests
// that do not run Qt. Hold() stops it taking messages, as a hung GUI thread would.

#include "serial/MessageTarget.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace testsupport
{

class ThreadMessageTarget : public serial::TMessageTarget
{
  public:
    using Handler = std::function<void(unsigned msg, uintptr_t wParam, intptr_t lParam)>;

    explicit ThreadMessageTarget(Handler handler);
    ~ThreadMessageTarget() override;

    void Hold(bool on);
    // True when the last message ran on this target's own thread.
    bool RanOnOwnThread() const { return ranOnOwnThread_; }

    void HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam) override;
    std::shared_ptr<serial::TSendTicket> PostMessage(unsigned msg, uintptr_t wParam,
                                                     intptr_t lParam) override;
    bool OnOwnThread() const override;

  private:
    struct Posted {
        unsigned Msg;
        uintptr_t WParam;
        intptr_t LParam;
        std::shared_ptr<serial::TSendTicket> Ticket;
    };
    void Run();

    Handler handler_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Posted> queue_;
    bool held_ = false;
    bool stop_ = false;
    std::atomic<bool> ranOnOwnThread_{false};
    std::thread thread_;
};

} // namespace testsupport
