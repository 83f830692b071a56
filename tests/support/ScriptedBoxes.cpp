#include "tests/support/ScriptedBoxes.h"

namespace testsupport
{
namespace
{

platform::MsgResult FirstButton(platform::MsgButtons buttons)
{
    using platform::MsgButtons;
    using platform::MsgResult;
    switch (buttons) {
    case MsgButtons::AbortIgnore:
    case MsgButtons::AbortRetryIgnore:
        return MsgResult::Abort;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
        return MsgResult::Yes;
    default:
        return MsgResult::Ok;
    }
}

} // namespace

ScriptedBoxes::ScriptedBoxes()
{
    previous_ = platform::SetMessageResponder([this](const platform::MessageRequest &request) {
        shown_.push_back(request);
        if (answers_.empty())
            return FirstButton(request.buttons);
        auto answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
}

ScriptedBoxes::~ScriptedBoxes()
{
    platform::SetMessageResponder(std::move(previous_));
}

} // namespace testsupport
