#pragma once
// The one place that shows modal message boxes. Texts are bytes and keep their carriage returns;
// only the display turns a carriage return into a line break. A replaceable responder lets tests
// and the batch mode answer (and record) every box instead of showing it.

#include <exception>
#include <functional>
#include <string>

namespace platform
{

enum class MsgType { Error, Warning, Information, Confirm };
enum class MsgButtons { Ok, OkCancel, AbortIgnore, YesNo, AbortRetryIgnore, YesNoCancel };
enum class MsgResult { Ok, Cancel, Abort, Retry, Ignore, Yes, No };

struct MessageRequest {
    MsgType type;
    std::string caption; // "Error", "Warning", "Information" or "Confirm"
    std::string text;
    MsgButtons buttons;
};

using MessageResponder = std::function<MsgResult(const MessageRequest &)>;

// Shows the box (or hands it to the responder) and returns the button pressed.
MsgResult ShowMessage(MsgType type, const std::string &text, MsgButtons buttons);

// The application's exception display: an error box with the exception's text and OK.
void ShowException(const std::exception &e);
// Runs action; an exception it raises is shown that way, and the caller goes on with its next
// step. For steps inside Qt's event handlers, where nothing may be thrown.
void ShowingFailures(const std::function<void()> &action);

// Installs a responder (empty restores the real boxes) and returns the one it replaces.
MessageResponder SetMessageResponder(MessageResponder responder);

std::string CaptionOf(MsgType type);
std::string ButtonText(MsgResult button); // "OK", "Cancel", "&Abort", "&Ignore", "&Yes", "&No"

} // namespace platform
