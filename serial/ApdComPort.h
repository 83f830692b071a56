#pragma once
// The serial port component: the object through which the program uses one serial port. It
// keeps the port's settings as properties (getter named as the property, setter Set...), opens
// and closes the port through the dispatcher, wraps the dispatcher's send, receive and trigger
// operations (turning negative result codes into exceptions through RaiseOnError), and turns the
// dispatcher's trigger messages into events raised on the GUI thread.
//
// Everything here belongs to the GUI thread. Events are std::function members; an empty one is
// skipped. A component that hooks another's event copies the old std::function, installs its
// own and calls the copy after its own work.

#include "serial/ApdBaseComponent.h"
#include "serial/Triggers.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace serial
{

class TMessageTarget;
class TGuiMessageTarget;
class TApdCustomComPort;

enum TDeviceLayer : uint8_t { dlNone, dlComm, dlFossil, dlWin32, dlWinsock, dlOther };
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum TDispatcherMode : uint8_t { dNone, dTimer, dCommEvents, dAuto, dWin32 };
enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };

// Hardware flow options; a set of them is a THWFlowOptions. The dispatcher's option bits are
// 1 << option (use DTR 1, use RTS 2, require DSR 4, require CTS 8).
enum THWFlowOption : uint8_t { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };

class THWFlowOptions
{
  public:
    constexpr THWFlowOptions() = default;
    constexpr THWFlowOptions(std::initializer_list<THWFlowOption> options)
    {
        for (THWFlowOption option : options)
            Include(option);
    }

