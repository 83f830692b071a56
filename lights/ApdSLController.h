#pragma once
// The status-light controller: watches one serial port component and switches up to eight lamps
// (CTS, DSR, DCD, RING, TXD, RXD, ERROR, BREAK). It allocates its own status and timer triggers
// on the port and hooks the port's OnTriggerAvail, OnTriggerStatus and OnTriggerTimer events,
// passing every event on to the handler installed before it.
//
// States: idle; monitoring requested (Watching on while the port is closed, or the port closed
// while monitoring); monitoring. The port's open and close notices move between the last two.
// Everything here belongs to the GUI thread, where the port raises its events.

#include "lights/ApdStatusLight.h"

#include "serial/ApdBaseComponent.h"
#include "serial/ApdComPort.h"
#include "serial/EventHook.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <vector>

namespace lights
{

// The lamps of a controller; an empty one is not monitored.
struct TLightSet {
    TApdCustomStatusLight *CTSLight = nullptr;
    TApdCustomStatusLight *DSRLight = nullptr;
    TApdCustomStatusLight *DCDLight = nullptr;
    TApdCustomStatusLight *RINGLight = nullptr;
    TApdCustomStatusLight *TXDLight = nullptr;
    TApdCustomStatusLight *RXDLight = nullptr;
    TApdCustomStatusLight *ERRORLight = nullptr;
    TApdCustomStatusLight *BREAKLight = nullptr;

    bool operator==(const TLightSet &) const = default;
};

class TApdCustomSLController : public QObject, public serial::TApdBaseComponent
{
    Q_OBJECT

  public:
    enum class TState { Idle, Requested, Monitoring };

    // The owner frees the controller with itself. Port components are not children of their
    // owners here, so the watched port is handed over: the first port of the owner, if any.
    explicit TApdCustomSLController(QObject *owner = nullptr,
                                    serial::TApdCustomComPort *comPort = nullptr);
    ~TApdCustomSLController() override;

    serial::TApdCustomComPort *ComPort() const { return comPort_; }
    // Leaves the old port (monitoring off, its notices no longer heard) and watches the new
    // one, switching monitoring back on if it was on (EPortNotAssigned when the new one is none).
    void SetComPort(serial::TApdCustomComPort *port);

    const TLightSet &Lights() const { return lights_; }
    // A controller that is monitoring starts again with the new lamps, so its triggers match.
    void SetLights(const TLightSet &lights);

    // Times in ticks of 55 ms.
    int32_t ErrorOffTimeout() const { return errorOffTimeout_; }
    void SetErrorOffTimeout(int32_t ticks) { errorOffTimeout_ = ticks; }
    int32_t BreakOffTimeout() const { return breakOffTimeout_; }
    void SetBreakOffTimeout(int32_t ticks) { breakOffTimeout_ = ticks; }
    int32_t RXDOffTimeout() const { return rxdOffTimeout_; }
    void SetRXDOffTimeout(int32_t ticks) { rxdOffTimeout_ = ticks; }
    int32_t TXDOffTimeout() const { return txdOffTimeout_; }
    void SetTXDOffTimeout(int32_t ticks) { txdOffTimeout_ = ticks; }
    int32_t RingOffTimeout() const { return ringOffTimeout_; }
    void SetRingOffTimeout(int32_t ticks) { ringOffTimeout_ = ticks; }

    // True while monitoring or waiting for the port to open. Switching on without a port raises
    // EPortNotAssigned; a trigger that cannot be had raises after the partial set-up is undone.
    bool Watching() const { return state_ != TState::Idle; }
    void SetWatching(bool on);
    TState State() const { return state_; }

  protected:
    // The controller's own work on the port's events; the hooks then call the saved handlers.
    virtual void TriggerAvail(serial::TApdCustomComPort &CP, uint16_t Count);
    virtual void TriggerStatus(serial::TApdCustomComPort &CP, uint16_t TriggerHandle);
    virtual void TriggerTimer(serial::TApdCustomComPort &CP, uint16_t TriggerHandle);

  private:
    void StartMonitoring();
    void StopMonitoring() noexcept;
    void AllocateTriggers();
    void ArmTriggers();
    void DropTriggers() noexcept;
    void PortNotice(bool opening);
    void PortFreed();
    void Attach();
    void Detach();
    void WatchLamps();
    void ForgetLamp(QObject *lamp);
    // What a timer's running out does to its lamp, whether its message came or was lost.
    void TimerExpired(serial::TApdCustomComPort &CP, uint16_t TriggerHandle);
    // Arms a timer and notes the tick by which its message must have come.
    void ArmTimer(serial::TApdCustomComPort &CP, uint16_t handle, int32_t ticks);
    // Timers whose message is overdue are taken as run out: a lamp must not stay lit because one
    // message was given up.
    void CheckLostTimers();

    serial::TApdCustomComPort *comPort_ = nullptr;
    TLightSet lights_;
    std::vector<QMetaObject::Connection> lampWatches_;
    int32_t errorOffTimeout_ = 36;
    int32_t breakOffTimeout_ = 36;
    int32_t rxdOffTimeout_ = 1;
    int32_t txdOffTimeout_ = 1;
    int32_t ringOffTimeout_ = 8;
    TState state_ = TState::Idle;

    serial::TEventHook<serial::TTriggerAvailEvent> availHook_;
    serial::TEventHook<serial::TTriggerStatusEvent> statusHook_;
    serial::TEventHook<serial::TTriggerTimerEvent> timerHook_;

    uint8_t modemMask_ = 0;
    uint16_t modemTrigger_ = 0;
    uint16_t errorTrigger_ = 0;
    uint16_t breakTrigger_ = 0;
    uint16_t outSentTrigger_ = 0;
    uint16_t errorTimer_ = 0;
    uint16_t breakTimer_ = 0;
    uint16_t rxdTimer_ = 0;
    uint16_t txdTimer_ = 0;
    uint16_t ringTimer_ = 0;

    struct TDue {
        uint16_t Handle;
        int32_t Tick; // the engine's tick by which its message is overdue
    };
    std::vector<TDue> due_; // timers armed whose message has not come yet
    QTimer lostCheck_;
};

// The published form of the controller; it adds nothing.
class TApdSLController : public TApdCustomSLController
{
    Q_OBJECT

  public:
    using TApdCustomSLController::TApdCustomSLController;
};

} // namespace lights
