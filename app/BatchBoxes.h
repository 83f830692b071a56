#pragma once
// Message boxes without a screen, for unattended runs: every box is written to a stream as
// "Caption: text" with its carriage returns as line breaks, and answered by a fixed policy.
// A box whose only button is OK gets OK. Abort/Ignore boxes (and Abort/Retry/Ignore, never Retry,
// which would only repeat the failure) get Abort or Ignore as the policy says. A question (OK or
// Cancel, Yes or No) gets the answer that changes nothing - Cancel or No - since nobody is there to
// consent to it.

#include "platform/MessageBox.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace loader
{

enum class BatchPolicy { Abort, Ignore };

// "abort" or "ignore" (any letter case); nothing for any other text.
std::optional<BatchPolicy> ParseBatchPolicy(std::string_view text);

// "Error: first line\nsecond line": CR LF and lone CR both end a line; no final line break.
std::string RenderBatchMessage(const platform::MessageRequest &request);

platform::MsgResult BatchAnswer(platform::MsgButtons buttons, BatchPolicy policy);

class TBatchBoxes
{
  public:
    TBatchBoxes(std::ostream &out, BatchPolicy policy) : out_(out), policy_(policy) {}

    // Writes the rendered box and a line break, notes an error box, and answers by the policy.
    platform::MsgResult Answer(const platform::MessageRequest &request);

    // A responder for platform::SetMessageResponder; this object must outlive its use.
    platform::MessageResponder Responder();

    bool ErrorShown() const { return errorShown_; }

  private:
    std::ostream &out_;
    BatchPolicy policy_;
    bool errorShown_ = false;
};

} // namespace loader
