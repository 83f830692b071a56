// The link services: the port's set-up and opening, sending, the command handshake, the paced
// upload of a file buffer, the switching of the device's reply texts, and the port's event
// handlers that report back to the loader.

#include "link/LinkServices.h"

#include "link/LoaderCallbacks.h"
#include "link/WaitCursor.h"

#include "platform/MessageBox.h"
#include "serial/ApdExcept.h"
#include "serial/DeviceRoutines.h"
#include "serial/Dispatcher.h"
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

platform::MsgResult ShowThrough(const TMessageSink &sink, platform::MsgType type,
                                const std::string &text, platform::MsgButtons buttons)
{
    return sink ? sink(type, text, buttons) : platform::ShowMessage(type, text, buttons);
}

TLinkServices::TLinkServices(TLoaderCallbacks *callbacks)
    : ApdComPort1(std::make_unique<serial::TApdComPort>()), callbacks_(callbacks)
{
    ApplyStoredPortSettings();
}

TLinkServices::~TLinkServices()
{
    // The port closes here; it must not call back into services that are going away. The pump
    // leaves first (a batch it is queueing is waited for); the hooks leave newest first, and
    // whatever others hooked on top of them stays in place.
    ApdComPort1->RemoveDispatchProcedure(&TLinkServices::PumpProcedure,
                                         reinterpret_cast<uintptr_t>(this));
    waitCharHook_.Unlink();
    lineErrorHook_.Unlink();
    outUsedHook_.Unlink();
    outFreeHook_.Unlink();
    dataHook_.Unlink();
    ApdComPort1.reset();
}

platform::MsgResult TLinkServices::Show(const std::string &text)
{
    return ShowThrough(Boxes, platform::MsgType::Error, text, platform::MsgButtons::Ok);
}

void TLinkServices::ApplyStoredPortSettings()
{
    serial::TApdComPort &port = *ApdComPort1;
    port.BeginLoading();
    port.SetComNumber(1);
    port.SetOutSize(16384);
    port.SetAutoOpen(false);
    port.SetHWFlowOptions({serial::hwfUseRTS, serial::hwfRequireCTS});
    port.SetBufferFull(3686);
    port.SetBufferResume(409);
    port.SetTraceName("COM.TRC");
    port.SetLogSize(20000);
    port.SetLogName("COM.LOG");
    // Hooked once, for the link's life: a reopen does not touch them, so a component that hooked
    // the same events later (the status lights) keeps its place.
    dataHook_.Install(port.OnTriggerData, [this](serial::TApdCustomComPort &cp, uint16_t handle) {
        ApdComPort1TriggerData(cp, handle);
    });
    outFreeHook_.Install(port.OnTriggerOutbuffFree, [this](serial::TApdCustomComPort &cp) {
        ApdComPort1TriggerOutbuffFree(cp);
    });
    outUsedHook_.Install(port.OnTriggerOutbuffUsed, [this](serial::TApdCustomComPort &cp) {
        ApdComPort1TriggerOutbuffUsed(cp);
    });
    lineErrorHook_.Install(port.OnTriggerLineError,
                           [this](serial::TApdCustomComPort &cp, uint16_t error, bool lineBreak) {
                               ApdComPort1TriggerLineError(cp, error, lineBreak);
                           });
    waitCharHook_.Install(port.OnWaitChar, [this](serial::TApdCustomComPort &cp, char c) {
        ApdComPort1WaitChar(cp, c);
    });
    port.EndLoading();
}

void TLinkServices::ApplySettings()
{
    serial::TApdComPort &port = *ApdComPort1;
    port.SetBaud(Link.CfgBaud);
    port.SetComNumber(Link.CfgComNumber);
    port.SetDeviceName(Link.CfgDeviceName);
    port.SetDataBits(Link.CfgDataBits);
    port.SetParity(static_cast<serial::TParity>(Link.CfgParity));
    port.SetStopBits(Link.CfgStopBits);
    port.SetOutSize(Link.CfgBufferSize);
}

void TLinkServices::OpenAndArm()
{
    // Handles from an earlier arming are stale now; one that fails to arm must not keep one.
    Link.PromptTrigger = Link.ErrorTrigger = Link.OutFreeTrigger = Link.OutUsedTrigger = 0;
    Link.LineErrorTrigger = 0;
    Link.LineFailed = false;
    try {
        serial::TApdComPort &port = *ApdComPort1;
        port.SetOpen(true);
        Link.PromptTrigger = port.AddMatchTrigger(Link.PromptText, false);
        Link.ErrorTrigger = port.AddMatchTrigger(Link.ErrorText, true);
        Link.OutFreeTrigger = port.AddStateTrigger(serial::StatusOutFree);
        Link.OutUsedTrigger = port.AddStateTrigger(serial::StatusOutUsed);
        Link.LineErrorTrigger = port.AddStateTrigger(serial::StatusLineError);
        port.ArmStateTrigger(Link.LineErrorTrigger, LineFailureOnly, true);
        InstallPump();
        if (callbacks_)
            callbacks_->SetComBtnState(true);
    } catch (const std::exception &) {
        if (callbacks_)
            callbacks_->SetComBtnState(false);
        Show("Error Opening Selected Comm Port !");
    }
}

