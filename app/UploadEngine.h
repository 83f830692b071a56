#pragma once
// The upload engine: one run of an upload script on one link, without any window. It reads the
// script, takes one step per tick of its ScriptTimer (a step never overlaps another), uploads each
// flash file behind its header, checks that the device still answers afterwards, writes the
// run's log, and ends the run in one of the described ways. What it shows goes to a view (the
// main window, a gang window's tile) and to observers (batch output); its boxes go to a sink.
// Several engines can run side by side in one process, each on its own link.
//
// Everything runs on the GUI thread.

#include "app/UploadCaptions.h"
#include "app/UploadLog.h"
#include "link/LinkServices.h"
#include "link/LoaderCallbacks.h"
#include "platform/MessageBox.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QEventLoop;
class QTimer;

namespace serial
{
class TDeliveryHold;
class TGuiMessageTarget;
} // namespace serial

namespace loader
{

// The log of a run on the program's own port.
constexpr const char *UploadLogFile = "loader.log";

// What an engine shows while it runs. Each has a default that shows nothing.
class TUploadView
{
  public:
    virtual ~TUploadView() = default;
    // The communication/upload status lamp: green while a run goes well, red otherwise.
    virtual void ShowLamp(bool /*green*/) {}
    // Idle (true: a run may start) or running (false).
    virtual void ShowIdle(bool /*idle*/) {}
    // After every attempt to open the port: whether it opened.
    virtual void ShowPortOpen(bool /*open*/) {}
    virtual void ShowProgressGroup(bool /*visible*/) {}
    virtual void ShowScriptProgress(int /*percent*/) {}
    virtual void ShowUploadProgress(int /*percent*/) {}
    virtual void ShowUploadCaption(const std::string & /*caption*/) {}
    // Paints what was set so far at once: the engine is about to wait.
    virtual void PaintNow() {}
    // Keeps the terminal off the line (true) while a file goes to the device, or lets it back.
    virtual void HoldTerminal(bool /*hold*/) {}
    // The run has ended and left the link's prompt and error triggers armed.
    virtual void RunFinished() {}
};

class TUploadEngine : public QObject, public TLoaderCallbacks
{
    Q_OBJECT

  public:
    // Values of ScriptState, the engine's state byte.
    static constexpr uint8_t NextLine = 0;
    static constexpr uint8_t Delaying = 1;
    static constexpr uint8_t LoadPending = 2;
    static constexpr uint8_t Transferring = 3;
    static constexpr uint8_t UploadFailed = 4;
    static constexpr uint8_t ScriptFailed = 5;
    static constexpr uint8_t UploadCancelled = 6;
    static constexpr uint8_t ScriptDone = 7;

    // The link (not owned) must outlive the engine or be replaced by SetLink first.
    explicit TUploadEngine(TLinkServices *link, QObject *parent = nullptr);
    ~TUploadEngine() override;
    TUploadEngine(const TUploadEngine &) = delete;
    TUploadEngine &operator=(const TUploadEngine &) = delete;

    void SetLink(TLinkServices *link) { link_ = link; }
    TLinkServices *Link() const { return link_; }
    void SetView(TUploadView *view);

    // Starting a run: the log of the run opens and the link goes into upload mode; then
    // ProcessScript reads the script and starts the steps. A script that cannot be read gets
    // its box and no run starts.
    void PrepareRun(const std::string &logFile);
    void ProcessScript(const std::string &fileName);
    // Both of the above, with the log `logFile`; nothing while a run is under way.
    void StartRun(const std::string &scriptFileName, const std::string &logFile = UploadLogFile);

    // One step per tick of ScriptTimer.
    void ScriptTimerTimer();
    void ProcessScriptLine();
    void UploadFile(const std::string &file, const std::string &address,
                    const std::string &version);
    void UploadFinish();
    void UploadError();
    void ScriptError();
    void ScriptEnd();
    // What a confirmed cancel does: the state ends the run at the engine's next chance, and the
    // link services queue no further block of a running transfer.
    void CancelRun();
    // Ends a running transfer without waiting for its output to drain (a device that takes no
    // more output would never let it): the queued output is discarded and the next step ends
    // the run. For an operator who will not wait, such as an interrupt in batch mode.
    void AbandonTransfer();
    // Runs once, whichever way the owner goes away: no further step, the log of the run closes.
    void Close();
    // Between the start of a run and its end (ScriptEnd, UploadError, or a file too big to hold).
    bool Running() const { return running_; }
    // Lets the port deliver trigger events again after a step held them.
    void ReleaseTriggers();