    constexpr bool Contains(THWFlowOption option) const { return (bits_ & Bit(option)) != 0; }
    constexpr THWFlowOptions &Include(THWFlowOption option)
    {
        bits_ = static_cast<uint8_t>(bits_ | Bit(option));
        return *this;
    }
    constexpr THWFlowOptions &Exclude(THWFlowOption option)
    {
        bits_ = static_cast<uint8_t>(bits_ & ~Bit(option));
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    // The dispatcher's hardware flow bits.
    constexpr uint16_t Bits() const { return bits_; }

    constexpr bool operator==(const THWFlowOptions &) const = default;

  private:
    static constexpr uint8_t Bit(THWFlowOption option)
    {
        return static_cast<uint8_t>(1u << option);
    }
    uint8_t bits_ = 0;
};

// Event signatures; the first argument is the port that raises the event.
using TTriggerEvent =
    std::function<void(TApdCustomComPort &CP, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(TApdCustomComPort &CP, uint16_t Count)>;
using TTriggerDataEvent = std::function<void(TApdCustomComPort &CP, uint16_t TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(TApdCustomComPort &CP, uint16_t TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(TApdCustomComPort &CP, uint16_t TriggerHandle)>;
using TTriggerLineErrorEvent =
    std::function<void(TApdCustomComPort &CP, uint16_t Error, bool LineBreak)>;
using TNotifyEvent = std::function<void(TApdCustomComPort &Sender)>;
using TWaitCharEvent = std::function<void(TApdCustomComPort &CP, char C)>;
// A user told when the port opens (Opening true) and before it closes (Opening false).
using TPortNotifier = std::function<void(TApdCustomComPort &CP, bool Opening)>;

// Entries of PortComponentTable, indexed by the dispatcher's port number.
constexpr int kMaxPortComponents = 100;

// The component that owns each open port, by port number 1 to 100 (entry 0 unused); null for
// a port no component has open. Written only by open and close, on the GUI thread.
extern TApdCustomComPort *PortComponentTable[kMaxPortComponents + 1];

// Program start: clears PortComponentTable and installs the POSIX device routines.
void InitializeComPorts();

// A port's display name: "COM" followed by the number in decimal.
std::string ApdComPort(unsigned comNumber);

class TApdCustomComPort : public TApdBaseComponent
{
  public:
    static constexpr uint16_t MaxTraceSize = 32760;
    static constexpr uint16_t MaxLogSize = 65520;
    static constexpr size_t MaxNameLength = 255;
    // AwaitText's time-out is capped to this many 55 ms ticks.
    static constexpr int32_t MaxWaitTicks = 39045157;

    TApdCustomComPort();
    ~TApdCustomComPort() override;

    // Copies another port component's settings, trace and log names, events and user list;
    // leaves this one closed. The triggers of an open source are kept for this one's next open.
    virtual void Assign(const TApdCustomComPort &source);

    // After the stored settings are applied: opens when Open was set while loading.
    void EndLoading() override;

    // Properties.
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer value);
    uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(uint16_t value);
    // The device this port opens, a path such as "/dev/ttyUSB3"; empty (the default) opens the
    // one its COM number names. Takes effect at the next open.
    const std::string &DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string &value) { deviceName_ = value; }
    int32_t Baud() const { return baud_; }
    void SetBaud(int32_t value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(uint16_t value);
    uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(uint16_t value);
    uint16_t InSize() const { return inSize_; }
    void SetInSize(uint16_t value);
    uint16_t OutSize() const { return outSize_; }
    void SetOutSize(uint16_t value);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    TDispatcherMode DispatcherMode() const { return dispatcherMode_; }
    void SetDispatcherMode(TDispatcherMode value);
    bool Open() const { return open_; }
    void SetOpen(bool value);
    bool DTR() const { return dtr_; }
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    THWFlowOptions HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptions value);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions value);
    char XOnChar() const { return xonChar_; }
    void SetXOnChar(char value);
    char XOffChar() const { return xoffChar_; }
    void SetXOffChar(char value);
    uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(uint16_t value);
    uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(uint16_t value);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState value);
    uint16_t TraceSize() const { return traceSize_; }
    void SetTraceSize(uint16_t value);
    const std::string &TraceName() const { return traceName_; }
    void SetTraceName(const std::string &value);
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool value) { traceHex_ = value; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState value);
    uint16_t LogSize() const { return logSize_; }
    void SetLogSize(uint16_t value);
    const std::string &LogName() const { return logName_; }
    void SetLogName(const std::string &value);
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool value) { logHex_ = value; }
    bool UseMSRShadow() const { return useMSRShadow_; }
    virtual void SetUseMSRShadow(bool value);
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool value);
    uint16_t TriggerLength() const { return triggerLength_; }
    void SetTriggerLength(uint16_t value);
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(uint16_t value) { commNotificationLevel_ = value; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode value) { tapiMode_ = value; }
    int32_t Tag() const { return tag_; }
    void SetTag(int32_t value) { tag_ = value; }

    // The device handle adopted by the open from a device handle (TapiMode tmOn); -1 for none.
    int DeviceHandle() const { return deviceHandle_; }
    void SetDeviceHandle(int handle) { deviceHandle_ = handle; }

    // The dispatcher's number for the open port, 0 when closed.
    int PortSlot() const { return portSlot_; }
    // True while the dispatcher has the port.
    bool Active() const { return active_; }
    // The handle accessor: opens a closed port first when AutoOpen is set (and the component
    // is not being loaded); returns PortSlot (0 for a port that stays closed).
    int PortHandle();

    // Input.
    bool HasInput();
    char PeekByte(uint16_t position);
    char ReadByte();
    void ReadBytes(void *buffer, uint16_t length);
    uint16_t InputCount();
    void DiscardInput();

    // Output.
    void SendByte(char c);
    void SendText(const std::string &text);
    void SendBytes(const void *buffer, uint16_t length);
    uint16_t OutputCount();
    uint16_t OutputRoom();
    // See serial::OutputRingRoom.
    uint16_t OutputRingRoom();
    void DiscardOutput();
    // See serial::DeferOutput; a port that is not open ignores it.
    void DeferOutput(bool on);

    // A procedure handler of the open port: it runs on the port's dispatch thread ahead of the
    // component's own handlers (it may take a message from them with serial::ConsumeMessage) and
    // goes when the port closes. For work that must not wait for the GUI thread.
    void AddDispatchProcedure(serial::TEventProc proc, uintptr_t value);
    void RemoveDispatchProcedure(serial::TEventProc proc, uintptr_t value);

    // Triggers.
    uint16_t AddMatchTrigger(const std::string &text, bool ignoreCase);
    uint16_t AddClockTrigger();
    uint16_t AddStateTrigger(uint16_t kind);
    void DropTrigger(uint16_t handle);
    void ArmClockTrigger(uint16_t handle, int32_t ticks, bool activate);
    void ArmStateTrigger(uint16_t handle, uint16_t value, bool activate);
    // How often a data trigger's text has matched, delivered or not.
    uint32_t MatchCount(uint16_t handle);

    // Reads input until the text has arrived (true) or timeout ticks of 55 ms have passed
    // (false). Trigger events of this port are held meanwhile; with yield the GUI keeps
    // processing its messages. Each byte read is shown to OnWaitChar.
    bool AwaitText(const std::string &text, int32_t timeout, bool yield, bool ignoreCase);
    // Ends a running AwaitText (and only that one) as timed out, for an operator who cancels
    // while a handler yields inside it.
    void CancelWait() { waitCancelled_ = true; }

    // Line states (false, or 0, when the port is not active).
    bool CTS();
    bool DSR();
    bool DCD();
    bool RingSeen();
    uint16_t PendingLineError();
    bool LineBreak();
    // The line failed for good (the device vanished or refuses every write) and the errno that
    // says why; both stay until the port closes. False and 0 when the port is not active.
    bool LineFailed();
    int LastSystemError();
    // The errno that failed the last attempt to open the port, kept until the next attempt; 0
    // after an open that worked or a failure the system gave no number for (no device named,
    // no port selected).
    int LastOpenError() const { return lastOpenError_; }

    // Users told of opening and closing: windows get NoticePortOpened / NoticePortClosing,
    // notifiers are called with true / false; the newest entry is told first.
    void AttachWindow(TMessageTarget *window);
    void DetachWindow(TMessageTarget *window);
    // A notifier is known by its owner's key; detaching removes every entry of that key.
    void AttachNotifier(const void *owner, TPortNotifier notifier);
    void DetachNotifier(const void *owner);

    // Owners that keep a reference to this component are told when it is destroyed (the
    // framework's free notification); removing drops every entry of that owner's key.
    void FreeNotification(const void *owner, std::function<void(TApdCustomComPort &)> notify);
    void RemoveFreeNotification(const void *owner);

    // Installs a device layer when DeviceLayer is dlOther; set to the POSIX layer's installer
    // by the constructor.
    std::function<void()> CustomDeviceLayer;

    // Events.
    TTriggerEvent OnTrigger;
    TTriggerAvailEvent OnTriggerAvail;
    TTriggerDataEvent OnTriggerData;
    TTriggerStatusEvent OnTriggerStatus;
    TTriggerTimerEvent OnTriggerTimer;
    TTriggerLineErrorEvent OnTriggerLineError;
    TNotifyEvent OnTriggerModemStatus;
    TNotifyEvent OnTriggerOutbuffFree;
    TNotifyEvent OnTriggerOutbuffUsed;
    TNotifyEvent OnTriggerOutSent;
    TWaitCharEvent OnWaitChar;
    // Raised after the port opened and before it closes.
    TNotifyEvent OpenedNotice;
    TNotifyEvent ClosingNotice;

    // The notification window's procedure: raises the events of the component that owns the
    // port named in lParam's high word. Exceptions from handlers are shown, never passed on.
    static void ComWindowProc(unsigned msg, uintptr_t wParam, intptr_t lParam);

  protected:
    // Installs the device layer chosen by DeviceLayer.
    virtual void InstallDeviceLayer();
    // Runs after DeviceLayer changed; nothing to do here.
    virtual void DeviceLayerChanged() {}
    // Opens the device through the dispatcher: the result code (absent device and device in use
    // mapped to their open errors) and the dispatcher's number for the port.
    virtual int OpenDevice(int &slot);
    // Raises ENoPortSelected when no port number is set.
    virtual void ValidateComNumber();

    virtual void DoTrigger(uint16_t msg, uint16_t triggerHandle, uint16_t data);
    virtual void DoTriggerAvail(uint16_t count);
    virtual void DoTriggerData(uint16_t triggerHandle);
    virtual void DoTriggerStatus(uint16_t triggerHandle);
    virtual void DoTriggerTimer(uint16_t triggerHandle);
    virtual void DoTriggerLineError(uint16_t error, bool lineBreak);
    virtual void DoTriggerModemStatus();
    virtual void DoTriggerOutbuffFree();
    virtual void DoTriggerOutbuffUsed();
    virtual void DoTriggerOutSent();
    virtual void DoWaitChar(char c);

    // Closes an active port (notices, dump of trace and log, triggers kept, port released).
    virtual void PortClose();

    virtual void NotifyPortOpened();
    virtual void NotifyPortClosing();
    virtual void OpenPortNormal();
    virtual void OpenPortFromHandle();

  private:
    struct TUserEntry {
        TMessageTarget *Window = nullptr;
        const void *Owner = nullptr;
        TPortNotifier Notifier;
    };

    int Check(int code) const;
    void OpenPortByMode();
    void CompleteOpen(int slot);
    void ReleasePort();
    void NotifyUsers(bool opening);
    void ApplyLineSettings();
    void ComputeFlowDefaults(unsigned fullPercent, unsigned resumePercent);
    void ReapplyFlow();
    void DispatchMessage(unsigned msg, uint16_t wParam, uint16_t lParamLow, int slot);

    TDeviceLayer deviceLayer_ = dlWin32;
    uint16_t comNumber_ = 0;
    std::string deviceName_;
    int32_t baud_ = 19200;
    TParity parity_ = pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    TDispatcherMode dispatcherMode_ = dWin32;
    bool open_ = false;
    int lastOpenError_ = 0;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptions hwFlowOptions_;
    TSWFlowOptions swFlowOptions_ = swfNone;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    uint16_t traceSize_ = 10000;
    std::string traceName_ = "APRO.TRC";
    bool traceHex_ = true;
    TTraceLogState logging_ = tlOff;
    uint16_t logSize_ = 10000;
    std::string logName_ = "APRO.LOG";
    bool logHex_ = true;
    bool useMSRShadow_ = true;
    bool useEventWord_ = true;
    uint16_t triggerLength_ = 1;
    uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    int32_t tag_ = 0;
    int deviceHandle_ = -1;

    int portSlot_ = 0;
    bool active_ = false;
    bool forcing_ = false;
    bool openAfterLoading_ = false;
    std::unique_ptr<TTriggerSnapshot> savedTriggers_;
    bool savedTriggersValid_ = false;
    std::unique_ptr<TGuiMessageTarget> window_; // the port's notification receiver while open
    bool waitCancelled_ = false;
    std::vector<TUserEntry> users_;
    std::vector<std::pair<const void *, std::function<void(TApdCustomComPort &)>>> freeNotices_;
};

// Holds the port's trigger deliveries back for a scope on the GUI thread, so that no handler runs
// inside it: a delivery already handed over is run first, and what the hold keeps back is
// delivered when it ends. Nested holds keep the outer one; a port closed or reopened meanwhile is
// left alone.
class TDeliveryHold
{
  public:
    explicit TDeliveryHold(TApdCustomComPort &port);
    ~TDeliveryHold();
    TDeliveryHold(const TDeliveryHold &) = delete;
    TDeliveryHold &operator=(const TDeliveryHold &) = delete;
    // The dispatcher's answer to the hold (ecOK, or the error of a port that is not open).
    int Result() const { return result_; }

  private:
    const TApdCustomComPort &port_;
    int slot_;
    bool wasHeld_ = false;
    int result_;
};

// The published form of the component; it adds nothing.
class TApdComPort : public TApdCustomComPort
{
  public:
    using TApdCustomComPort::TApdCustomComPort;
};

} // namespace serial