void TLinkServices::Reopen()
{
    serial::TApdComPort &port = *ApdComPort1;
    if (port.Open()) {
        // Dropped before closing, so the port does not keep them for its next open.
        DropOwnTrigger(Link.OutFreeTrigger);
        DropOwnTrigger(Link.OutUsedTrigger);
        DropOwnTrigger(Link.PromptTrigger);
        DropOwnTrigger(Link.ErrorTrigger);
        DropOwnTrigger(Link.LineErrorTrigger);
        port.SetOpen(false);
    }
    ApplySettings();
    OpenAndArm();
}

void TLinkServices::CloseLink()
{
    const auto showing = [this](const std::function<void()> &action) {
        try {
            action();
        } catch (const std::exception &e) {
            ShowThrough(Boxes, platform::MsgType::Error, e.what(), platform::MsgButtons::Ok);
        }
    };
    showing([this] { SetUploadMode(false); });
    showing([this] {
        if (SCommOpen())
            ApdComPort1->SetOpen(false);
    });
}

void TLinkServices::DropOwnTrigger(uint16_t &handle)
{
    if (handle != 0)
        ApdComPort1->DropTrigger(handle);
    handle = 0;
}

void TLinkServices::SendDataByte(char c)
{
    while (ApdComPort1->OutputRoom() < SendMargin)
        QThread::msleep(5);
    ApdComPort1->SendByte(c);
}

void TLinkServices::SendDataString(const std::string &text)
{
    for (int round = 0;
         round < SendStringRounds && ApdComPort1->OutputRoom() < text.size() + SendMargin; ++round)
        QCoreApplication::processEvents();
    ApdComPort1->SendText(text);
}

bool TLinkServices::SendBlock(const void *buffer, uint32_t length)
{
    if (length >= ApdComPort1->OutputRoom())
        return false;
    ApdComPort1->SendBytes(buffer, static_cast<uint16_t>(length));
    return true;
}

void TLinkServices::SendBuffer(const void *buffer, int32_t length)
{
    {
        const std::lock_guard lock(pumpMutex_);
        Link.UploadPtr = static_cast<const uint8_t *>(buffer);
        Link.UploadTotal = std::max<int32_t>(length, 0);
        Link.UploadRemaining = Link.UploadTotal;
        // A block must fit the output buffer, or the output-free trigger could never fire; a
        // block of nothing would never move the cursor.
        const uint16_t outSize = std::max<uint16_t>(ApdComPort1->OutSize(), 1);
        Link.UploadBlockSize = std::clamp<uint16_t>(Link.CfgBlockSize, 1, outSize);
        // Armed again for all but one block of the buffer: the output thread still has that
        // block, and the driver what it holds, while the next event comes.
        pumpBatch_ = static_cast<uint16_t>(std::max(outSize / Link.UploadBlockSize - 1, 1) *
                                           Link.UploadBlockSize);
        // The pump's own copies: a reopen may replace the handles in Link meanwhile.
        pumpOutFree_ = Link.OutFreeTrigger;
        pumpOutUsed_ = Link.OutUsedTrigger;
        pumpActive_ = Link.UploadTotal > 0;
    }
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
        StopUpload();
        throw;
    }
}

void TLinkServices::InstallPump()
{
    const auto self = reinterpret_cast<uintptr_t>(this);
    // Once per open port, newest of its handlers: it sees the output-free event before the
    // component's window does.
    ApdComPort1->RemoveDispatchProcedure(&TLinkServices::PumpProcedure, self);
    ApdComPort1->AddDispatchProcedure(&TLinkServices::PumpProcedure, self);
}

void TLinkServices::PumpProcedure(uintptr_t self, unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg != serial::MsgTriggerStatus)
        return;
    auto &link = *reinterpret_cast<TLinkServices *>(self);
    const int slot = static_cast<int>(static_cast<uint32_t>(lParam) >> 16);
    const std::lock_guard lock(link.pumpMutex_);
    // Not a running upload's event, or a line that has failed (reported by the GUI thread's
    // handler, which gets the event instead).
    if (!link.pumpActive_ || wParam != link.pumpOutFree_ || serial::LineFailure(slot) != 0)
        return;
    // A port operation that fails leaves the event to the GUI thread too: its pump meets the
    // same failure there and shows it.
    if (link.PumpBlocks(slot) >= 0)
        serial::ConsumeMessage(slot);
}

void TLinkServices::ApdComPort1TriggerOutbuffFree(serial::TApdCustomComPort &)
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
    const std::lock_guard lock(pumpMutex_);
    if (pumpActive_)
        serial::RaiseOnError(&port, PumpBlocks(port.PortSlot()));
}

