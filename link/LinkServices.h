#pragma once
// The link to the device over one serial port, without any window: the port component, the
// link's settings and state, the services by which an upload engine talks to the device (sending,
// the command handshake, the paced upload of a file buffer, the switching of the reply texts) and
// the port's event handlers that report back to the engine. The settings dialog owns one for the
// program's port; a gang run makes one per port.
//
// All of it runs on the GUI thread, where the port delivers its trigger events, with one
// exception: the block pump of a buffer upload runs on the port's dispatch thread (a procedure
// handler), so that a fast line with small blocks does not make the GUI thread wake for every
// batch. It reports the gauge from there (TLoaderCallbacks::SetUploadProgress) and leaves every
// other event (a failed line, the drained output) to the GUI thread.

#include "link/LinkState.h"

#include "platform/MessageBox.h"
#include "serial/ApdComPort.h"
#include "serial/EventHook.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace loader
{

class TLoaderCallbacks;

// Where a link's or an engine's message boxes go: the window shows them, an unattended run
// answers them. An empty one shows them with platform::ShowMessage.
using TMessageSink = std::function<platform::MsgResult(
    platform::MsgType type, const std::string &text, platform::MsgButtons buttons)>;

// Shows `text` through `sink`, or with platform::ShowMessage when the sink is empty.
platform::MsgResult ShowThrough(const TMessageSink &sink, platform::MsgType type,
                                const std::string &text, platform::MsgButtons buttons);

// The value the line-error trigger is armed with: none of the ordinary line errors (overrun,
// parity, framing, break), so it fires only for a line that failed for good, which the port
// reports to every line-error trigger whatever its mask. Firing it takes the pending errors
// (the port reads them for the event), and ordinary ones belong to whoever watches them: the
// status lights would never see one.
constexpr uint16_t LineFailureOnly = 0;

class TLinkServices
{
  public:
    // Makes the port with its stored settings and hooks the handlers on its events; the port
    // stays closed. The callbacks (the upload engine) must outlive this object; null skips them.
    explicit TLinkServices(TLoaderCallbacks *callbacks = nullptr);
    ~TLinkServices();
    TLinkServices(const TLinkServices &) = delete;
    TLinkServices &operator=(const TLinkServices &) = delete;

    // Gives the port the line settings, device and buffer size of Link.
    void ApplySettings();
    // Opens the port and arms the prompt, error, output-free, output-used and line-error
    // triggers; a port that does not open gets the box "Error Opening Selected Comm Port !".
    // Tells the callbacks either way.
    void OpenAndArm();
    // The end of the link's use without a window: upload mode off and the port closed, each
    // failure shown through Boxes.
    void CloseLink();
    // Closes an open port (its triggers dropped first, so it does not keep them for its next
    // open), applies the settings of Link and opens it again.
    void Reopen();

    // Services.
    void SendDataByte(char c);
    void SendDataString(const std::string &text);
    bool SendBlock(const void *buffer, uint32_t length);
    void SendBuffer(const void *buffer, int32_t length);
    void SendInitCmd(const std::string &command, std::string &reply);
    void DataTriggerEnabled(bool on);
    void SetUploadMode(bool on);
    bool SCommOpen() const;
    void FlushAll();
    void FlushInput();
    bool GetBuffer(void *buffer, uint16_t length);
    char PreviewChar(uint16_t index);

    // The watch over one file (see LinkState): begun when its header is sent, ended after its
    // verification or with the run. FileUploadFailed tells whether the device reported the
    // upload error text, or the line failed, since the header.
    void BeginFileWatch();
    void EndFileWatch();
    bool FileUploadFailed();
    // Gives up a buffer upload at once, without waiting for its output to drain: the queued
    // output is discarded and the buffer is never touched again.
    void AbandonUpload();

    // Port event handlers.
    void ApdComPort1WaitChar(serial::TApdCustomComPort &CP, char C);
    void ApdComPort1TriggerData(serial::TApdCustomComPort &CP, uint16_t TriggerHandle);
    void ApdComPort1TriggerOutbuffFree(serial::TApdCustomComPort &Sender);
    void ApdComPort1TriggerOutbuffUsed(serial::TApdCustomComPort &Sender);
    void ApdComPort1TriggerLineError(serial::TApdCustomComPort &CP, uint16_t Error, bool LineBreak);

    // Replaces the object told about port state, errors and upload progress (null: nobody).
    void SetCallbacks(TLoaderCallbacks *callbacks) { callbacks_ = callbacks; }

    LinkState Link;
    std::unique_ptr<serial::TApdComPort> ApdComPort1;
    // Where the link's boxes go ("Error Opening Selected Comm Port !", "Error Accessing Comm
    // Port !").
    TMessageSink Boxes;

  private:
    platform::MsgResult Show(const std::string &text);
    // Looks for the upload error text in a reply read under the file watch.
    void WatchReply(const std::string &received);
    void ApplyStoredPortSettings();
    // Drops a trigger this object armed, and forgets its handle.
    void DropOwnTrigger(uint16_t &handle);
    void AddDataTriggers();
    // The pump on the port's dispatch thread: serves the output-free trigger of a running upload
    // and takes its message from the GUI thread; anything else goes on to the GUI thread.
    static void PumpProcedure(uintptr_t self, unsigned msg, uintptr_t wParam, intptr_t lParam);
    void InstallPump();
    // Queues the blocks that fit the output buffer of the port in `slot` now (see the pump in the
    // source). Called with pumpMutex_ held; a result code of the port's operations.
    int PumpBlocks(int slot);
    void ReportUploadProgress();
    // Ends the buffer upload's phase and disarms its two output triggers.
    void StopUpload();
    // The line failed for good: ends what is under way with the upload error, once.
    void LineFailure();

    TLoaderCallbacks *callbacks_;
    // Guards the upload cursor in Link between the GUI thread and the pump; pumpActive_ tells
    // the pump that an upload is running and its buffer may be read.
    std::mutex pumpMutex_;
    bool pumpActive_ = false;
    // The room the output-free trigger waits for between batches, and the upload's two output
    // triggers.
    uint16_t pumpBatch_ = 0;
    uint16_t pumpOutFree_ = 0;
    uint16_t pumpOutUsed_ = 0;
    // The handlers on the port's events, installed once at creation.
    serial::TEventHook<serial::TTriggerDataEvent> dataHook_;
    serial::TEventHook<serial::TNotifyEvent> outFreeHook_;
    serial::TEventHook<serial::TNotifyEvent> outUsedHook_;
    serial::TEventHook<serial::TTriggerLineErrorEvent> lineErrorHook_;
    serial::TEventHook<serial::TWaitCharEvent> waitCharHook_;
};

} // namespace loader
