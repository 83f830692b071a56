#include "tests/support/ThreadMessageTarget.h"

namespace testsupport
{

ThreadMessageTarget::ThreadMessageTarget(Handler handler)
    : handler_(std::move(handler)), thread_([this] { Run(); })
{
}

ThreadMessageTarget::~ThreadMessageTarget()
{
    {
        std::lock_guard guard(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    for (Posted &p : queue_)
        p.Ticket->Abandon();
}

void ThreadMessageTarget::Hold(bool on)
{
    {
        std::lock_guard guard(mutex_);
        held_ = on;
    }
    changed_.notify_all();
}

void ThreadMessageTarget::HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    ranOnOwnThread_ = OnOwnThread();
    handler_(msg, wParam, lParam);
}

std::shared_ptr<serial::TSendTicket>
ThreadMessageTarget::PostMessage(unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    auto ticket = std::make_shared<serial::TSendTicket>();
    {
        std::lock_guard guard(mutex_);
        queue_.push_back(Posted{msg, wParam, lParam, ticket});
    }
    changed_.notify_all();
    return ticket;
}

bool ThreadMessageTarget::OnOwnThread() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void ThreadMessageTarget::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || (!held_ && !queue_.empty()); });
        if (stop_)
            return;
        Posted posted = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        if (posted.Ticket->Begin()) {
            HandleMessage(posted.Msg, posted.WParam, posted.LParam);
            posted.Ticket->Finish();
        }
        lock.lock();
    }
}

} // namespace testsupport
