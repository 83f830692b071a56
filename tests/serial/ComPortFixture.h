#pragma once
// Shared pieces of the port component tests: waiting while the GUI thread handles the
// dispatcher's messages, and a recorder that writes every event of a port into one list.

#include "serial/ApdComPort.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace comporttest
{

// Handles GUI messages until pred holds; false when it never did within the limit (a safety
// net for a broken engine, not a measurement).
inline bool WaitUntil(const std::function<bool()> &pred, int limitMs = 5000)
{
    return testsupport::ProcessEventsUntil(pred, limitMs);
}

inline void Settle(int ms = 200) { testsupport::Settle(ms); }

// Windows closed from inside their own handler are deleted later; do it now.
inline void FlushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline std::string Hex4(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
    return text;
}

// Records every trigger event of a port, in order, as short texts.
class TEventLog
{
  public:
    explicit TEventLog(serial::TApdCustomComPort &port)
    {
        using serial::TApdCustomComPort;
        port.OnTrigger = [this](TApdCustomComPort &, uint16_t msg, uint16_t handle, uint16_t data) {
            Add("Trigger " + Hex4(msg) + " " + std::to_string(handle) + " " + std::to_string(data));
        };
        port.OnTriggerAvail = [this](TApdCustomComPort &, uint16_t count) {
            Add("Avail " + std::to_string(count));
        };
        port.OnTriggerData = [this](TApdCustomComPort &, uint16_t handle) {
            Add("Data " + std::to_string(handle));
        };
        port.OnTriggerStatus = [this](TApdCustomComPort &, uint16_t handle) {
            Add("Status " + std::to_string(handle));
        };
        port.OnTriggerTimer = [this](TApdCustomComPort &, uint16_t handle) {
            Add("Timer " + std::to_string(handle));
        };
        port.OnTriggerLineError = [this](TApdCustomComPort &, uint16_t error, bool lineBreak) {
            Add("LineError " + std::to_string(error) + (lineBreak ? " break" : ""));
        };
        port.OnTriggerModemStatus = [this](TApdCustomComPort &) { Add("ModemStatus"); };
        port.OnTriggerOutbuffFree = [this](TApdCustomComPort &) { Add("OutbuffFree"); };
        port.OnTriggerOutbuffUsed = [this](TApdCustomComPort &) { Add("OutbuffUsed"); };
        port.OnTriggerOutSent = [this](TApdCustomComPort &) { Add("OutSent"); };
    }

    void Add(const std::string &entry) { entries.push_back(entry); }
    bool WaitFor(size_t count)
    {
        return WaitUntil([&] { return entries.size() >= count; });
    }

    std::vector<std::string> entries;
};

} // namespace comporttest
