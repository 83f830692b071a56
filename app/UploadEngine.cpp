// The upload engine: starting a run, the timer step, the upload of one flash file behind its
// header, the check that the device still answers afterwards, and the ways a run ends. Everything
// runs on the GUI thread. A step stops ScriptTimer first and is restarted by itself or, after a
// transfer, by the link services once the output has drained.
//
// A step's waits (the upload delay, the post delay, the pause before the second check, the
// command handshake) run the event loop, so the window repaints and Cancel works. The step holds
// the port's trigger deliveries for as long as it runs: no trigger handler runs inside it (only
// inside the message boxes it shows, as ever), nothing held is lost, and the matches that arrive
// meanwhile still count towards the file's verdict.

#include "app/UploadEngine.h"

#include "app/ScriptStep.h"
#include "app/ScriptText.h"
#include "app/UploadHeader.h"
#include "app/WholeFile.h"
#include "platform/FileDate.h"
#include "platform/MessageBox.h"
#include "serial/ApdComPort.h"
#include "serial/GuiMessageTarget.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace loader
{
namespace
{

using platform::MsgButtons;
using platform::MsgResult;
using platform::MsgType;

constexpr int ScriptTickMs = 10;
// A lone carriage return: the device answers it with its prompt when it is ready.
constexpr const char *ReadyCheck = "\r";
constexpr int32_t SecondCheckPauseMs = 2000;
// The transfer counts bytes in a signed 32-bit number, so a bigger file cannot be sent whole.
constexpr std::size_t MaxFileLength = INT32_MAX;

// What the boxes about a flash file add at the end of their text: that no file was named, the
// name in quotes where blanks at its ends would not show, and the system's reason unless
// `reasonApart` (a run without a screen prints it on a line of its own after the box).
std::string FileErrorNote(const std::string &file, const std::string &reason, bool reasonApart)
{
    if (file.empty())
        return "\rNo flash file was named: no _LF line comes before this _LD.";
    std::string note;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (blank(file.front()) || blank(file.back()))
        note += "\rThe name in quotes: \"" + file + "\"";
    if (!reasonApart)
        note += "\r" + reason;
    return note;
}

// Marks a step as under way for as long as it runs, also when it ends by an exception.
class StepGuard
{
  public:
    explicit StepGuard(bool &flag) : flag_(flag) { flag_ = true; }
    ~StepGuard() { flag_ = false; }
    StepGuard(const StepGuard &) = delete;
    StepGuard &operator=(const StepGuard &) = delete;

  private:
    bool &flag_;
};

// Ends the step's hold on the port's deliveries however the step ends.
class TriggerRelease
{
  public:
    explicit TriggerRelease(TUploadEngine &engine) : engine_(engine) {}
    ~TriggerRelease() { engine_.ReleaseTriggers(); }
    TriggerRelease(const TriggerRelease &) = delete;
    TriggerRelease &operator=(const TriggerRelease &) = delete;

  private:
    TUploadEngine &engine_;
};

} // namespace

TUploadEngine::TUploadEngine(TLinkServices *link, QObject *parent)
    : QObject(parent), ScriptTimer(new QTimer(this)), link_(link)
{
    mailbox_ = std::make_unique<serial::TGuiMessageTarget>(
        [this](unsigned, uintptr_t, intptr_t) { ShowHandedOver(); });
    ScriptTimer->setObjectName(QStringLiteral("ScriptTimer"));
    ScriptTimer->setInterval(ScriptTickMs);
    connect(ScriptTimer, &QTimer::timeout, this, &TUploadEngine::ScriptTimerTimer);
}

TUploadEngine::~TUploadEngine()
{
    ScriptTimer->stop();
}

void TUploadEngine::SetView(TUploadView *view)
{
    view_ = view ? view : &defaultView_;
}

TLinkServices &TUploadEngine::Comm() const
{
    if (!link_)
        throw std::runtime_error("Com port not available");
    return *link_;
}

MsgResult TUploadEngine::Show(MsgType type, const std::string &text, MsgButtons buttons)
{
    return ShowThrough(Boxes, type, text, buttons);
}

// ---- Waits inside a step ----

bool TUploadEngine::StepStopped() const
{
    return closed_ || !running_ || ScriptState == UploadCancelled;
}

bool TUploadEngine::LeaveIfStopped()
{
    if (!StepStopped())
        return false;
    // A cancelled run ends at the next tick, with the box that says so.
    if (running_ && !closed_)
        ScriptTimer->start();
    return true;
}

bool TUploadEngine::Wait(int32_t milliseconds)
{
    if (StepStopped())
        return false;
    if (milliseconds <= 0)
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer could stretch a 30 s pause by 1.5 s
    bool expired = false;
    connect(&timer, &QTimer::timeout, &loop, [&] {
        expired = true;
        loop.quit();
    });
    waitLoop_ = &loop;
    timer.start(milliseconds);
    // The loop also ends when the program is told to quit (a second interrupt in batch mode).
    loop.exec();
    waitLoop_ = nullptr;
    return expired && !StepStopped();
}

void TUploadEngine::HoldTriggers()
{
    if (stepHold_ || closed_ || !link_ || !link_->SCommOpen())
        return;
    stepHold_ = std::make_unique<serial::TDeliveryHold>(*link_->ApdComPort1);
}

void TUploadEngine::ReleaseTriggers()
{
    stepHold_.reset();
}

MsgResult TUploadEngine::Ask(MsgType type, const std::string &text, MsgButtons buttons)
{
    // While a box is up the port's handlers run, as they always have under a box.
    ReleaseTriggers();
    const MsgResult answer = Show(type, text, buttons);
    if (running_)
        HoldTriggers();
    return answer;
}

// ---- The link services' reports ----

// Reports of device errors that arrive while no run is under way have no run to end: upload mode
// stays on after a run, so the device's error text may still come in. They are dropped.
void TUploadEngine::SetScriptError()
{
    if (!running_)
        return;
    ScriptState = ScriptFailed;
    ScriptTimer->start();
}

// Both of the next two come when a transfer's output has drained (EnableScriptTimer only then).
void TUploadEngine::SetULError()
{
    transferActive_ = false;
    if (!running_)
        return;
    ScriptState = UploadFailed;
    ScriptTimer->start();
}

void TUploadEngine::EnableScriptTimer()
{
    transferActive_ = false;
    if (running_)
        ScriptTimer->start();
}

void TUploadEngine::SetComBtnState(bool enabled)
{
    view_->ShowPortOpen(enabled);
}

void TUploadEngine::SetUploadProgress(int percent)
{
    if (std::this_thread::get_id() != ownThread_) {
        {
            const std::lock_guard lock(handoverMutex_);
            if (percent == lastFigure_)
                return;
            lastFigure_ = percent;
            handedOver_.push_back(percent);
            if (handedOver_.size() > 1)
                return;
        }
        // Posted without waiting for it: the pump goes on queueing blocks.
        mailbox_->PostMessage(0, 0, 0);
        return;
    }
    {
        const std::lock_guard lock(handoverMutex_);
        handedOver_.clear();
        lastFigure_ = percent;
    }
    ShowUploadProgressNow(percent);
}

void TUploadEngine::ShowHandedOver()
{
    std::vector<int> figures;
    {
        const std::lock_guard lock(handoverMutex_);
        figures.swap(handedOver_);
    }
    for (const int figure : figures)
        ShowUploadProgressNow(figure);
}

void TUploadEngine::ShowUploadProgressNow(int percent)
{
    uploadProgress_ = std::clamp(percent, 0, 100);
    view_->ShowUploadProgress(uploadProgress_);
    if (OnUploadProgress)
        OnUploadProgress(uploadProgress_);
}

void TUploadEngine::SetScriptProgress(int percent)
{
    scriptProgress_ = std::clamp(percent, 0, 100);
    view_->ShowScriptProgress(scriptProgress_);
    if (OnScriptProgress)
        OnScriptProgress(scriptProgress_);
}

void TUploadEngine::SetUploadCaption(const std::string &caption)
{
    view_->ShowUploadCaption(caption);
    if (OnUploadCaption)
        OnUploadCaption(caption);
}

// ---- Starting a run ----

void TUploadEngine::PrepareRun(const std::string &logFile)
{
    OpenUploadLog(logFile);
    TLinkServices &comm = Comm();
    comm.SetUploadMode(true);
    comm.Link.StopTransfer = false;
}

void TUploadEngine::StartRun(const std::string &scriptFileName, const std::string &logFile)
{
    if (running_ || closed_)
        return;
    try {
        PrepareRun(logFile);
        ProcessScript(scriptFileName);
    } catch (const std::exception &e) {
        Show(MsgType::Error, e.what(), MsgButtons::Ok);
    }
}

// The log's time stamp is the moment the run was started.
void TUploadEngine::OpenUploadLog(const std::string &logFile)
{
    LogOpen = UploadLog.Open(logFile, platform::CurrentTimeText());
    if (!LogOpen)
        ReportLogFailure();
}

// The run goes on without a log, as the operator chooses: the box says that the file on disk is
// not this run's whole record.
void TUploadEngine::ReportLogFailure()
{
    Ask(MsgType::Error, UploadLog.FailureText(), MsgButtons::Ok);
}

void TUploadEngine::ProcessScript(const std::string &fileName)
{
    ScriptFileName = fileName;
    ScriptFile script = ReadScriptFile(fileName);
    if (script.status == ScriptStatus::Refused) {
        Show(MsgType::Error, ScriptRefusedMessage(fileName, script.reason), MsgButtons::Ok);
        return;
    }
    if (script.status != ScriptStatus::Ok) {
        Show(MsgType::Error, "Script file \"" + fileName + "\" not found !", MsgButtons::Ok);
        if (OnFileUnreadable)
            OnFileUnreadable(fileName, script.reason);
        return;
    }
    ScriptLines = std::move(script.lines);

    view_->ShowLamp(true);
    view_->ShowIdle(false);

    LineIndex = 0;
    LineCount = static_cast<int32_t>(std::min<std::size_t>(ScriptLines.size(), INT32_MAX));
    SetScriptProgress(0);
    view_->ShowProgressGroup(true);

    ScriptState = NextLine;
    flashFileMissing_ = false;
    running_ = true;
    ScriptTimer->start();
}

// ---- The timer step ----

void TUploadEngine::ScriptTimerTimer()
{
    // A tick that falls while a step waits for the device is left for later: the timer keeps
    // running and the engine goes on once the running step has returned.
    if (stepRunning_)
        return;
    ScriptTimer->stop();
    // Nothing may touch UploadBuffer while the link services still send from it: a tick that
    // something else asked for during a transfer waits for the drain, which restarts the timer.
    if (!running_ || closed_ || transferActive_)
        return;

    StepGuard guard(stepRunning_);
    // Deliveries already handed over run first; their reports decide this step.
    HoldTriggers();
    const TriggerRelease release(*this);
    try {
        switch (ScriptState) {
        case NextLine:
            ProcessScriptLine();
            ScriptTimer->start();
            break;
        case Delaying:
            if (--DelayTicks <= 0)
                ScriptState = NextLine;
            ScriptTimer->start();
            break;
        case LoadPending:
            ScriptState = Transferring;
            UploadFile(LoadFileName, LoadAddress, LoadVersion);
            break;
        case Transferring:
            ScriptState = NextLine;
            UploadFinish();
            break;
        case UploadFailed:
        case UploadCancelled:
            UploadError();
            break;
        case ScriptFailed:
            ScriptError();
            break;
        default:
            ScriptEnd();
            break;
        }
    } catch (const std::exception &e) {
        // The port failed under a step (closed, or its output would not take the data). Left
        // alone the run would hang with the timer off; it ends as an upload error instead, which
        // asks the operator to reset the device.
        ReleaseTriggers();
        if (closed_)
            return;
        Show(MsgType::Error, e.what(), MsgButtons::Ok);
        if (running_) {
            ScriptState = UploadFailed;
            ScriptTimer->start();
        }
    }
}

void TUploadEngine::ProcessScriptLine()
{
    const ScriptStep step = NextScriptStep(ScriptLines, LineIndex, ScriptFileName);
    switch (step.action) {
    case ScriptAction::Done:
        ScriptState = ScriptDone;
        return;
    case ScriptAction::Ignore:
        break;
    case ScriptAction::Delay:
        DelayTicks = step.value;
        ScriptState = Delaying;
        break;
    case ScriptAction::PostDelay:
        PostDelayMs = step.value;
        break;
    case ScriptAction::SetLoadFile:
        LoadFileName = step.text;
        break;
    case ScriptAction::SetLoadAddress:
        LoadAddress = step.text;
        break;
    case ScriptAction::SetLoadVersion:
        LoadVersion = step.text;
        break;
    case ScriptAction::ShowMessage:
        Ask(MsgType::Information, step.text, MsgButtons::Ok);
        break;
    case ScriptAction::TestCommand: {
        std::string reply;
        view_->PaintNow();
        Comm().SendInitCmd(step.text, reply);
        // Cancelled while waiting for the reply: the run ends, not with a script error.
        if (LeaveIfStopped())
            return;
        if (reply == "ERROR")
            ScriptState = ScriptFailed;
        break;
    }
    case ScriptAction::SendCommand:
        Comm().SendDataString(step.text);
        break;
    case ScriptAction::Load:
        ScriptState = LoadPending;
        break;
    case ScriptAction::DelayValueError:
    case ScriptAction::PostDelayValueError:
        if (Ask(MsgType::Error, step.text, MsgButtons::AbortIgnore) == MsgResult::Abort) {
            ScriptState = ScriptFailed;
            return;
        }
        if (step.action == ScriptAction::PostDelayValueError)
            PostDelayMs = 0;
        break;
    }
    ++LineIndex;
    SetScriptProgress(ScriptGaugePercent(LineIndex, LineCount));
}

// ---- One file ----

void TUploadEngine::UploadFile(const std::string &file, const std::string &address,
                               const std::string &version)
{
    WholeFile content = ReadWholeFile(file, MaxFileLength);
    if (content.status == ReadStatus::NotOpened) {
        const MsgResult answer =
            Ask(MsgType::Error,
                "Script file error - File not found!\rFile Name: " + file +
                    "\rLine Number: " + std::to_string(LineIndex) +
                    FileErrorNote(file, content.reason, bool(OnFileUnreadable)),
                MsgButtons::AbortIgnore);
        ReportUnreadable(file, content.reason);
        // The script error that follows an Abort would otherwise blame the device.
        flashFileMissing_ = answer == MsgResult::Abort;
        if (answer == MsgResult::Abort)
            ScriptState = ScriptFailed;
        ScriptTimer->start();
        return;
    }
    if (content.status != ReadStatus::Ok) {
        Ask(MsgType::Error,
            "Insufficient Memory Resources - Script Terminated !\rFile Name: " + file +
                FileErrorNote(file, content.reason, bool(OnFileUnreadable)),
            MsgButtons::Ok);
        ReportUnreadable(file, content.reason);
        // The run takes no further step; the window goes back to idle so the operator can try
        // again, with the lamp red for the failed run.
        view_->ShowLamp(false);
        ScriptEnd();
        return;
    }
    UploadBuffer = std::move(content.data);

    const auto length = static_cast<uint32_t>(UploadBuffer.size());
    const std::string checksum = ChecksumText(FileChecksum(UploadBuffer));
    const std::string dateText = platform::FileDateText(file, version);

    SetUploadCaption(file);
    TLinkServices &comm = Comm();
    // From the header on, the device's upload error text fails this file, whenever it comes.
    comm.BeginFileWatch();
    comm.SendDataString(UploadHeader(address, length, checksum, VersionField(version, dateText)));

    bool logFailed = false;
    if (LogOpen) {
        UploadLog.WriteEntry({file, length, checksum, version, dateText, address});
        LogOpen = UploadLog.IsOpen();
        logFailed = !LogOpen;
    }

    TerminalHold(true);
    view_->PaintNow();
    if (!Wait(UploadDelayMs)) {
        LeaveIfStopped();
        return;
    }
    // A device that has already refused the file gets no body.
    if (FileFailed())
        return;
    // Marked first: the drain may be reported before SendBuffer returns.
    transferActive_ = true;
    try {
        comm.SendBuffer(UploadBuffer.data(), static_cast<int32_t>(length));
    } catch (...) {
        transferActive_ = false;
        throw;
    }
    // Told once the body is on its way: the device is not kept waiting for it by the box.
    if (logFailed)
        ReportLogFailure();
}

// Where no file was named, the box has said so and there is no reason to report.
void TUploadEngine::ReportUnreadable(const std::string &file, const std::string &reason)
{
    if (OnFileUnreadable && !file.empty())
        OnFileUnreadable(file, reason);
}

// The device's upload error text (or a failed line) since the file's header fails the file with
// the upload error. Its report may have been lost while a pause or a wait held the GUI thread,
// so the engine asks at every stage instead of relying on it.
bool TUploadEngine::FileFailed()
{
    if (!Comm().FileUploadFailed())
        return false;
    ScriptState = UploadFailed;
    ScriptTimer->start();
    return true;
}

void TUploadEngine::UploadFinish()
{
    if (FileFailed())
        return;
    SetUploadCaption(VerifyingCaption);
    SetUploadProgress(50);
    view_->PaintNow();
    if (!Wait(PostDelayMs)) {
        LeaveIfStopped();
        return;
    }
    if (FileFailed())
        return;

    TLinkServices &comm = Comm();
    std::string reply;
    comm.SendInitCmd(ReadyCheck, reply);
    if (LeaveIfStopped() || FileFailed())
        return;
    if (reply != "OK") {
        SetUploadProgress(70);
        view_->PaintNow();
        if (!Wait(SecondCheckPauseMs)) {
            LeaveIfStopped();
            return;
        }
        if (FileFailed())
            return;
        comm.SendInitCmd(ReadyCheck, reply);
        if (LeaveIfStopped() || FileFailed())
            return;
    }
    if (reply != "OK") {
        SetUploadProgress(90);
        view_->PaintNow();
        Ask(MsgType::Error,
            "Communication test failed. Upload of " + LoadFileName +
                " may have failed!\rScript Line: " + std::to_string(LineIndex),
            MsgButtons::Ok);
        ScriptState = UploadFailed;
        ScriptTimer->start();
        return;
    }

    comm.EndFileWatch();
    TerminalHold(false);
    ReleaseUploadBuffer();
    SetUploadCaption(IdleCaption);
    SetUploadProgress(0);
    ScriptState = NextLine;
    ScriptTimer->start();
}

void TUploadEngine::TerminalHold(bool hold)
{
    view_->HoldTerminal(hold);
}

void TUploadEngine::ReleaseUploadBuffer()
{
    std::string().swap(UploadBuffer);
}

// ---- The ends of a run ----

void TUploadEngine::UploadError()
{
    view_->ShowLamp(false);
    SetUploadCaption(IdleCaption);
    SetUploadProgress(0);
    ReleaseUploadBuffer();
    Ask(MsgType::Error,
        "Upload error encountered, script aborted! Reset remote system.\rFile: " + LoadFileName,
        MsgButtons::Ok);
    TerminalHold(false);
    view_->ShowProgressGroup(false);
    view_->ShowIdle(true);
    EndRun();
}

void TUploadEngine::ScriptError()
{
    view_->ShowLamp(false);
    const MsgResult answer =
        Ask(MsgType::Error,
            "Script error encountered! - System not responding or command error.\rFile Name: " +
                ScriptFileName + "\rLine Number: " + std::to_string(LineIndex) +
                (std::exchange(flashFileMissing_, false)
                     ? "\rCause: the flash file of this line could not be opened."
                     : ""),
            MsgButtons::AbortIgnore);
    if (answer == MsgResult::Abort) {
        ScriptEnd();
        return;
    }
    ScriptState = NextLine;
    ScriptTimer->start();
}

void TUploadEngine::ScriptEnd()
{
    view_->ShowProgressGroup(false);
    view_->ShowIdle(true);
    EndRun();
}

void TUploadEngine::EndRun()
{
    ScriptTimer->stop();
    running_ = false;
    if (link_)
        link_->EndFileWatch();
    // Every run switches the link's prompt and error handling on.
    view_->RunFinished();
    if (OnRunEnded)
        OnRunEnded();
}

// ---- Cancel ----

void TUploadEngine::CancelRun()
{
    // The run may have ended while the question was shown; then there is nothing to stop.
    if (!running_)
        return;
    ScriptState = UploadCancelled;
    if (waitLoop_)
        waitLoop_->quit();
    if (link_) {
        link_->Link.StopTransfer = true;
        link_->ApdComPort1->CancelWait();
    }
}

void TUploadEngine::AbandonTransfer()
{
    if (!running_ || !transferActive_)
        return;
    if (link_)
        link_->AbandonUpload();
    transferActive_ = false;
    ScriptTimer->start();
}

void TUploadEngine::Close()
{
    if (closed_)
        return;
    // First of all: no step may start once anything it uses goes away.
    closed_ = true;
    ScriptTimer->stop();
    // A step waiting on the event loop goes on at once and sees the engine closed.
    if (waitLoop_)
        waitLoop_->quit();
    ReleaseTriggers();
    ScriptLines.clear();
    UploadLog.Close();
    LogOpen = false;
}

} // namespace loader
