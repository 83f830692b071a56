#include "serial/MessageTarget.h"

#include <chrono>

namespace serial
{

bool TSendTicket::Wait(int limitMs)
{
    std::unique_lock lock(mutex_);
    const bool begun = changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                                         [this] { return state_ != State::Posted; });
    if (!begun) {
        state_ = State::Abandoned;
        return false;
    }
    changed_.wait(lock, [this] { return state_ != State::Running; });
    return state_ == State::Done;
}

bool TSendTicket::Begin()
{
    std::lock_guard lock(mutex_);
    if (state_ != State::Posted)
        return false;
    state_ = State::Running;
    return true;
}

void TSendTicket::Finish()
{
    {
        std::lock_guard lock(mutex_);
        state_ = State::Done;
    }
    changed_.notify_all();
}

void TSendTicket::Abandon()
{
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Posted)
            return;
        state_ = State::Abandoned;
    }
    changed_.notify_all();
}

std::shared_ptr<TSendTicket> TSendTicket::Completed()
{
    auto ticket = std::make_shared<TSendTicket>();
    ticket->state_ = State::Done;
    return ticket;
}

bool TMessageTarget::SendMessage(unsigned msg, uintptr_t wParam, intptr_t lParam, int limitMs)
{
    if (OnOwnThread()) {
        HandleMessage(msg, wParam, lParam);
        return true;
    }
    return PostMessage(msg, wParam, lParam)->Wait(limitMs);
}

} // namespace serial
