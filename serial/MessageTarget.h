#pragma once
// What the dispatcher knows of a window handler: something that takes a message on its own
// thread. The dispatcher posts the message and then waits on a ticket, so it never touches the
// target again once the message is handed over; a target that disappears abandons its tickets.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace serial
{

// One message in flight from a sending thread to a target's thread.
class TSendTicket
{
  public:
    // Sender: waits until the handler has begun, at most limitMs; a handler that has begun is
    // waited for to the end. False when the message was abandoned (time-out or target gone).
    bool Wait(int limitMs);

    // Receiver: true when the handler may run (the sender still waits); false when abandoned.
    bool Begin();
    void Finish();

    // The target is going away without running the handler.
    void Abandon();

    // A ticket whose handler already ran (a target that handled the message at once).
    static std::shared_ptr<TSendTicket> Completed();

  private:
    enum class State { Posted, Running, Done, Abandoned };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Posted;
};

class TMessageTarget
{
  public:
    virtual ~TMessageTarget() = default;

    // The handler; runs on the target's own thread.
    virtual void HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam) = 0;

    // Hands the message to the target's thread without waiting for it (called with the port
    // lock held, so it must not block).
    virtual std::shared_ptr<TSendTicket> PostMessage(unsigned msg, uintptr_t wParam,
                                                     intptr_t lParam) = 0;

    // True when called on the target's own thread.
    virtual bool OnOwnThread() const = 0;

    // Blocking send: on the target's thread the handler runs at once; from another thread the
    // message is posted and waited for (limitMs until the handler begins). True when handled.
    bool SendMessage(unsigned msg, uintptr_t wParam, intptr_t lParam, int limitMs = 1000);
};

// How long a sender waits for a target to begin a message.
constexpr int kSendLimitMs = 1000;

} // namespace serial
