#include "serial/DeviceLayerCommon.h"

#include "serial/ErrorCodes.h"
#include "serial/PortRecord.h"

namespace serial
{

int WriteToPort(int handle, TOpenRoutine open, const uint8_t *data, int count)
{
    const std::shared_ptr<TPortRecord> port = FindPortByHandle(handle, open);
    return port ? WriteIntoOutputRing(*port, data, count) : ecNotOpen;
}

bool FlushPortOutput(int handle, TOpenRoutine open)
{
    const std::shared_ptr<TPortRecord> port = FindPortByHandle(handle, open);
    if (!port)
        return false;
    FlushOutputRing(*port);
    return true;
}

int PortStatus(int handle, TOpenRoutine open, TDeviceStatus &status,
               const std::function<uint32_t(TDeviceStatus &)> &query)
{
    const std::shared_ptr<TPortRecord> port = FindPortByHandle(handle, open);
    if (!port)
        return ecNotOpen;
    status = TDeviceStatus{};
    const uint32_t driverQueue = query(status);
    std::lock_guard lock(port->Lock);
    status.OutQueue = port->OutputUsed() + (port->LineFailed ? 0 : driverQueue);
    return static_cast<int>(status.Errors);
}

bool HandOverDeviceEvents(TPortRecord &port, uint32_t events)
{
    if (events & evRingTrailingEdge)
        port.RingEdge = true;
    port.EventWord.fetch_or(events);
    port.DeviceEvent.Set();
    return Event::WaitAny({&port.EventProcessed, &port.IoStopEvent, &port.StopEvent}, -1) == 0;
}

void RunOutputLoop(TPortRecord &port, Event *lineChanged, const std::function<TDrainEnd()> &drain)
{
    while (!port.Stop && !port.IoStop) {
        const int woke = lineChanged
                             ? Event::WaitAny({&port.OutputReady, &port.FlushOutput,
                                               &port.IoStopEvent, &port.StopEvent, lineChanged},
                                              -1)
                             : Event::WaitAny({&port.OutputReady, &port.FlushOutput,
                                               &port.IoStopEvent, &port.StopEvent},
                                              -1);
        if (woke == 1) {
            AcknowledgeFlush(port);
            continue;
        }
        if (woke == 2 || woke == 3 || drain() == TDrainEnd::Stopped)
            break;
    }
}

} // namespace serial
