// The link services of the settings dialog: sending, the command handshake, the paced upload of
// a file buffer, the switching of the device's reply texts, and the port's event handlers that
// report back to the loader.

#include "link/FrmS_comm.h"

#include "link/LoaderCallbacks.h"
#include "link/WaitCursor.h"

#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <exception>

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
    if (ApdComPort1->Tag() == UploadFailing) {
        if (callbacks_)
            callbacks_->SetULError();
    } else if (Link.UploadMode) {
        if (callbacks_)
            callbacks_->EnableScriptTimer();
    }
    ApdComPort1->SetTag(NoUpload);
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
        {
            TWaitCursor hourglass;
            Link.ReceivedText.clear();
            ApdComPort1->SendText(command);
            ApdComPort1->AwaitText(Link.CurrentPrompt, HandshakeTicks, false, true);
        }
        const std::string &received = Link.ReceivedText;
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
}

void TFrmS_comm::DataTriggerEnabled(bool on)
{
    if (on) {
        AddDataTriggers();
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
