#include "app/BatchBoxes.h"

namespace loader
{

using platform::MsgButtons;
using platform::MsgResult;

std::optional<BatchPolicy> ParseBatchPolicy(std::string_view text)
{
    std::string lower;
    for (char c : text)
        lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower == "abort")
        return BatchPolicy::Abort;
    if (lower == "ignore")
        return BatchPolicy::Ignore;
    return std::nullopt;
}

std::string RenderBatchMessage(const platform::MessageRequest &request)
{
    std::string rendered = request.caption + ": ";
    const std::string &text = request.text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            rendered += text[i];
            continue;
        }
        rendered += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    return rendered;
}

MsgResult BatchAnswer(MsgButtons buttons, BatchPolicy policy)
{
    switch (buttons) {
    case MsgButtons::Ok:
        return MsgResult::Ok;
    case MsgButtons::AbortIgnore:
    case MsgButtons::AbortRetryIgnore:
        return policy == BatchPolicy::Abort ? MsgResult::Abort : MsgResult::Ignore;
    case MsgButtons::OkCancel:
    case MsgButtons::YesNoCancel:
        return MsgResult::Cancel;
    case MsgButtons::YesNo:
        return MsgResult::No;
    }
    return MsgResult::Cancel;
}

MsgResult TBatchBoxes::Answer(const platform::MessageRequest &request)
{
    if (request.type == platform::MsgType::Error)
        errorShown_ = true;
    out_ << RenderBatchMessage(request) << '\n' << std::flush;
    return BatchAnswer(request.buttons, policy_);
}

platform::MessageResponder TBatchBoxes::Responder()
{
    return [this](const platform::MessageRequest &request) { return Answer(request); };
}

} // namespace loader
