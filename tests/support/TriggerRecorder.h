#pragma once
// Records the trigger messages a port delivers to a procedure handler, and lets a test act
// inside the handler (read, re-arm, close) the way a real handler would.

#include "serial/Dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace testsupport
{

struct RecordedMessage {
    unsigned Msg = 0;
    uintptr_t WParam = 0;
    uint16_t LParamLow = 0;
    uint16_t Port = 0;
    bool operator==(const RecordedMessage &) const = default;
};

class TriggerRecorder
{
  public:
    using Action = std::function<void(const RecordedMessage &)>;

    TriggerRecorder() = default;
    // Detach from the ports first: a recorder must outlive any delivery to it.
    TriggerRecorder(const TriggerRecorder &) = delete;
    TriggerRecorder &operator=(const TriggerRecorder &) = delete;

    int Attach(int port, uint32_t passOn = 1);
    int Detach(int port);
    // Runs inside the handler, on the dispatch thread, after the message is recorded.
    void OnMessage(Action action);

    std::vector<RecordedMessage> Messages() const;
    std::vector<RecordedMessage> Of(unsigned msg) const;
    // Waits until at least count messages came and their actions finished; false when the limit
    // passed first.
    bool WaitForCount(size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

    static void Proc(uintptr_t self, unsigned msg, uintptr_t wParam, intptr_t lParam);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedMessage> messages_;
    size_t handled_ = 0; // messages whose action has finished
    Action action_;
};

} // namespace testsupport
