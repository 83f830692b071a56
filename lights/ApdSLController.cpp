#include "lights/ApdSLController.h"

#include "platform/MessageBox.h"
#include "serial/ApdExcept.h"
#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/MessageTarget.h"
#include "serial/Triggers.h"

#include <algorithm>
#include <array>
#include <exception>

namespace lights
{

namespace
{

// Modem-status shadow bits the lamps watch.
constexpr uint8_t ModemCTS = 0x10;
constexpr uint8_t ModemDSR = 0x20;
constexpr uint8_t ModemDCD = 0x80;
constexpr uint8_t ModemRingEdge = 0x04;

// A timer message that has not come this many ticks after the timer ran out never will: the
// dispatcher gives a message up when the GUI thread has not taken it within its send limit (the
// loader's pauses hold that thread longer), and a timer fires once per arming. Checked this often.
constexpr int32_t LostAfterTicks = serial::kSendLimitMs / 55 + 3;
constexpr int LostCheckMs = 250;

// Line-error masks as ArmStateTrigger takes them: overrun, parity and framing; break.
constexpr uint16_t ErrorMask = 7;
constexpr uint16_t BreakMask = 8;

void Light(TApdCustomStatusLight *lamp, bool lit)
{
    if (lamp != nullptr)
        lamp->SetLit(lit);
}

std::array<TApdCustomStatusLight **, 8> Entries(TLightSet &set)
{
    return {&set.CTSLight, &set.DSRLight, &set.DCDLight,   &set.RINGLight,
            &set.TXDLight, &set.RXDLight, &set.ERRORLight, &set.BREAKLight};
}

} // namespace

TApdCustomSLController::TApdCustomSLController(QObject *owner, serial::TApdCustomComPort *comPort)
    : QObject(owner), comPort_(comPort)
{
    lostCheck_.setInterval(LostCheckMs);
    connect(&lostCheck_, &QTimer::timeout, this, [this] { CheckLostTimers(); });
    Attach();
}

TApdCustomSLController::~TApdCustomSLController()
{
    StopMonitoring();
    state_ = TState::Idle;
    Detach();
    for (const QMetaObject::Connection &watch : lampWatches_)
        disconnect(watch);
}

// ---- Properties ----

void TApdCustomSLController::SetComPort(serial::TApdCustomComPort *port)
{
    if (port == comPort_)
        return;
    const bool wasWatching = Watching();
    Detach();
    StopMonitoring();
    state_ = TState::Idle;
    comPort_ = port;
    // Heard from before monitoring resumes, so a refusal below still leaves the port watched.
    Attach();
    if (wasWatching)
        SetWatching(true);
}

void TApdCustomSLController::SetLights(const TLightSet &lights)
{
    if (lights == lights_)
        return;
    const bool restart = state_ == TState::Monitoring;
    if (restart) {
        StopMonitoring();
        state_ = TState::Idle;
    }
    lights_ = lights;
    WatchLamps();
    if (restart)
        SetWatching(true);
}

void TApdCustomSLController::SetWatching(bool on)
{
    if (Loading() || on == Watching())
        return;
    if (on) {
        StartMonitoring();
        return;
    }
    StopMonitoring();
    state_ = TState::Idle;
}

// ---- Removal notices ----

void TApdCustomSLController::WatchLamps()
{
    for (const QMetaObject::Connection &watch : lampWatches_)
        disconnect(watch);
    lampWatches_.clear();
    for (TApdCustomStatusLight **entry : Entries(lights_))
        if (*entry != nullptr)
            lampWatches_.push_back(connect(*entry, &QObject::destroyed, this,
                                           [this](QObject *lamp) { ForgetLamp(lamp); }));
}

void TApdCustomSLController::ForgetLamp(QObject *lamp)
{
    // The lamp is past its own destructor: only its address is compared.
    for (TApdCustomStatusLight **entry : Entries(lights_))
        if (*entry != nullptr && static_cast<QObject *>(*entry) == lamp)
            *entry = nullptr;
}

void TApdCustomSLController::Attach()
{
    if (comPort_ == nullptr)
        return;
    // A port that copied another's users (Assign) would tell this controller about itself.
    comPort_->AttachNotifier(this, [this](serial::TApdCustomComPort &cp, bool opening) {
        if (&cp == comPort_)
            PortNotice(opening);
    });
    comPort_->FreeNotification(this, [this](serial::TApdCustomComPort &) { PortFreed(); });
}

void TApdCustomSLController::Detach()
{
    if (comPort_ == nullptr)
        return;
    comPort_->DetachNotifier(this);
    comPort_->RemoveFreeNotification(this);
}

void TApdCustomSLController::PortFreed()
{
    // The port has closed already (its closing notice stopped the monitoring); its events are
    // still there to unhook from should anything be left.
    StopMonitoring();
    state_ = TState::Idle;
    comPort_ = nullptr;
}

void TApdCustomSLController::PortNotice(bool opening)
{
    if (!opening) {
        if (state_ == TState::Monitoring) {
            StopMonitoring();
            state_ = TState::Requested;
        }
        return;
    }
    if (state_ != TState::Requested)
        return;
    state_ = TState::Idle;
    try {
        StartMonitoring();
    } catch (const std::exception &e) {
        // The port did open: lamps that cannot be driven must not make its opening look failed
        // to whoever opened it. The operator is told, and the lamps stay off.
        platform::ShowException(e);
    }
}

// ---- Monitoring on and off ----

void TApdCustomSLController::StartMonitoring()
{
    if (comPort_ == nullptr)
        serial::RaiseOnError(this, serial::ecPortNotAssigned);
    if (!comPort_->Open()) {
        state_ = TState::Requested;
        return;
    }
    try {
        using serial::TApdCustomComPort;
        availHook_.Install(comPort_->OnTriggerAvail,
                           [this](TApdCustomComPort &cp, uint16_t n) { TriggerAvail(cp, n); });
        statusHook_.Install(comPort_->OnTriggerStatus,
                            [this](TApdCustomComPort &cp, uint16_t h) { TriggerStatus(cp, h); });
        timerHook_.Install(comPort_->OnTriggerTimer,
                           [this](TApdCustomComPort &cp, uint16_t h) { TriggerTimer(cp, h); });
        AllocateTriggers();
        ArmTriggers();
        for (TApdCustomStatusLight **entry : Entries(lights_))
            Light(*entry, false);
        if (lights_.CTSLight != nullptr)
            lights_.CTSLight->SetLit(comPort_->CTS());
        if (lights_.DSRLight != nullptr)
            lights_.DSRLight->SetLit(comPort_->DSR());
        if (lights_.DCDLight != nullptr)
            lights_.DCDLight->SetLit(comPort_->DCD());
    } catch (...) {
        StopMonitoring();
        state_ = TState::Idle;
        throw;
    }
    state_ = TState::Monitoring;
}

void TApdCustomSLController::AllocateTriggers()
{
    modemMask_ = 0;
    modemTrigger_ = errorTrigger_ = breakTrigger_ = outSentTrigger_ = 0;
    errorTimer_ = breakTimer_ = rxdTimer_ = txdTimer_ = ringTimer_ = 0;
    serial::TApdCustomComPort &port = *comPort_;
    const TLightSet &l = lights_;
    if (l.CTSLight || l.DSRLight || l.DCDLight || l.RINGLight) {
        modemTrigger_ = port.AddStateTrigger(serial::StatusModem);
        if (l.RINGLight)
            ringTimer_ = port.AddClockTrigger();
    }
    if (l.ERRORLight) {
        errorTrigger_ = port.AddStateTrigger(serial::StatusLineError);
        errorTimer_ = port.AddClockTrigger();
    }
    if (l.BREAKLight) {
        breakTrigger_ = port.AddStateTrigger(serial::StatusLineError);
        breakTimer_ = port.AddClockTrigger();
    }
    if (l.RXDLight)
        rxdTimer_ = port.AddClockTrigger();
    if (l.TXDLight) {
        outSentTrigger_ = port.AddStateTrigger(serial::StatusOutSent);
        txdTimer_ = port.AddClockTrigger();
    }
    if (l.CTSLight)
        modemMask_ |= ModemCTS;
    if (l.DSRLight)
        modemMask_ |= ModemDSR;
    if (l.DCDLight)
        modemMask_ |= ModemDCD;
    if (l.RINGLight)
        modemMask_ |= ModemRingEdge;
}

void TApdCustomSLController::ArmTriggers()
{
    serial::TApdCustomComPort &port = *comPort_;
    if (modemTrigger_ != 0)
        port.ArmStateTrigger(modemTrigger_, modemMask_, true);
    if (errorTrigger_ != 0)
        port.ArmStateTrigger(errorTrigger_, ErrorMask, true);
    if (breakTrigger_ != 0)
        port.ArmStateTrigger(breakTrigger_, BreakMask, true);
    if (outSentTrigger_ != 0)
        port.ArmStateTrigger(outSentTrigger_, 0, true);
}

void TApdCustomSLController::StopMonitoring() noexcept
{
    due_.clear();
    lostCheck_.stop();
    statusHook_.Unlink();
    timerHook_.Unlink();
    availHook_.Unlink();
    DropTriggers();
}

void TApdCustomSLController::DropTriggers() noexcept
{
    for (uint16_t *handle :
         {&modemTrigger_, &ringTimer_, &errorTrigger_, &errorTimer_, &breakTrigger_, &breakTimer_,
          &rxdTimer_, &outSentTrigger_, &txdTimer_}) {
        if (*handle != 0 && comPort_ != nullptr) {
            try {
                comPort_->DropTrigger(*handle);
            } catch (...) {
                // The port refuses only a port number that is gone: so is the trigger.
            }
        }
        *handle = 0;
    }
    modemMask_ = 0;
}

// ---- Events ----

void TApdCustomSLController::TriggerAvail(serial::TApdCustomComPort &CP, uint16_t)
{
    // Only the watched port's events are this controller's (a copied port copies the hooks).
    if (&CP != comPort_)
        return;
    if (lights_.RXDLight != nullptr && !lights_.RXDLight->Lit()) {
        lights_.RXDLight->SetLit(true);
        ArmTimer(CP, rxdTimer_, rxdOffTimeout_);
    }
}

void TApdCustomSLController::TriggerStatus(serial::TApdCustomComPort &CP, uint16_t TriggerHandle)
{
    if (&CP != comPort_ || TriggerHandle == 0)
        return;
    if (TriggerHandle == modemTrigger_) {
        if (lights_.DCDLight != nullptr)
            lights_.DCDLight->SetLit(CP.DCD());
        if (lights_.CTSLight != nullptr)
            lights_.CTSLight->SetLit(CP.CTS());
        if (lights_.DSRLight != nullptr)
            lights_.DSRLight->SetLit(CP.DSR());
        // Reading the ring edge clears it, also while the lamp is still lit from the last ring.
        if (lights_.RINGLight != nullptr && CP.RingSeen() && !lights_.RINGLight->Lit()) {
            lights_.RINGLight->SetLit(true);
            ArmTimer(CP, ringTimer_, ringOffTimeout_);
        }
        CP.ArmStateTrigger(modemTrigger_, modemMask_, true);
    } else if (TriggerHandle == errorTrigger_) {
        Light(lights_.ERRORLight, true);
        ArmTimer(CP, errorTimer_, errorOffTimeout_);
        CP.PendingLineError();
    } else if (TriggerHandle == breakTrigger_) {
        Light(lights_.BREAKLight, true);
        ArmTimer(CP, breakTimer_, breakOffTimeout_);
        CP.LineBreak();
    } else if (TriggerHandle == outSentTrigger_) {
        Light(lights_.TXDLight, true);
        ArmTimer(CP, txdTimer_, txdOffTimeout_);
    }
}

void TApdCustomSLController::TriggerTimer(serial::TApdCustomComPort &CP, uint16_t TriggerHandle)
{
    if (&CP != comPort_ || TriggerHandle == 0)
        return;
    std::erase_if(due_, [&](const TDue &d) { return d.Handle == TriggerHandle; });
    TimerExpired(CP, TriggerHandle);
}

void TApdCustomSLController::TimerExpired(serial::TApdCustomComPort &CP, uint16_t TriggerHandle)
{
    if (TriggerHandle == errorTimer_) {
        Light(lights_.ERRORLight, false);
        // Errors that came while the lamp was lit were shown by it; only later ones light it
        // again (the pending bits would otherwise fire the trigger at once).
        CP.PendingLineError();
        CP.ArmStateTrigger(errorTrigger_, ErrorMask, true);
    } else if (TriggerHandle == breakTimer_) {
        Light(lights_.BREAKLight, false);
        CP.LineBreak();
        CP.ArmStateTrigger(breakTrigger_, BreakMask, true);
    } else if (TriggerHandle == rxdTimer_) {
        if (CP.HasInput())
            ArmTimer(CP, rxdTimer_, rxdOffTimeout_);
        else
            Light(lights_.RXDLight, false);
    } else if (TriggerHandle == txdTimer_) {
        if (CP.OutputCount() > 0) {
            ArmTimer(CP, txdTimer_, txdOffTimeout_);
        } else {
            Light(lights_.TXDLight, false);
            CP.ArmStateTrigger(outSentTrigger_, 0, true);
        }
    } else if (TriggerHandle == ringTimer_) {
        Light(lights_.RINGLight, false);
    }
}

// ---- Timer messages that never came ----

void TApdCustomSLController::ArmTimer(serial::TApdCustomComPort &CP, uint16_t handle, int32_t ticks)
{
    CP.ArmClockTrigger(handle, ticks, true);
    std::erase_if(due_, [&](const TDue &d) { return d.Handle == handle; });
    due_.push_back({handle, serial::CurrentTick() + std::max(ticks, 1) + LostAfterTicks});
    if (!lostCheck_.isActive())
        lostCheck_.start();
}

void TApdCustomSLController::CheckLostTimers()
{
    if (state_ != TState::Monitoring || comPort_ == nullptr) {
        due_.clear();
    } else {
        // Taken out before they are handled: handling one may arm it (or another) again.
        const int32_t now = serial::CurrentTick();
        std::vector<uint16_t> lost;
        std::erase_if(due_, [&](const TDue &d) {
            const bool over = now - d.Tick >= 0;
            if (over)
                lost.push_back(d.Handle);
            return over;
        });
        // Run from the controller's own timer, not from a trigger message: what the port raises
        // here is shown as the message window would show it, instead of leaving Qt's loop.
        try {
            for (const uint16_t handle : lost)
                TimerExpired(*comPort_, handle);
        } catch (const std::exception &e) {
            platform::ShowException(e);
        }
    }
    if (due_.empty())
        lostCheck_.stop();
}

} // namespace lights