    // The link services' reports.
    void SetComBtnState(bool enabled) override;
    void SetScriptError() override;
    void SetULError() override;
    void EnableScriptTimer() override;
    // Also called by the link's block pump on the port's dispatch thread: the figure is then
    // handed to the GUI thread, once per change.
    void SetUploadProgress(int percent) override;

    // Where the run's boxes go (the window shows them, a gang run prints them per port).
    TMessageSink Boxes;

    // Told of every change of the progress display and of the end of each run, so a run without
    // a screen can report what a window would show. Unassigned ones are skipped.
    std::function<void(int percent)> OnScriptProgress;
    std::function<void(int percent)> OnUploadProgress;
    std::function<void(const std::string &caption)> OnUploadCaption;
    std::function<void()> OnRunEnded;
    // Told, after the box that says so, that the script or a flash file could not be read, with
    // the system's reason ("No such file or directory", "not a regular file"). While it is set,
    // the boxes about a flash file leave the reason to it.
    std::function<void(const std::string &file, const std::string &reason)> OnFileUnreadable;

    // Configuration and run values.
    std::string ScriptFileName; // script of the run under way, or of the last one
    int32_t UploadDelayMs = 1000;
    int32_t PostDelayMs = 0;
    uint8_t ScriptState = NextLine;
    bool LogOpen = false;
    std::vector<std::string> ScriptLines;
    int32_t LineIndex = 0;
    int32_t LineCount = 0;
    int32_t DelayTicks = 0;
    std::string LoadFileName;
    std::string LoadAddress;
    std::string LoadVersion;
    std::string UploadBuffer; // the file being uploaded; its length fits a signed 32-bit count
    TUploadLog UploadLog;     // the log of the current run
    QTimer *ScriptTimer;
    // The progress shown now, 0 to 100.
    int ScriptProgress() const { return scriptProgress_; }
    int UploadProgress() const { return uploadProgress_; }

  private:
    TLinkServices &Comm() const;
    platform::MsgResult Show(platform::MsgType type, const std::string &text,
                             platform::MsgButtons buttons);
    void OpenUploadLog(const std::string &logFile);
    // The error box for a log that could not be written.
    void ReportLogFailure();
    void SetScriptProgress(int percent);
    void SetUploadCaption(const std::string &caption);
    void TerminalHold(bool hold);
    void ReleaseUploadBuffer();
    // Tells OnFileUnreadable, after its box, why a named flash file could not be read.
    void ReportUnreadable(const std::string &file, const std::string &reason);
    // True, with the run set to end with the upload error, when the file has failed.
    bool FileFailed();
    void EndRun();
    // Waits on the event loop; false when the wait was cut short (cancel, close, program end) or
    // the step should not go on for those reasons.
    bool Wait(int32_t milliseconds);
    bool StepStopped() const;
    // True, with the timer restarted for the run's end, when the step must stop here.
    bool LeaveIfStopped();
    // Holds the port's trigger deliveries for the running step (no handler runs inside it).
    void HoldTriggers();
    // A message box from inside a step: the hold is lifted while it is shown.
    platform::MsgResult Ask(platform::MsgType type, const std::string &text,
                            platform::MsgButtons buttons);

    TLinkServices *link_;
    TUploadView defaultView_;
    TUploadView *view_ = &defaultView_;
    int scriptProgress_ = 0;
    int uploadProgress_ = 0;
    // Gauge figures the link's pump handed over from the dispatch thread, in order, for the GUI
    // thread to show; and the figure last set or handed over, so that only changes are handed
    // over. A figure set on the GUI thread drops those still waiting (a late block of an upload
    // given up must not overwrite it). One message is posted to the mailbox while any wait.
    std::mutex handoverMutex_;
    std::vector<int> handedOver_;
    int lastFigure_ = 0;
    std::unique_ptr<serial::TGuiMessageTarget> mailbox_;
    // The thread the engine was made on, the GUI thread: told apart from the pump's cheaply.
    std::thread::id ownThread_ = std::this_thread::get_id();
    void ShowUploadProgressNow(int percent);
    void ShowHandedOver();
    bool running_ = false;
    bool stepRunning_ = false;       // a step is under way: ticks meanwhile are not taken
    bool transferActive_ = false;    // the link services send from UploadBuffer until it drains
    bool closed_ = false;            // Close has run: no further step
    QEventLoop *waitLoop_ = nullptr; // the step's wait under way, ended early by cancel or close
    std::unique_ptr<serial::TDeliveryHold> stepHold_;
    // The script error to come follows a flash file that was not found, answered with Abort.
    bool flashFileMissing_ = false;
};

} // namespace loader
