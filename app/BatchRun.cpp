#include "app/BatchRun.h"

#include "app/FrmLoadr.h"
#include "link/FrmS_comm.h"
#include "serial/PosixDevice.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace loader
{
namespace
{

// SIGINT reaches the GUI thread through a pipe: the handler only writes a byte to it.
int interruptPipe[2] = {-1, -1};

extern "C" void OnInterrupt(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t wrote = ::write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

// Catches SIGINT for as long as it lives and restores the previous handling afterwards.
class InterruptCatcher
{
  public:
    InterruptCatcher()
    {
        if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action {
        };
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~InterruptCatcher()
    {
        if (installed_)
            ::sigaction(SIGINT, &previous_, nullptr);
        for (int &fd : interruptPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    InterruptCatcher(const InterruptCatcher &) = delete;
    InterruptCatcher &operator=(const InterruptCatcher &) = delete;

    bool Installed() const { return installed_; }
    int ReadEnd() const { return interruptPipe[0]; }

    void Drain() const
    {
        char bytes[16];
        while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
        }
    }

  private:
    struct sigaction previous_ {
    };
    bool installed_ = false;
};

constexpr const char *IdleCaption = "Upload Progress";
constexpr const char *VerifyingCaption = "Verifying Upload";
constexpr int SecondTryPercent = 70;

constexpr int Tenth(int percent)
{
    return percent / 10;
}

} // namespace

std::string NormalisedPath(const std::string &path)
{
    namespace fs = std::filesystem;
    if (path.empty())
        return path;
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path;
    const fs::path normal = absolute.lexically_normal();
    // "link/.." is the link target's parent to the system, not the folder holding the link.
    std::error_code absoluteError, normalError;
    const bool absoluteExists = fs::exists(absolute, absoluteError);
    const bool normalExists = fs::exists(normal, normalError);
    const bool same = absoluteExists == normalExists &&
                      (!absoluteExists || fs::equivalent(absolute, normal, error));
    if (same && !error)
        return normal.string();
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.string() : resolved.string();
}

std::string PortOpenFailureLine(uint16_t comNumber, int error)
{
    const std::string name = "COM" + std::to_string(comNumber);
    const std::string path = serial::DevicePathFor(name);
    if (path.empty())
        return name + ": no device for this port (add " + name + "=/dev/... to section [Devices] " +
               "of loader.ini)";
    return path + ": " + (error ? std::strerror(error) : "cannot be used as a serial port");
}

// ---- Progress lines ----

void TBatchProgress::Gauge(const char *label, int percent, int &lastTenth)
{
    if (percent <= 0) {
        lastTenth = -1;
        return;
    }
    if (Tenth(percent) == lastTenth)
        return;
    lastTenth = Tenth(percent);
    out_ << label << ": " << percent << "%\n" << std::flush;
}

void TBatchProgress::ScriptProgress(int percent)
{
    Gauge("Script progress", percent, scriptTenth_);
}

// While verifying, the gauge marks the stages of the check rather than bytes: only the second
// try is worth a line.
void TBatchProgress::UploadProgress(int percent)
{
    if (!verifying_) {
        Gauge("Upload progress", percent, uploadTenth_);
        return;
    }
    if (percent == SecondTryPercent)
        out_ << "Verifying Upload: no answer yet, trying once more\n" << std::flush;
}

void TBatchProgress::UploadCaption(const std::string &caption)
{
    verifying_ = caption == VerifyingCaption;
    uploadTenth_ = -1;
    if (caption == IdleCaption)
        return;
    if (verifying_)
        out_ << caption << '\n' << std::flush;
    else
        out_ << "Uploading " << caption << '\n' << std::flush;
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

int TBatchRun::Run(QApplication &application, TFrmLoadr &window,
                   const std::optional<std::string> &script)
{
    AnswerBoxes();
    if (!FrmS_comm || !FrmS_comm->SCommOpen()) {
        // Its box was shown as the settings object tried the port.
        if (FrmS_comm)
            boxesOut_ << PortOpenFailureLine(FrmS_comm->ApdComPort1->ComNumber(),
                                             FrmS_comm->ApdComPort1->LastOpenError())
                      << '\n'
                      << std::flush;
        progressOut_ << "Run not started: the serial port is not open.\n" << std::flush;
        return BatchNotStarted;
    }

    window.OnScriptProgress = [this](int percent) { progress_.ScriptProgress(percent); };
    window.OnUploadProgress = [this](int percent) { progress_.UploadProgress(percent); };
    window.OnUploadCaption = [this](const std::string &caption) {
        progress_.UploadCaption(caption);
    };
    window.OnRunEnded = [&application] { application.quit(); };
    window.OnFileUnreadable = [this](const std::string &file, const std::string &reason) {
        boxesOut_ << file << ": " << reason << '\n' << std::flush;
    };

    InterruptCatcher catcher;
    std::unique_ptr<QSocketNotifier> notifier;
    if (catcher.Installed()) {
        notifier = std::make_unique<QSocketNotifier>(catcher.ReadEnd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
            catcher.Drain();
            Interrupted(application, window);
        });
    }

    window.MnuItmAutoUlClick();
    if (script)
        window.ScriptFileName = *script;
    progressOut_ << "Script " << NormalisedPath(window.ScriptFileName) << '\n' << std::flush;
    window.BtnUploadClick();

    int status = BatchNotStarted;
    if (window.Running()) {
        const int loopStatus = application.exec();
        status = loopStatus != 0 || boxes_.ErrorShown() ? BatchRunErrors : BatchRunClean;
        progressOut_ << (status == BatchRunClean ? "Run ended normally.\n"
                                                 : "Run ended with errors.\n")
                     << std::flush;
    } else {
        progressOut_ << "Run not started.\n" << std::flush;
    }

    notifier.reset();
    window.OnRunEnded = nullptr;
    window.OnFileUnreadable = nullptr;
    window.FormClose();
    return status;
}

void TBatchRun::Interrupted(QApplication &application, TFrmLoadr &window)
{
    if (!window.Running())
        return;
    if (cancelRequested_) {
        // The cancelled run could not wind down (a device that takes no more output): stop here.
        progressOut_ << "Interrupted again: stopping now.\n" << std::flush;
        application.exit(BatchRunErrors);
        return;
    }
    cancelRequested_ = true;
    progressOut_ << "Interrupted: cancelling the run.\n" << std::flush;
    confirmCancel_ = true;
    window.BtnULCancelClick();
    confirmCancel_ = false;
    // A transfer would finish its drain first, which a stalled or vanished device never allows.
    window.AbandonTransfer();
}

} // namespace loader
