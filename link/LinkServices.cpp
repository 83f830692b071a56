// The link services of the settings dialog: sending, the command handshake, the paced upload of
// a file buffer, the switching of the device's reply texts, and the port's event handlers that
// report back to the loader.

#include "link/FrmS_comm.h"

#include "link/LoaderCallbacks.h"
#include "link/WaitCursor.h"

#include "platform/MessageBox.h"
#include "serial/DeviceRoutines.h"
#include "serial/Triggers.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>

namespace loader
{

namespace
{

// Room SendDataByte and SendDataString keep free beyond what they send.
constexpr std::size_t SendMargin = 10;
constexpr int SendStringRounds = 15000;
// The handshake waits 100 ticks of 55 ms for the prompt.
constexpr int32_t HandshakeTicks = 100;
// Carriage return and line feed in front of the prompt that ends a reply.
constexpr std::size_t LineEndLength = 2;
// Phases of a buffer upload, kept in the port's Tag.
constexpr int32_t NoUpload = 0;
constexpr int32_t UploadRunning = 1;
constexpr int32_t UploadFailing = 2;

bool Contains(const std::string &text, const std::string &part)
{
    return !part.empty() && text.find(part) != std::string::npos;
}

// The error trigger matches ignoring case, and so does the watch over a file.
bool ContainsIgnoringCase(const std::string &text, const std::string &part)
{
    const auto same = [](char a, char b) {
        return serial::UpperByte(static_cast<uint8_t>(a)) ==
               serial::UpperByte(static_cast<uint8_t>(b));
    };
    return !part.empty() &&
           std::search(text.begin(), text.end(), part.begin(), part.end(), same) != text.end();
}

} // namespace

void TFrmS_comm::SendDataByte(char c)
{
    while (ApdComPort1->OutputRoom() < SendMargin)
        QThread::msleep(5);
    ApdComPort1->SendByte(c);
}

void TFrmS_comm::SendDataString(const std::string &text)
{
    for (int round = 0;
         round < SendStringRounds && ApdComPort1->OutputRoom() < text.size() + SendMargin; ++round)
        QCoreApplication::processEvents();
    ApdComPort1->SendText(text);
}

bool TFrmS_comm::SendBlock(const void *buffer, uint32_t length)
{
    if (length >= ApdComPort1->OutputRoom())
        return false;
    ApdComPort1->SendBytes(buffer, static_cast<uint16_t>(length));
    return true;
}

void TFrmS_comm::SendBuffer(const void *buffer, int32_t length)
{
    Link.UploadPtr = static_cast<const uint8_t *>(buffer);
    Link.UploadTotal = std::max<int32_t>(length, 0);
    Link.UploadRemaining = Link.UploadTotal;
    // A block must fit the output buffer, or the output-free trigger could never fire; a block
    // of nothing would never move the cursor.
    Link.UploadBlockSize =
        std::clamp<uint16_t>(Link.CfgBlockSize, 1, std::max<uint16_t>(ApdComPort1->OutSize(), 1));
    ApdComPort1->SetTag(UploadRunning);
    try {
        if (Link.UploadTotal > 0) {
            ApdComPort1->ArmStateTrigger(Link.OutFreeTrigger, Link.UploadBlockSize, true);
        } else {
            // Nothing to send: the upload ends as one that has drained.
            ReportUploadProgress();
            ApdComPort1->ArmStateTrigger(Link.OutUsedTrigger, 0, true);
        }
    } catch (...) {
        ApdComPort1->SetTag(NoUpload);
        throw;
    }
}

void TFrmS_comm::ApdComPort1TriggerOutbuffFree(serial::TApdCustomComPort &)
{
    serial::TApdComPort &port = *ApdComPort1;
    // An upload given up (failed line, abandoned) leaves its buffer to the caller at once; a
    // late event must not send from it.
    if (port.Tag() == NoUpload)
        return;
    // The line may have failed before its report came: the output it emptied looks like room.
    if (port.LineFailed()) {
        LineFailure();
        return;
    }
    const int32_t block = Link.UploadBlockSize;
    if (block < Link.UploadRemaining) {
        port.SendBytes(Link.UploadPtr, static_cast<uint16_t>(block));
        Link.UploadRemaining -= block;
        Link.UploadPtr += block;
        if (Link.StopTransfer) {
            Link.StopTransfer = false;
            Link.UploadRemaining = 0;
            port.ArmStateTrigger(Link.OutUsedTrigger, 0, true);
        } else {
            port.ArmStateTrigger(Link.OutFreeTrigger, static_cast<uint16_t>(block), true);
        }
    } else {
        if (Link.UploadRemaining > 0)
            port.SendBytes(Link.UploadPtr, static_cast<uint16_t>(Link.UploadRemaining));
        Link.UploadRemaining = 0;
        port.ArmStateTrigger(Link.OutUsedTrigger, 0, true);
    }
    ReportUploadProgress();
}

void TFrmS_comm::ReportUploadProgress()
{
    int percent = 100;
    if (Link.UploadTotal > 0) {
        const double sent = Link.UploadTotal - Link.UploadRemaining;
        // nearbyint rounds halves to even in the default rounding mode.
        percent = static_cast<int>(std::nearbyint(sent / Link.UploadTotal * 100.0));
    }
    if (callbacks_)
        callbacks_->SetUploadProgress(percent);
}

void TFrmS_comm::ApdComPort1TriggerOutbuffUsed(serial::TApdCustomComPort &)
{
    // No upload to end: one given up has already been reported.
    if (ApdComPort1->Tag() == NoUpload)
        return;
    // Output emptied by a failed line has not drained to the device.
    if (ApdComPort1->LineFailed()) {
        LineFailure();
        return;
    }
    // The error text may have come while its delivery could not be taken (the loader blocked
    // the GUI thread); its match count still tells.
    const bool failed = ApdComPort1->Tag() == UploadFailing || FileUploadFailed();
    ApdComPort1->SetTag(NoUpload);
    if (failed) {
        if (callbacks_)
            callbacks_->SetULError();
    } else if (Link.UploadMode) {
        if (callbacks_)
            callbacks_->EnableScriptTimer();
    }
}

void TFrmS_comm::StopUpload()
{
    serial::TApdComPort &port = *ApdComPort1;
    port.SetTag(NoUpload);
    Link.UploadRemaining = 0;
    Link.StopTransfer = false;
    try {
        port.ArmStateTrigger(Link.OutFreeTrigger, 0, false);
        port.ArmStateTrigger(Link.OutUsedTrigger, 0, false);
    } catch (const std::exception &) {
        // A port that cannot even disarm delivers nothing more; the Tag check covers the rest.
    }
}

void TFrmS_comm::AbandonUpload()
{
    if (ApdComPort1->Tag() == NoUpload)
        return;
    StopUpload();
    if (Link.FileWatch)
        Link.FileFailed = true;
    try {
        ApdComPort1->DiscardOutput();
    } catch (const std::exception &) {
        // Nothing more leaves a port that cannot discard its output either.
    }
}

void TFrmS_comm::ApdComPort1TriggerLineError(serial::TApdCustomComPort &, uint16_t Error, bool)
{
    // Raised for every line-error trigger of the port, the status lights' too. Parity, framing,
    // overrun and break are not the link's business; its own trigger fires only for a line that
    // failed for good and is not re-armed then: nothing more can come until the port reopens.
    if (Error & serial::ceIoError)
        LineFailure();
}

void TFrmS_comm::LineFailure()
{
    // Reported once, by whichever event comes first.
    if (Link.LineFailed)
        return;
    Link.LineFailed = true;
    const bool transfer = ApdComPort1->Tag() != NoUpload;
    // The output that would drain has been thrown away with the line: report at once.
    if (transfer)
        StopUpload();
    if (transfer || Link.FileWatch)
        Link.FileFailed = true;
    if ((transfer || Link.FileWatch || Link.UploadMode) && callbacks_)
        callbacks_->SetULError();
}

void TFrmS_comm::ApdComPort1TriggerData(serial::TApdCustomComPort &, uint16_t TriggerHandle)
{
    serial::TApdComPort &port = *ApdComPort1;
    if (TriggerHandle == Link.ErrorTrigger) {
        if (port.Tag() == UploadRunning) {
            port.SetTag(UploadFailing);
            Link.StopTransfer = true;
            port.DiscardOutput();
        } else if (port.Tag() == UploadFailing) {
            // The failing upload reports once its output has drained; a repeated error text
            // must not end the run a second time as a script error.
        } else if (Link.FileWatch) {
            // Between a file's header and the end of its verification the text fails the file.
            if (!Link.FileFailed && callbacks_)
                callbacks_->SetULError();
            Link.FileFailed = true;
        } else if (Link.UploadMode) {
            if (callbacks_)
                callbacks_->SetScriptError();
        }
        return;
    }
    port.DiscardInput();
    Link.ReceivedText.clear();
}

void TFrmS_comm::ApdComPort1WaitChar(serial::TApdCustomComPort &, char C)
{
    Link.ReceivedText += C;
}

void TFrmS_comm::SendInitCmd(const std::string &command, std::string &reply)
{
    try {
        // A line known to have failed takes nothing and answers nothing: no 5.5 s wait for it.
        if (Link.LineFailed)
            throw std::runtime_error("the line has failed");
        {
            TWaitCursor hourglass;
            Link.ReceivedText.clear();
            ApdComPort1->SendText(command);
            // The window goes on painting and Cancel works meanwhile; the port's triggers are
            // held, so no handler runs under the wait.
            ApdComPort1->AwaitText(Link.CurrentPrompt, HandshakeTicks, true, true);
        }
        const std::string &received = Link.ReceivedText;
        if (Link.FileWatch)
            WatchReply(received);
        const std::size_t marker =
            Link.ResultMarker.empty() ? std::string::npos : received.find(Link.ResultMarker);
        if (marker != std::string::npos) {
            // The value runs from behind the marker to the line end in front of the prompt.
            // A reply too short to hold all of that gives what lies between, or nothing.
            const std::size_t valueAt =
                std::min(marker + Link.ResultMarker.size(), received.size());
            const std::size_t tail = LineEndLength + Link.CurrentPrompt.size();
            const std::size_t available = received.size() - valueAt;
            reply = received.substr(valueAt, available > tail ? available - tail : 0);
        } else if (Contains(received, Link.CurrentError)) {
            reply = "ERROR";
        } else if (Contains(received, Link.CurrentPrompt)) {
            reply = "OK";
        } else {
            reply = "ERROR";
        }
    } catch (const std::exception &) {
        // A file whose check cannot even be sent cannot have arrived intact.
        if (Link.FileWatch)
            Link.FileFailed = true;
        platform::ShowMessage(platform::MsgType::Error, "Error Accessing Comm Port !",
                              platform::MsgButtons::Ok);
        reply = "ERROR";
    }
}

void TFrmS_comm::AddDataTriggers()
{
    serial::TApdComPort &port = *ApdComPort1;
    Link.PromptTrigger =
        port.AddMatchTrigger(Link.UploadMode ? Link.ULPromptText : Link.PromptText, false);
    Link.ErrorTrigger =
        port.AddMatchTrigger(Link.UploadMode ? Link.ULErrorText : Link.ErrorText, true);
    // A watched file goes on counting with the new error trigger, which starts from nothing.
    Link.FileErrorTrigger = Link.ErrorTrigger;
    Link.FileErrorBaseline = 0;
}

void TFrmS_comm::BeginFileWatch()
{
    Link.FileWatch = true;
    Link.FileFailed = Link.LineFailed;
    Link.WatchTail.clear();
    Link.FileErrorTrigger = Link.ErrorTrigger;
    Link.FileErrorBaseline = 0;
    try {
        if (Link.ErrorTrigger != 0)
            Link.FileErrorBaseline = ApdComPort1->MatchCount(Link.ErrorTrigger);
    } catch (const std::exception &) {
        Link.FileErrorTrigger = 0; // a port that cannot count fails the file on its first send
    }
}

void TFrmS_comm::WatchReply(const std::string &received)
{
    // The error text may be split across two checks (a device that pauses inside it): the end
    // of the previous reply is looked at together with this one.
    const std::string text = Link.WatchTail + received;
    if (ContainsIgnoringCase(text, Link.CurrentError))
        Link.FileFailed = true;
    const std::size_t keep = Link.CurrentError.empty() ? 0 : Link.CurrentError.size() - 1;
    Link.WatchTail = text.substr(text.size() - std::min(keep, text.size()));
}

void TFrmS_comm::EndFileWatch()
{
    Link.FileWatch = false;
    Link.FileFailed = false;
}

bool TFrmS_comm::FileUploadFailed()
{
    // The port's report of a failed line may be held back by the step that asks (a device
    // unplugged during the upload delay): the port itself is asked too.
    try {
        if (!Link.LineFailed && ApdComPort1->LineFailed())
            LineFailure();
    } catch (const std::exception &) {
        // A port that cannot even say so has its failing sends to tell.
    }
    if (!Link.FileWatch)
        return Link.LineFailed;
    if (Link.LineFailed)
        Link.FileFailed = true;
    if (!Link.FileFailed && Link.FileErrorTrigger != 0 &&
        Link.FileErrorTrigger == Link.ErrorTrigger) {
        try {
            if (ApdComPort1->MatchCount(Link.FileErrorTrigger) != Link.FileErrorBaseline)
                Link.FileFailed = true;
        } catch (const std::exception &) {
            // The count is gone with the port; the failing sends tell the rest.
        }
    }
    return Link.FileFailed;
}

void TFrmS_comm::DataTriggerEnabled(bool on)
{
    if (on) {
        // Already armed (a run armed them while the terminal had the line): adding them again
        // would lose the pair in use, and with it a match not yet delivered.
        if (Link.PromptTrigger == 0 || Link.ErrorTrigger == 0) {
            DropOwnTrigger(Link.PromptTrigger);
            DropOwnTrigger(Link.ErrorTrigger);
            AddDataTriggers();
        }
        return;
    }
    DropOwnTrigger(Link.PromptTrigger);
    DropOwnTrigger(Link.ErrorTrigger);
}

void TFrmS_comm::SetUploadMode(bool on)
{
    Link.UploadMode = on;
    if (ApdComPort1->Open()) {
        DropOwnTrigger(Link.PromptTrigger);
        DropOwnTrigger(Link.ErrorTrigger);
        AddDataTriggers();
    }
    Link.CurrentPrompt = on ? Link.ULPromptText : Link.PromptText;
    Link.CurrentError = on ? Link.ULErrorText : Link.ErrorText;
}

bool TFrmS_comm::SCommOpen() const
{
    return ApdComPort1->Open();
}

void TFrmS_comm::FlushAll()
{
    ApdComPort1->DiscardInput();
    ApdComPort1->DiscardOutput();
}

void TFrmS_comm::FlushInput()
{
    ApdComPort1->DiscardInput();
}

bool TFrmS_comm::GetBuffer(void *buffer, uint16_t length)
{
    try {
        if (ApdComPort1->InputCount() < length)
            QThread::msleep(100);
        ApdComPort1->ReadBytes(buffer, length);
        return ApdComPort1->PendingLineError() == 0;
    } catch (const std::exception &) {
        return false;
    }
}

char TFrmS_comm::PreviewChar(uint16_t index)
{
    try {
        if (ApdComPort1->InputCount() < index)
            QThread::msleep(10);
        return ApdComPort1->PeekByte(index);
    } catch (const std::exception &) {
        return 0;
    }
}

} // namespace loader
