#pragma once
// Answers message boxes from a script and records each one, for tests of windows and engines.

#include "platform/MessageBox.h"

#include <deque>
#include <vector>

namespace testsupport
{

class ScriptedBoxes
{
  public:
    ScriptedBoxes();
    ~ScriptedBoxes();
    ScriptedBoxes(const ScriptedBoxes &) = delete;
    ScriptedBoxes &operator=(const ScriptedBoxes &) = delete;

    // Queues the answer to the next box; without one, a box gets its first button.
    void Answer(platform::MsgResult result) { answers_.push_back(result); }

    const std::vector<platform::MessageRequest> &Shown() const { return shown_; }
    void Clear() { shown_.clear(); }

  private:
    platform::MessageResponder previous_;
    std::deque<platform::MsgResult> answers_;
    std::vector<platform::MessageRequest> shown_;
};

} // namespace testsupport
