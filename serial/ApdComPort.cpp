#include "serial/ApdComPort.h"

#include "serial/ApdExcept.h"
#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/GuiMessageTarget.h"
#include "serial/MessageTarget.h"
#include "serial/PosixDevice.h"

#include "platform/Clock.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace serial
{

TApdCustomComPort *PortComponentTable[kMaxPortComponents + 1] = {};

std::string ApdComPort(unsigned comNumber)
{
    return "COM" + std::to_string(comNumber);
}

namespace
{

// Sets the forcing flag for a scope and puts the previous value back, also when a setter raises.
class TForcing
{
  public:
    explicit TForcing(bool &flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~TForcing() { flag_ = previous_; }
    TForcing(const TForcing &) = delete;
    TForcing &operator=(const TForcing &) = delete;

  private:
    bool &flag_;
    bool previous_;
};

// Runs each closing step even when an earlier one raised, and raises the first failure at the end:
// a port must not stay half closed because a trace file could not be written.
class TFirstFailure
{
  public:
    template <typename Step> void Run(Step &&step)
    {
        try {
            step();
        } catch (...) {
            if (!failure_)
                failure_ = std::current_exception();
        }
    }
    void Raise()
    {
        if (failure_)
            std::rethrow_exception(std::exchange(failure_, nullptr));
    }

  private:
    std::exception_ptr failure_;
};

// Messages being handled by notification windows (nested when a handler yields).
int gWindowProcDepth = 0;

bool OnMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

bool ApplicationTerminating()
{
    return QCoreApplication::closingDown();
}

// Ticks of 55 ms since start, across a wrap of the millisecond counter.
uint32_t TicksSince(uint32_t start)
{
    constexpr uint32_t ticksPerWrap = UINT32_MAX / 55 + 1;
    const uint32_t now = platform::Ticks55();
    return now >= start ? now - start : now + ticksPerWrap - start;
}

uint8_t Byte(char c)
{
    return static_cast<uint8_t>(c);
}

} // namespace

TApdCustomComPort::TApdCustomComPort() : savedTriggers_(std::make_unique<TTriggerSnapshot>())
{
    CustomDeviceLayer = InstallPosixDeviceLayer;
}

TApdCustomComPort::~TApdCustomComPort()
{
    // A destructor cannot raise; a trace or log that cannot be written while the port closes here
    // is lost.
    try {
        SetOpen(false);
    } catch (...) {
    }
    auto notices = std::move(freeNotices_);
    for (auto &[owner, notify] : notices)
        if (notify)
            notify(*this);
}

int TApdCustomComPort::Check(int code) const
{
    return RaiseOnError(this, code);
}

// ---- Loading, opening and closing ----

void TApdCustomComPort::EndLoading()
{
    TApdBaseComponent::EndLoading();
    if (openAfterLoading_ || open_) {
        openAfterLoading_ = false;
        open_ = false;
        SetOpen(true);
    }
}

void TApdCustomComPort::SetOpen(bool value)
{
    if (Loading()) {
        open_ = value;
        if (value)
            openAfterLoading_ = true;
        return;
    }
    if (value) {
        if (!active_)
            OpenPortByMode();
        return;
    }
    try {
        PortClose();
    } catch (...) {
        open_ = false;
        throw;
    }
    open_ = false;
}

int TApdCustomComPort::PortHandle()
{
    if (!Loading() && !active_ && autoOpen_)
        SetOpen(true);
    return portSlot_;
}

void TApdCustomComPort::OpenPortByMode()
{
    if (tapiMode_ == tmOn)
        OpenPortFromHandle();
    else
        OpenPortNormal();
}

void TApdCustomComPort::ValidateComNumber()
{
    if (comNumber_ == 0 && deviceName_.empty())
        Check(ecNoPortSelected);
}

void TApdCustomComPort::InstallDeviceLayer()
{
    switch (deviceLayer_) {
    case dlWin32:
        InstallPosixDeviceLayer();
        break;
    case dlOther:
        if (!CustomDeviceLayer)
            Check(ecNullApi);
        else
            CustomDeviceLayer();
        break;
    default:
        Check(ecNullApi);
        break;
    }
}

namespace
{

int MapOpenResult(int result)
{
    switch (result) {
    case ecAccessDenied:
        return ecAlreadyOpen;
    case ecFileNotFound:
    case ecPathNotFound:
        return ecBadId;
    default:
        return result;
    }
}

} // namespace

int TApdCustomComPort::OpenDevice(int &slot)
{
    int result;
    if (tapiMode_ == tmOn) {
        // No handle to adopt: opening an invalid handle would hand the dispatcher garbage.
        if (deviceHandle_ < 0)
            return ecInvalidHandle;
        result = OpenPortHandle(slot, deviceHandle_, inSize_, outSize_);
        lastOpenError_ = serial::LastOpenError();
        if (result == ecOK && slot >= 1 && slot <= kMaxPortComponents) {
            int32_t baud = 0;
            uint16_t parity = 0, dataBits = 0, stopBits = 0;
            if (ReadLineSettings(slot, baud, parity, dataBits, stopBits) == ecOK) {
                baud_ = baud;
                parity_ = static_cast<TParity>(std::min<uint16_t>(parity, pSpace));
                dataBits_ = dataBits;
                stopBits_ = stopBits;
            }
        }
    } else {
        // The device layer resolves the port's display name to its device.
        result = OpenPort(slot, deviceName_.empty() ? ApdComPort(comNumber_) : deviceName_, inSize_,
                          outSize_, baud_, parity_, dataBits_, stopBits_);
        lastOpenError_ = serial::LastOpenError();
    }
    return MapOpenResult(result);
}

void TApdCustomComPort::OpenPortNormal()
{
    lastOpenError_ = 0;
    ValidateComNumber();
    InstallDeviceLayer();
    int slot = 0;
    const int result = OpenDevice(slot);
    if (result != ecOK || slot < 1 || slot > kMaxPortComponents) {
        // A port the dispatcher opened under a number this component cannot hold is given back.
        if (result == ecOK && slot != 0)
            ClosePort(slot);
        Check(result);
        return;
    }
    CompleteOpen(slot);
}

void TApdCustomComPort::OpenPortFromHandle()
{
    OpenPortNormal();
}

void TApdCustomComPort::CompleteOpen(int slot)
{
    portSlot_ = slot;
    active_ = true;
    try {
        {
            TForcing forcing(forcing_);
            SetTracing(tracing_);
            SetLogging(logging_);
            SetHWFlowOptions(hwFlowOptions_);
            SetSWFlowOptions(swFlowOptions_);
            SetXOnChar(xonChar_);
            SetXOffChar(xoffChar_);
            SetTriggerLength(triggerLength_);
            SetDTR(dtr_);
            if (deviceLayer_ != dlFossil)
                SetRTS(rts_);
            SetUseMSRShadow(useMSRShadow_);
            Check(ClearOptionBits(slot, poConsumeInHandler));
            SetUseEventWord(useEventWord_);
            SetCommNotificationLevel(commNotificationLevel_);
        }
        open_ = true;
        PortComponentTable[slot] = this;
        window_ = std::make_unique<TGuiMessageTarget>(&TApdCustomComPort::ComWindowProc);
        Check(AddHandler(slot, window_.get(), 1));
        if (savedTriggersValid_) {
            Check(ReinstateTriggers(slot, *savedTriggers_));
            savedTriggersValid_ = false;
        }
    } catch (...) {
        // A failed open leaves the component closed and the dispatcher without the port.
        ReleasePort();
        open_ = false;
        throw;
    }
    NotifyPortOpened();
}

void TApdCustomComPort::ReleasePort()
{
    const int slot = portSlot_;
    if (window_) {
        RemoveHandler(slot, window_.get());
        // The window may be the one whose message is running right now (a handler closed the port);
        // it then goes once that message is done.
        if (gWindowProcDepth > 0)
            window_.release()->deleteLater();
        else
            window_.reset();
    }
    ClosePort(slot);
    if (PortComponentTable[slot] == this)
        PortComponentTable[slot] = nullptr;
    active_ = false;
    portSlot_ = 0;
    // The trace and log went with the port.
    if (tracing_ != tlOn)
        tracing_ = tlOff;
    if (logging_ != tlOn)
        logging_ = tlOff;
}

void TApdCustomComPort::PortClose()
{
    if (!active_)
        return;
    TFirstFailure failures;
    failures.Run([this] { NotifyPortClosing(); });
    failures.Run([this] { SetTracing(tlDump); });
    failures.Run([this] { SetLogging(tlDump); });
    if (StashTriggers(portSlot_, *savedTriggers_) == ecOK)
        savedTriggersValid_ = true;
    ReleasePort();
    failures.Raise();
}

void TApdCustomComPort::NotifyUsers(bool opening)
{
    // Newest first; a user may detach entries while it is told, so the list is re-checked.
    for (size_t i = users_.size(); i-- > 0;) {
        if (i >= users_.size())
            continue;
        const TUserEntry entry = users_[i];
        if (entry.Window)
            entry.Window->SendMessage(opening ? NoticePortOpened : NoticePortClosing, 0, 0);
        else if (entry.Notifier)
            entry.Notifier(*this, opening);
    }
}

void TApdCustomComPort::NotifyPortOpened()
{
    NotifyUsers(true);
    if (OpenedNotice)
        OpenedNotice(*this);
}

void TApdCustomComPort::NotifyPortClosing()
{
    NotifyUsers(false);
    if (ClosingNotice)
        ClosingNotice(*this);
}

void TApdCustomComPort::AttachWindow(TMessageTarget *window)
{
    users_.push_back(TUserEntry{window, nullptr, {}});
}

void TApdCustomComPort::DetachWindow(TMessageTarget *window)
{
    std::erase_if(users_, [window](const TUserEntry &e) { return e.Window == window; });
}

void TApdCustomComPort::AttachNotifier(const void *owner, TPortNotifier notifier)
{
    users_.push_back(TUserEntry{nullptr, owner, std::move(notifier)});
}

void TApdCustomComPort::DetachNotifier(const void *owner)
{
    std::erase_if(users_,
                  [owner](const TUserEntry &e) { return e.Window == nullptr && e.Owner == owner; });
}

void TApdCustomComPort::FreeNotification(const void *owner,
                                         std::function<void(TApdCustomComPort &)> notify)
{
    freeNotices_.emplace_back(owner, std::move(notify));
}

void TApdCustomComPort::RemoveFreeNotification(const void *owner)
{
    std::erase_if(freeNotices_, [owner](const auto &entry) { return entry.first == owner; });
}

// ---- Settings ----

void TApdCustomComPort::SetDeviceLayer(TDeviceLayer value)
{
    if (active_ || (value == deviceLayer_ && !forcing_))
        return;
    if (value != dlNone && value != dlWin32 && value != dlOther)
        return;
    deviceLayer_ = value;
    DeviceLayerChanged();
}

void TApdCustomComPort::SetDispatcherMode(TDispatcherMode value)
{
    if (active_)
        return;
    if (value == dNone || value == dWin32)
        dispatcherMode_ = value;
}

void TApdCustomComPort::SetComNumber(uint16_t value)
{
    if (value == comNumber_ && !forcing_)
        return;
    if (!active_) {
        comNumber_ = value;
        return;
    }
    // The close keeps the triggers in the saved image and the open puts them back; a trace or log
    // that ran goes on (a paused one ends). A close that failed to write its trace still moves the
    // port, and its failure is raised afterwards.
    const TTraceLogState tracing = tracing_;
    const TTraceLogState logging = logging_;
    TFirstFailure failures;
    failures.Run([this] { SetOpen(false); });
    comNumber_ = value;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    failures.Raise();
}

void TApdCustomComPort::ApplyLineSettings()
{
    if (active_)
        Check(serial::ApplyLineSettings(portSlot_, baud_, parity_, dataBits_, stopBits_));
}

void TApdCustomComPort::SetBaud(int32_t value)
{
    if (value == baud_ && !forcing_)
        return;
    baud_ = value;
    ApplyLineSettings();
}

void TApdCustomComPort::SetParity(TParity value)
{
    if (value == parity_ && !forcing_)
        return;
    parity_ = value;
    ApplyLineSettings();
}

void TApdCustomComPort::SetDataBits(uint16_t value)
{
    if (value == dataBits_ && !forcing_)
        return;
    dataBits_ = value;
    ApplyLineSettings();
}

void TApdCustomComPort::SetStopBits(uint16_t value)
{
    if (value == stopBits_ && !forcing_)
        return;
    stopBits_ = value;
    ApplyLineSettings();
}

void TApdCustomComPort::SetInSize(uint16_t value)
{
    if (value == inSize_ && !forcing_)
        return;
    inSize_ = value;
    if (active_)
        Check(SetBufferSizes(portSlot_, inSize_, outSize_));
}

void TApdCustomComPort::SetOutSize(uint16_t value)
{
    if (value == outSize_ && !forcing_)
        return;
    outSize_ = value;
    if (active_)
        Check(SetBufferSizes(portSlot_, inSize_, outSize_));
}

void TApdCustomComPort::SetDTR(bool value)
{
    if (value == dtr_ && !forcing_)
        return;
    dtr_ = value;
    if (active_)
        Check(DriveDTR(portSlot_, dtr_));
}

void TApdCustomComPort::SetRTS(bool value)
{
    if (value == rts_ && !forcing_)
        return;
    rts_ = value;
    if (active_)
        Check(DriveRTS(portSlot_, rts_));
}

void TApdCustomComPort::ComputeFlowDefaults(unsigned fullPercent, unsigned resumePercent)
{
    if (bufferFull_ == 0 || bufferFull_ > inSize_)
        bufferFull_ = static_cast<uint16_t>(inSize_ * fullPercent / 100);
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
        bufferResume_ = static_cast<uint16_t>(inSize_ * resumePercent / 100);
}

void TApdCustomComPort::SetHWFlowOptions(THWFlowOptions value)
{
    if (value == hwFlowOptions_ && !forcing_)
        return;
    hwFlowOptions_ = value;
    if (!hwFlowOptions_.Empty())
        ComputeFlowDefaults(90, 10);
    if (!active_)
        return;
    if (hwFlowOptions_.Empty())
        Check(DisableHardwareFlow(portSlot_));
    else
        Check(EnableHardwareFlow(portSlot_, bufferFull_, bufferResume_, hwFlowOptions_.Bits()));
}

void TApdCustomComPort::SetSWFlowOptions(TSWFlowOptions value)
{
    if (value == swFlowOptions_ && !forcing_)
        return;
    swFlowOptions_ = value;
    if (swFlowOptions_ != swfNone)
        ComputeFlowDefaults(75, 25);
    if (!active_)
        return;
    uint16_t bits = 0;
    switch (swFlowOptions_) {
    case swfReceive:
        bits = sfReceive;
        break;
    case swfTransmit:
        bits = sfTransmit;
        break;
    case swfBoth:
        bits = sfReceive | sfTransmit;
        break;
    case swfNone:
        break;
    }
    if (bits == 0)
        Check(DisableSoftwareFlow(portSlot_));
    else
        Check(EnableSoftwareFlow(portSlot_, bufferFull_, bufferResume_, bits));
}

void TApdCustomComPort::SetXOnChar(char value)
{
    if (value == xonChar_ && !forcing_)
        return;
    xonChar_ = value;
    if (active_)
        Check(SetFlowChars(portSlot_, Byte(xonChar_), Byte(xoffChar_)));
}

void TApdCustomComPort::SetXOffChar(char value)
{
    if (value == xoffChar_ && !forcing_)
        return;
    xoffChar_ = value;
    if (active_)
        Check(SetFlowChars(portSlot_, Byte(xonChar_), Byte(xoffChar_)));
}

void TApdCustomComPort::ReapplyFlow()
{
    TForcing forcing(forcing_);
    SetHWFlowOptions(hwFlowOptions_);
    SetSWFlowOptions(swFlowOptions_);
}

void TApdCustomComPort::SetBufferFull(uint16_t value)
{
    if (value == bufferFull_ && !forcing_)
        return;
    bufferFull_ = value > inSize_ ? static_cast<uint16_t>(value * 9u / 10u) : value;
    ReapplyFlow();
}

void TApdCustomComPort::SetBufferResume(uint16_t value)
{
    if (value == bufferResume_ && !forcing_)
        return;
    bufferResume_ = value > bufferFull_ ? static_cast<uint16_t>(bufferFull_ / 10u) : value;
    ReapplyFlow();
}

void TApdCustomComPort::SetUseMSRShadow(bool value)
{
    if (value == useMSRShadow_ && !forcing_)
        return;
    useMSRShadow_ = value;
    if (active_)
        Check(value ? SetOptionBits(portSlot_, poUseMsrShadow)
                    : ClearOptionBits(portSlot_, poUseMsrShadow));
}

void TApdCustomComPort::SetUseEventWord(bool value)
{
    if (value == useEventWord_ && !forcing_)
        return;
    useEventWord_ = value;
    if (active_)
        Check(value ? SetOptionBits(portSlot_, poUseEventWord)
                    : ClearOptionBits(portSlot_, poUseEventWord));
}

void TApdCustomComPort::SetTriggerLength(uint16_t value)
{
    if (value == triggerLength_ && !forcing_)
        return;
    triggerLength_ = value;
    if (active_)
        Check(SetDataThreshold(portSlot_, triggerLength_));
}

// ---- Trace and log ----

namespace
{

// What the trace or log operations of the dispatcher do for one component property.
struct TRecorder {
    int (*Create)(int port, int size);
    int (*Clear)(int port);
    int (*Discard)(int port);
    int (*Resume)(int port);
    int (*Pause)(int port);
    int (*Write)(int port, const std::string &file, bool append, bool hex);
};

constexpr TRecorder TraceRecorder{TraceCreate, TraceClear, TraceDiscard,
                                  TraceResume, TracePause, TraceWrite};
constexpr TRecorder LogRecorder{LogCreate, LogClear, LogDiscard, LogResume, LogPause, LogWrite};

// Moves a trace or log of an active port from its state to the wanted one; stores the new state
// before the result is checked, so a failure leaves the state that really holds.
int ChangeRecording(const TRecorder &recorder, int port, TTraceLogState &state,
                    TTraceLogState wanted, int size, const std::string &file, bool hex)
{
    const bool running = state == tlOn || state == tlPause;
    int result = ecOK;
    switch (wanted) {
    case tlOff:
        if (running)
            result = recorder.Discard(port);
        state = tlOff;
        break;
    case tlOn:
        if (state == tlPause) {
            result = recorder.Resume(port);
            state = tlOn;
        } else {
            result = recorder.Create(port, size);
            state = result < 0 ? tlOff : tlOn;
        }
        break;
    case tlDump:
    case tlAppend:
        if (running) {
            recorder.Resume(port);
            result = recorder.Write(port, file, wanted == tlAppend, hex);
            state = tlOff;
        }
        break;
    case tlClear:
        if (running)
            result = recorder.Clear(port);
        break;
    case tlPause:
        if (state == tlOn) {
            result = recorder.Pause(port);
            state = tlPause;
        }
        break;
    }
    return result;
}

} // namespace

void TApdCustomComPort::SetTracing(TTraceLogState value)
{
    if (value == tracing_ && !forcing_)
        return;
    if (!active_) {
        tracing_ = value == tlOn ? tlOn : tlOff;
        return;
    }
    Check(ChangeRecording(TraceRecorder, portSlot_, tracing_, value, traceSize_, traceName_,
                          traceHex_));
}

void TApdCustomComPort::SetLogging(TTraceLogState value)
{
    if (value == logging_ && !forcing_)
        return;
    if (!active_) {
        logging_ = value == tlOn ? tlOn : tlOff;
        return;
    }
    Check(ChangeRecording(LogRecorder, portSlot_, logging_, value, logSize_, logName_, logHex_));
}

void TApdCustomComPort::SetTraceSize(uint16_t value)
{
    value = std::min(value, MaxTraceSize);
    if (value == traceSize_ && !forcing_)
        return;
    traceSize_ = value;
    if (active_ && (tracing_ == tlOn || tracing_ == tlPause)) {
        const TTraceLogState previous = tracing_;
        SetTracing(tlOff);
        SetTracing(previous);
    }
}

void TApdCustomComPort::SetLogSize(uint16_t value)
{
    value = std::min(value, MaxLogSize);
    if (value == logSize_ && !forcing_)
        return;
    logSize_ = value;
    if (active_ && (logging_ == tlOn || logging_ == tlPause)) {
        const TTraceLogState previous = logging_;
        SetLogging(tlOff);
        SetLogging(previous);
    }
}

void TApdCustomComPort::SetTraceName(const std::string &value)
{
    traceName_ = value.substr(0, MaxNameLength);
}

void TApdCustomComPort::SetLogName(const std::string &value)
{
    logName_ = value.substr(0, MaxNameLength);
}

// ---- Operations ----

bool TApdCustomComPort::HasInput()
{
    return active_ && serial::HasInput(portSlot_);
}

char TApdCustomComPort::PeekByte(uint16_t position)
{
    uint8_t c = 0;
    Check(serial::PeekByte(PortHandle(), c, position));
    return static_cast<char>(c);
}

char TApdCustomComPort::ReadByte()
{
    uint8_t c = 0;
    Check(serial::ReadByte(PortHandle(), c));
    return static_cast<char>(c);
}

void TApdCustomComPort::ReadBytes(void *buffer, uint16_t length)
{
    Check(serial::ReadBytes(PortHandle(), static_cast<uint8_t *>(buffer), length));
}

uint16_t TApdCustomComPort::InputCount()
{
    if (!active_)
        return 0;
    return static_cast<uint16_t>(Check(serial::InputCount(portSlot_)));
}

void TApdCustomComPort::DiscardInput()
{
    Check(serial::DiscardInput(PortHandle()));
}

void TApdCustomComPort::SendByte(char c)
{
    Check(serial::SendByte(PortHandle(), Byte(c)));
}

void TApdCustomComPort::SendText(const std::string &text)
{
    if (text.empty())
        return;
    // A block longer than any output ring can never be queued; its length must not wrap to 16 bits
    // and send a stub of it.
    if (text.size() > UINT16_MAX) {
        Check(ecOutputBufferTooSmall);
        return;
    }
    SendBytes(text.data(), static_cast<uint16_t>(text.size()));
}

void TApdCustomComPort::SendBytes(const void *buffer, uint16_t length)
{
    Check(serial::SendBytes(PortHandle(), static_cast<const uint8_t *>(buffer), length));
}

uint16_t TApdCustomComPort::OutputCount()
{
    if (!active_)
        return 0;
    return static_cast<uint16_t>(Check(serial::OutputCount(portSlot_)));
}

uint16_t TApdCustomComPort::OutputRoom()
{
    if (!active_)
        return outSize_;
    return static_cast<uint16_t>(Check(serial::OutputRoom(portSlot_)));
}

uint16_t TApdCustomComPort::OutputRingRoom()
{
    if (!active_)
        return outSize_;
    return static_cast<uint16_t>(Check(serial::OutputRingRoom(portSlot_)));
}

void TApdCustomComPort::AddDispatchProcedure(serial::TEventProc proc, uintptr_t value)
{
    Check(serial::AddHandler(PortHandle(), proc, value, 1));
}

void TApdCustomComPort::RemoveDispatchProcedure(serial::TEventProc proc, uintptr_t value)
{
    if (active_)
        serial::RemoveHandler(portSlot_, proc, value);
}

void TApdCustomComPort::DiscardOutput()
{
    Check(serial::DiscardOutput(PortHandle()));
}

void TApdCustomComPort::DeferOutput(bool on)
{
    if (active_)
        serial::DeferOutput(portSlot_, on);
}

uint16_t TApdCustomComPort::AddMatchTrigger(const std::string &text, bool ignoreCase)
{
    const std::string passed = text.substr(0, MaxNameLength);
    return static_cast<uint16_t>(Check(serial::AddMatchTrigger(PortHandle(), passed, ignoreCase)));
}

uint16_t TApdCustomComPort::AddClockTrigger()
{
    return static_cast<uint16_t>(Check(serial::AddClockTrigger(PortHandle())));
}

uint16_t TApdCustomComPort::AddStateTrigger(uint16_t kind)
{
    return static_cast<uint16_t>(Check(serial::AddStateTrigger(PortHandle(), kind)));
}

void TApdCustomComPort::DropTrigger(uint16_t handle)
{
    if (active_)
        Check(serial::DropTrigger(portSlot_, handle));
}

void TApdCustomComPort::ArmClockTrigger(uint16_t handle, int32_t ticks, bool activate)
{
    Check(serial::ArmClockTrigger(PortHandle(), handle, ticks, activate));
}

void TApdCustomComPort::ArmStateTrigger(uint16_t handle, uint16_t value, bool activate)
{
    Check(serial::ArmStateTrigger(PortHandle(), handle, value, activate));
}

uint32_t TApdCustomComPort::MatchCount(uint16_t handle)
{
    uint32_t count = 0;
    Check(serial::MatchCount(PortHandle(), handle, count));
    return count;
}

bool TApdCustomComPort::CTS()
{
    return active_ && Check(TestCTS(portSlot_)) == 1;
}
bool TApdCustomComPort::DSR()
{
    return active_ && Check(TestDSR(portSlot_)) == 1;
}
bool TApdCustomComPort::DCD()
{
    return active_ && Check(TestDCD(portSlot_)) == 1;
}
bool TApdCustomComPort::RingSeen()
{
    return active_ && Check(TestRingEdge(portSlot_)) == 1;
}
bool TApdCustomComPort::LineBreak()
{
    return active_ && Check(TestBreak(portSlot_)) == 1;
}

bool TApdCustomComPort::LineFailed()
{
    return LastSystemError() != 0;
}

int TApdCustomComPort::LastSystemError()
{
    return active_ ? Check(LineFailure(portSlot_)) : 0;
}

uint16_t TApdCustomComPort::PendingLineError()
{
    if (!active_)
        return 0;
    return static_cast<uint16_t>(Check(TakeLineError(portSlot_)));
}

// ---- Waiting for text ----

TDeliveryHold::TDeliveryHold(TApdCustomComPort &port) : port_(port), slot_(port.PortSlot())
{
    result_ = HoldDelivery(slot_, wasHeld_, true);
    if (result_ != ecOK || wasHeld_)
        return;
    // A delivery handed over before the hold waits in this thread's queue (or is about to be
    // posted), to this port's target or to another handler's of the port (a terminal's): it runs
    // now, before the caller goes on, instead of inside the hold or not at all.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendLimitMs);
    bool underWay = true;
    while (DeliveryUnderWay(slot_, underWay) == ecOK && underWay &&
           std::chrono::steady_clock::now() < limit) {
        TGuiMessageTarget::SendPosted();
        std::this_thread::yield();
    }
}

TDeliveryHold::~TDeliveryHold()
{
    bool ignored = false;
    if (result_ == ecOK && !wasHeld_ && port_.Active() && port_.PortSlot() == slot_)
        HoldDelivery(slot_, ignored, false);
}

bool TApdCustomComPort::AwaitText(const std::string &text, int32_t timeout, bool yield,
                                  bool ignoreCase)
{
    if (text.empty())
        return true;
    PortHandle(); // opens an auto-open port first, as every operation does
    const TDeliveryHold hold(*this);
    Check(hold.Result());
    waitCancelled_ = false;

    const uint32_t limit = static_cast<uint32_t>(std::clamp(timeout, 0, MaxWaitTicks));
    const uint32_t start = platform::Ticks55();
    auto fold = [ignoreCase](char c) {
        return ignoreCase ? static_cast<char>(UpperByte(Byte(c))) : c;
    };
    const char first = fold(text[0]);

    size_t matched = 0;
    bool found = false;
    bool expired = false;
    // Once the time is up, the bytes already received are still read: a wait whose yield ran a
    // long handler (another run's own wait, one level further in) must not call a reply that
    // came in time missing.
    uint32_t lastBytes = 0;
    while (!found && !ApplicationTerminating()) {
        if (expired && lastBytes-- == 0)
            break;
        bool gotByte = false;
        if (HasInput()) {
            const char c = ReadByte();
            gotByte = true;
            ++matched;
            DoWaitChar(c);
            const char folded = fold(c);
            if (folded == fold(text[matched - 1]))
                found = matched == text.size();
            else
                matched = folded == first ? 1 : 0;
        }
        if (found)
            break;
        if (expired)
            continue;
        expired = TicksSince(start) > limit;
        if (expired) {
            lastBytes = InputCount();
            continue;
        }
        if (yield)
            QCoreApplication::processEvents();
        // A port closed meanwhile (by a handler run while yielding) will bring no more input.
        if (!active_ || waitCancelled_)
            break;
        if (!gotByte && !expired)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return found || ApplicationTerminating();
}

// ---- Events ----

void TApdCustomComPort::DoTrigger(uint16_t msg, uint16_t triggerHandle, uint16_t data)
{
    if (OnTrigger)
        OnTrigger(*this, msg, triggerHandle, data);
}

void TApdCustomComPort::DoTriggerAvail(uint16_t count)
{
    if (OnTriggerAvail)
        OnTriggerAvail(*this, count);
}

void TApdCustomComPort::DoTriggerData(uint16_t triggerHandle)
{
    if (OnTriggerData)
        OnTriggerData(*this, triggerHandle);
}

void TApdCustomComPort::DoTriggerStatus(uint16_t triggerHandle)
{
    if (OnTriggerStatus)
        OnTriggerStatus(*this, triggerHandle);
}

void TApdCustomComPort::DoTriggerTimer(uint16_t triggerHandle)
{
    if (OnTriggerTimer)
        OnTriggerTimer(*this, triggerHandle);
}

void TApdCustomComPort::DoTriggerLineError(uint16_t error, bool lineBreak)
{
    if (OnTriggerLineError)
        OnTriggerLineError(*this, error, lineBreak);
}

void TApdCustomComPort::DoTriggerModemStatus()
{
    if (OnTriggerModemStatus)
        OnTriggerModemStatus(*this);
}

void TApdCustomComPort::DoTriggerOutbuffFree()
{
    if (OnTriggerOutbuffFree)
        OnTriggerOutbuffFree(*this);
}

void TApdCustomComPort::DoTriggerOutbuffUsed()
{
    if (OnTriggerOutbuffUsed)
        OnTriggerOutbuffUsed(*this);
}

void TApdCustomComPort::DoTriggerOutSent()
{
    if (OnTriggerOutSent)
        OnTriggerOutSent(*this);
}

void TApdCustomComPort::DoWaitChar(char c)
{
    if (OnWaitChar)
        OnWaitChar(*this, c);
}

void TApdCustomComPort::ComWindowProc(unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    if (lParam <= 0xFFFF || lParam >= 0x650000)
        return;
    const int slot = static_cast<int>(lParam >> 16);
    TApdCustomComPort *port = PortComponentTable[slot];
    if (port == nullptr)
        return;
    ++gWindowProcDepth;
    try {
        port->DispatchMessage(msg, static_cast<uint16_t>(wParam),
                              static_cast<uint16_t>(lParam & 0xFFFF), slot);
    } catch (const std::exception &e) {
        if (OnMainThread())
            platform::ShowException(e);
    } catch (...) {
        // Nothing is known to show; the message is still answered.
    }
    --gWindowProcDepth;
}

void TApdCustomComPort::DispatchMessage(unsigned msg, uint16_t wParam, uint16_t lParamLow, int slot)
{
    DoTrigger(static_cast<uint16_t>(msg), wParam, msg == MsgTriggerAvail ? wParam : lParamLow);
    switch (msg) {
    case MsgTriggerAvail:
        DoTriggerAvail(wParam);
        break;
    case MsgTriggerData:
        DoTriggerData(wParam);
        break;
    case MsgTriggerTimer:
        DoTriggerTimer(wParam);
        break;
    case MsgTriggerStatus:
        DoTriggerStatus(wParam);
        switch (StatusTriggerKind(slot, wParam)) {
        case StatusModem:
            DoTriggerModemStatus();
            break;
        case StatusLineError: {
            const bool lineBreak = LineBreak();
            DoTriggerLineError(PendingLineError(), lineBreak);
            break;
        }
        case StatusOutFree:
            DoTriggerOutbuffFree();
            break;
        case StatusOutUsed:
            DoTriggerOutbuffUsed();
            break;
        case StatusOutSent:
            DoTriggerOutSent();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

// ---- Copying ----

void TApdCustomComPort::Assign(const TApdCustomComPort &source)
{
    if (&source == this)
        return;
    SetOpen(false);
    deviceLayer_ = source.deviceLayer_;
    comNumber_ = source.comNumber_;
    deviceName_ = source.deviceName_;
    baud_ = source.baud_;
    parity_ = source.parity_;
    dataBits_ = source.dataBits_;
    stopBits_ = source.stopBits_;
    inSize_ = source.inSize_;
    outSize_ = source.outSize_;
    autoOpen_ = source.autoOpen_;
    dispatcherMode_ = source.dispatcherMode_;
    dtr_ = source.dtr_;
    rts_ = source.rts_;
    hwFlowOptions_ = source.hwFlowOptions_;
    swFlowOptions_ = source.swFlowOptions_;
    xonChar_ = source.xonChar_;
    xoffChar_ = source.xoffChar_;
    bufferFull_ = source.bufferFull_;
    bufferResume_ = source.bufferResume_;
    // A closed component keeps only a trace or log that is to start at the next open.
    tracing_ = source.tracing_ == tlOn ? tlOn : tlOff;
    traceSize_ = source.traceSize_;
    traceName_ = source.traceName_;
    traceHex_ = source.traceHex_;
    logging_ = source.logging_ == tlOn ? tlOn : tlOff;
    logSize_ = source.logSize_;
    logName_ = source.logName_;
    logHex_ = source.logHex_;
    useMSRShadow_ = source.useMSRShadow_;
    useEventWord_ = source.useEventWord_;
    triggerLength_ = source.triggerLength_;
    commNotificationLevel_ = source.commNotificationLevel_;
    tapiMode_ = source.tapiMode_;
    deviceHandle_ = source.deviceHandle_;
    CustomDeviceLayer = source.CustomDeviceLayer;

    OnTrigger = source.OnTrigger;
    OnTriggerAvail = source.OnTriggerAvail;
    OnTriggerData = source.OnTriggerData;
    OnTriggerStatus = source.OnTriggerStatus;
    OnTriggerTimer = source.OnTriggerTimer;
    OnTriggerLineError = source.OnTriggerLineError;
    OnTriggerModemStatus = source.OnTriggerModemStatus;
    OnTriggerOutbuffFree = source.OnTriggerOutbuffFree;
    OnTriggerOutbuffUsed = source.OnTriggerOutbuffUsed;
    OnTriggerOutSent = source.OnTriggerOutSent;
    OnWaitChar = source.OnWaitChar;
    OpenedNotice = source.OpenedNotice;
    ClosingNotice = source.ClosingNotice;
    users_ = source.users_;

    open_ = false;
    if (source.active_ && StashTriggers(source.portSlot_, *savedTriggers_) == ecOK)
        savedTriggersValid_ = true;
}

// ---- Program start ----

void InitializeComPorts()
{
    std::fill(std::begin(PortComponentTable), std::end(PortComponentTable), nullptr);
    InstallPosixDeviceLayer();
}

} // namespace serial