// The block pump. Each block is queued only when the output buffer has room for it, in order,
// with the gauge moved after each, exactly as if one output-free event came per block. But one
// event queues every block that fits, and the trigger is armed again only for a batch of blocks
// (the buffer less one block): the pump then runs once per batch instead of once per block,
// which is what a fast line with small blocks needs, and the wire sees the same bytes.
int TLinkServices::PumpBlocks(int slot)
{
    // The output thread takes the blocks of this event in one write, not racing the pump for
    // each of them.
    struct Deferral {
        int slot;
        explicit Deferral(int s) : slot(s) { serial::DeferOutput(slot, true); }
        ~Deferral() { serial::DeferOutput(slot, false); }
        Deferral(const Deferral &) = delete;
        Deferral &operator=(const Deferral &) = delete;
    } deferral(slot);
    const int32_t block = Link.UploadBlockSize;
    // Only the output thread changes the room meanwhile, and it only makes more: counting down
    // from this figure never queues a block that does not fit. The ring's own room is what a
    // block needs, so the device is not asked for its status once per batch.
    int32_t room = serial::OutputRingRoom(slot);
    if (room < 0)
        return room;
    // The last of the upload: nothing more to pump; the drained output ends it.
    const auto finish = [&] {
        Link.UploadRemaining = 0;
        pumpActive_ = false;
        const int result = serial::ArmStateTrigger(slot, pumpOutUsed_, 0, true);
        ReportUploadProgress();
        return result;
    };
    for (;;) {
        if (block >= Link.UploadRemaining) {
            if (Link.UploadRemaining > 0) {
                const int sent = serial::SendBytes(slot, Link.UploadPtr,
                                                   static_cast<uint16_t>(Link.UploadRemaining));
                if (sent < 0)
                    return sent;
            }
            return finish();
        }
        if (const int sent = serial::SendBytes(slot, Link.UploadPtr, static_cast<uint16_t>(block));
            sent < 0)
            return sent;
        Link.UploadRemaining -= block;
        Link.UploadPtr += block;
        room -= block;
        if (Link.StopTransfer) {
            Link.StopTransfer = false;
            return finish();
        }
        ReportUploadProgress();
        if (room < block)
            return serial::ArmStateTrigger(slot, pumpOutFree_, pumpBatch_, true);
    }
}

void TLinkServices::ReportUploadProgress()
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

void TLinkServices::ApdComPort1TriggerOutbuffUsed(serial::TApdCustomComPort &)
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

void TLinkServices::StopUpload()
{
    serial::TApdComPort &port = *ApdComPort1;
    port.SetTag(NoUpload);
    {
        // Waits for a batch the pump is queueing; after this it never reads the buffer again.
        const std::lock_guard lock(pumpMutex_);
        pumpActive_ = false;
        Link.UploadRemaining = 0;
    }
    Link.StopTransfer = false;
    try {
        port.ArmStateTrigger(Link.OutFreeTrigger, 0, false);
        port.ArmStateTrigger(Link.OutUsedTrigger, 0, false);
    } catch (const std::exception &) {
        // A port that cannot even disarm delivers nothing more; the Tag check covers the rest.
    }
}

void TLinkServices::AbandonUpload()
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

void TLinkServices::ApdComPort1TriggerLineError(serial::TApdCustomComPort &, uint16_t Error, bool)
{
    // Raised for every line-error trigger of the port, the status lights' too. Parity, framing,
    // overrun and break are not the link's business; its own trigger fires only for a line that
    // failed for good and is not re-armed then: nothing more can come until the port reopens.
    if (Error & serial::ceIoError)
        LineFailure();
}

void TLinkServices::LineFailure()
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

void TLinkServices::ApdComPort1TriggerData(serial::TApdCustomComPort &, uint16_t TriggerHandle)
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

void TLinkServices::ApdComPort1WaitChar(serial::TApdCustomComPort &, char C)
{
    Link.ReceivedText += C;
}

void TLinkServices::SendInitCmd(const std::string &command, std::string &reply)
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
        Show("Error Accessing Comm Port !");
        reply = "ERROR";
    }
}

void TLinkServices::AddDataTriggers()
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

void TLinkServices::BeginFileWatch()
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

void TLinkServices::WatchReply(const std::string &received)
{
    // The error text may be split across two checks (a device that pauses inside it): the end
    // of the previous reply is looked at together with this one.
    const std::string text = Link.WatchTail + received;
    if (ContainsIgnoringCase(text, Link.CurrentError))
        Link.FileFailed = true;
    const std::size_t keep = Link.CurrentError.empty() ? 0 : Link.CurrentError.size() - 1;
    Link.WatchTail = text.substr(text.size() - std::min(keep, text.size()));
}

void TLinkServices::EndFileWatch()
{
    Link.FileWatch = false;
    Link.FileFailed = false;
}

bool TLinkServices::FileUploadFailed()
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

void TLinkServices::DataTriggerEnabled(bool on)
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

void TLinkServices::SetUploadMode(bool on)
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

bool TLinkServices::SCommOpen() const
{
    return ApdComPort1->Open();
}

void TLinkServices::FlushAll()
{
    ApdComPort1->DiscardInput();
    ApdComPort1->DiscardOutput();
}

void TLinkServices::FlushInput()
{
    ApdComPort1->DiscardInput();
}

bool TLinkServices::GetBuffer(void *buffer, uint16_t length)
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

char TLinkServices::PreviewChar(uint16_t index)
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
