#include "app/BatchRun.h"

#include "app/SignalPipe.h"
#include "app/UploadEngine.h"
#include "link/LinkServices.h"
#include "serial/PosixDevice.h"

#include <QCoreApplication>
#include <QPushButton>
#include <csignal>
#include <cstring>

namespace loader
{

std::string PortOpenFailureLine(uint16_t comNumber, const std::string &deviceName, int error)
{
    const std::string name = "COM" + std::to_string(comNumber);
    const std::string path = deviceName.empty() ? serial::DevicePathFor(name) : deviceName;
    if (path.empty())
        return name + ": no device for this port (add " + name + "=/dev/... to section [Devices] " +
               "of loader.ini)";
    return path + ": " + (error ? std::strerror(error) : "cannot be used as a serial port");
}

std::string UnreadableFileLine(const std::string &file, const std::string &reason)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    // An empty name (a blank "Default Script") is shown in quotes too, where it would not show.
    if (file.empty() || blank(file.front()) || blank(file.back()))
        return '"' + file + "\": " + reason;
    return file + ": " + reason;
}

// ---- The run ----

TBatchRun::TBatchRun(std::ostream &progress, std::ostream &boxes, BatchPolicy policy)
    : progressOut_(progress), boxesOut_(boxes), progress_(progress), boxes_(boxes, policy)
{
}

TBatchRun::~TBatchRun()
{
    if (responderInstalled_)
        platform::SetMessageResponder(previous_);
}

void TBatchRun::AnswerBoxes()
{
    if (responderInstalled_)
        return;
    previous_ = platform::SetMessageResponder(
        [this](const platform::MessageRequest &request) { return Answer(request); });
    responderInstalled_ = true;
}

platform::MsgResult TBatchRun::Answer(const platform::MessageRequest &request)
{
    const platform::MsgResult answer = boxes_.Answer(request);
    // The question that an interrupt raised is the operator's own: it is answered Yes.
    if (confirmCancel_ && request.buttons == platform::MsgButtons::YesNo) {
        confirmCancel_ = false;
        return platform::MsgResult::Yes;
    }
    return answer;
}

int TBatchRun::Run(QCoreApplication &application, TUploadEngine &engine, TLinkServices &link,
                   const std::optional<std::string> &script)
{
    AnswerBoxes();
    if (!link.SCommOpen()) {
        // Its box was shown as the link tried the port.
        const serial::TApdComPort &port = *link.ApdComPort1;
        boxesOut_ << PortOpenFailureLine(port.ComNumber(), port.DeviceName(), port.LastOpenError())
                  << '\n'
                  << std::flush;
        progressOut_ << "Run not started: the serial port is not open.\n" << std::flush;
        return BatchNotStarted;
    }

    engine.OnScriptProgress = [this](int percent) { progress_.ScriptProgress(percent); };
    engine.OnUploadProgress = [this](int percent) { progress_.UploadProgress(percent); };
    engine.OnUploadCaption = [this](const std::string &caption) {
        progress_.UploadCaption(caption);
    };
    engine.OnRunEnded = [&application] { application.quit(); };
    engine.OnFileUnreadable = [this](const std::string &file, const std::string &reason) {
        boxesOut_ << UnreadableFileLine(file, reason) << '\n' << std::flush;
    };

    if (script)
        engine.ScriptFileName = *script;
    progressOut_ << "Script " << NormalisedPath(engine.ScriptFileName) << '\n' << std::flush;
    engine.StartRun(engine.ScriptFileName);

    int status = BatchNotStarted;
    // A signal may have come while the run started (a step handles events): it ends the run.
    if (engine.Running() && !endedBy_) {
        const int loopStatus = application.exec();
        status = loopStatus != 0 || boxes_.ErrorShown() ? BatchRunErrors : BatchRunClean;
    }
    if (endedBy_) {
        status = BatchEndedBySignal + endedBy_;
        progressOut_ << "Run ended by " << SignalName(endedBy_) << ".\n" << std::flush;
    } else if (status == BatchNotStarted) {
        progressOut_ << "Run not started.\n" << std::flush;
    } else {
        progressOut_ << (status == BatchRunClean ? "Run ended normally.\n"
                                                 : "Run ended with errors.\n")
                     << std::flush;
    }

    engine.OnRunEnded = nullptr;
    engine.OnFileUnreadable = nullptr;
    engine.Close();
    link.CloseLink();
    return status;
}

void TBatchRun::Signalled(QCoreApplication &application, TUploadEngine &engine, int signal)
{
    if (signal == SIGINT) {
        Interrupted(application, engine);
        return;
    }
    // A hang-up or a supervisor's stop: nobody is there to wait for the run to wind down, so this
    // is Ctrl-C twice. The caller closes the port, which clears its exclusive mark.
    if (endedBy_)
        return;
    endedBy_ = signal;
    boxesOut_ << "loader: " << SignalName(signal)
              << " received: the run is cancelled and the port closed\n"
              << std::flush;
    if (engine.Running()) {
        engine.CancelRun();
        engine.AbandonTransfer();
    }
    application.exit(BatchEndedBySignal + signal);
}

void TBatchRun::Interrupted(QCoreApplication &application, TUploadEngine &engine)
{
    if (!engine.Running())
        return;
    if (cancelRequested_) {
        // The cancelled run could not wind down (a device that takes no more output): stop here.
        progressOut_ << "Interrupted again: stopping now.\n" << std::flush;
        application.exit(BatchRunErrors);
        return;
    }
    cancelRequested_ = true;
    progressOut_ << "Interrupted: cancelling the run.\n" << std::flush;
    // The cancel button's question, answered Yes: the operator has asked.
    confirmCancel_ = true;
    const platform::MsgResult answer = platform::ShowMessage(
        platform::MsgType::Warning, "Cancel current upload?", platform::MsgButtons::YesNo);
    confirmCancel_ = false;
    if (answer == platform::MsgResult::Yes)
        engine.CancelRun();
    // A transfer would finish its drain first, which a stalled or vanished device never allows.
    engine.AbandonTransfer();
}

} // namespace loader
