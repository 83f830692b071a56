#include "app/GangRun.h"

#include "app/BatchRun.h"
#include "app/GangReport.h"
#include "app/LoaderApplication.h"
#include "app/LoaderSettings.h"
#include "app/PortRun.h"
#include "app/SignalPipe.h"
#include "link/LinkSettings.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <iostream>
#include <memory>

namespace loader
{
namespace
{

constexpr int TickMs = 100;

class TGang
{
  public:
    TGang(QCoreApplication &application, const std::vector<GangPort> &ports, BatchPolicy policy)
        : application_(application), ports_(ports), policy_(policy),
          report_(MakeGangReport(Names(ports)))
    {
    }

    int Run(const LoaderSettings &settings)
    {
        report_->Start(NormalisedPath(settings.scriptFileName));
        // Read once for every port: its replaced values and their boxes are the file's, not a
        // port's.
        LinkState link;
        ReadLinkSettings(settings.iniFileName, link);
        for (std::size_t i = 0; i < ports_.size(); ++i)
            runs_.push_back(MakeRun(i, settings, link));
        // Every port is opened before any starts: a device that is missing is told at once.
        std::vector<bool> opened;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            opened.push_back(runs_[i]->Open());
            if (!opened.back()) {
                report_->NotOpened(i, runs_[i]->OpenFailure());
                report_->RunEnded(i, false);
            }
        }
        for (std::size_t i = 0; i < runs_.size() && !stopped_; ++i) {
            if (opened[i] && runs_[i]->Start())
                ++running_;
            else if (opened[i])
                report_->RunEnded(i, false);
        }
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [this] { report_->Tick(); });
        tick.start(TickMs);
        if (running_ > 0 && !stopped_)
            application_.exec();
        tick.stop();
        for (const auto &run : runs_)
            run->Close();
        const int status = report_->Summary();
        return endedBy_ ? BatchEndedBySignal + endedBy_ : status;
    }

    void Signalled(int signal)
    {
        if (signal != SIGINT) {
            if (endedBy_)
                return;
            endedBy_ = signal;
            std::cerr << "loader: " << SignalName(signal)
                      << " received: the runs are cancelled and the ports closed\n"
                      << std::flush;
            CancelAll(false);
            Stop(BatchEndedBySignal + signal);
            return;
        }
        if (running_ == 0)
            return;
        if (cancelRequested_) {
            report_->Note("Interrupted again: stopping now.");
            Stop(BatchRunErrors);
            return;
        }
        cancelRequested_ = true;
        report_->Note("Interrupted: cancelling the run.");
        CancelAll(true);
    }

  private:
    static std::vector<std::string> Names(const std::vector<GangPort> &ports)
    {
        std::vector<std::string> names;
        for (const GangPort &port : ports)
            names.push_back(port.name);
        return names;
    }

    std::unique_ptr<TPortRun> MakeRun(std::size_t i, const LoaderSettings &settings,
                                      const LinkState &link)
    {
        auto run =
            std::make_unique<TPortRun>(ports_[i], settings, link,
                                       [this, i](platform::MsgType type, const std::string &text,
                                                 platform::MsgButtons buttons) {
                                           const platform::MessageRequest request{
                                               type, platform::CaptionOf(type), text, buttons};
                                           report_->Box(i, request);
                                           return BatchAnswer(buttons, policy_);
                                       });
        TUploadEngine &engine = run->Engine();
        engine.OnScriptProgress = [this, i](int percent) { report_->ScriptProgress(i, percent); };
        engine.OnUploadProgress = [this, i](int percent) { report_->UploadProgress(i, percent); };
        engine.OnUploadCaption = [this, i](const std::string &caption) {
            report_->UploadCaption(i, caption);
        };
        engine.OnFileUnreadable = [this, i](const std::string &file, const std::string &reason) {
            report_->Reason(i, UnreadableFileLine(file, reason));
        };
        TPortRun *raw = run.get();
        engine.OnRunEnded = [this, i, raw] {
            report_->RunEnded(i, !raw->Failed());
            if (--running_ == 0)
                application_.quit();
        };
        return run;
    }

    // Every running port is cancelled at once; with `ask`, each first shows the cancel button's
    // question, answered Yes: the operator has asked.
    void CancelAll(bool ask)
    {
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            if (!runs_[i]->Running())
                continue;
            if (ask)
                report_->Box(i, {platform::MsgType::Warning, "Warning", "Cancel current upload?",
                                 platform::MsgButtons::YesNo});
            runs_[i]->Cancel();
        }
    }

    void Stop(int status)
    {
        stopped_ = true;
        application_.exit(status);
    }

    QCoreApplication &application_;
    const std::vector<GangPort> &ports_;
    BatchPolicy policy_;
    std::unique_ptr<TGangReport> report_;
    std::vector<std::unique_ptr<TPortRun>> runs_;
    int running_ = 0;
    bool cancelRequested_ = false;
    bool stopped_ = false;
    int endedBy_ = 0;
};

} // namespace

int RunGang(QCoreApplication &application, const std::vector<GangPort> &ports,
            const std::optional<std::string> &script, BatchPolicy policy)
{
    // Boxes that belong to no port (the settings read at start) go to standard error as in
    // batch mode.
    TBatchBoxes boxes(std::cerr, policy);
    const platform::MessageResponder previous = platform::SetMessageResponder(boxes.Responder());
    LoaderSettings settings = ReadLoaderSettings();
    int status = BatchNotStarted;
    if (!settings.iniRefusal.empty()) {
        std::cout << "Run not started: loader.ini cannot be read.\n" << std::flush;
    } else {
        if (script)
            settings.scriptFileName = *script;
        StartSerialEngine(settings.iniFileName);
        TGang gang(application, ports, policy);
        const TSignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP},
                                     [&gang](int signal) { gang.Signalled(signal); });
        status = gang.Run(settings);
    }
    platform::SetMessageResponder(previous);
    return status;
}

} // namespace loader
