#include "tests/support/TriggerRecorder.h"

namespace testsupport
{

int TriggerRecorder::Attach(int port, uint32_t passOn)
{
    return serial::AddHandler(port, &TriggerRecorder::Proc, reinterpret_cast<uintptr_t>(this),
                              passOn);
}

int TriggerRecorder::Detach(int port)
{
    return serial::RemoveHandler(port, &TriggerRecorder::Proc, reinterpret_cast<uintptr_t>(this));
}

void TriggerRecorder::OnMessage(Action action)
{
    std::lock_guard guard(mutex_);
    action_ = std::move(action);
}

std::vector<RecordedMessage> TriggerRecorder::Messages() const
{
    std::lock_guard guard(mutex_);
    return messages_;
}

std::vector<RecordedMessage> TriggerRecorder::Of(unsigned msg) const
{
    std::vector<RecordedMessage> found;
    for (const RecordedMessage &m : Messages())
        if (m.Msg == msg)
            found.push_back(m);
    return found;
}

bool TriggerRecorder::WaitForCount(size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return handled_ >= count; });
}

void TriggerRecorder::Proc(uintptr_t self, unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    auto *recorder = reinterpret_cast<TriggerRecorder *>(self);
    const RecordedMessage message{msg, wParam, static_cast<uint16_t>(lParam & 0xFFFF),
                                  static_cast<uint16_t>((lParam >> 16) & 0xFFFF)};
    Action action;
    {
        std::lock_guard guard(recorder->mutex_);
        recorder->messages_.push_back(message);
        action = recorder->action_;
    }
    if (action)
        action(message);
    {
        std::lock_guard guard(recorder->mutex_);
        ++recorder->handled_;
    }
    recorder->changed_.notify_all();
}

} // namespace testsupport
