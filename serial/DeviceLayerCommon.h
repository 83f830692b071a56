#pragma once
// What every device layer does the same way whatever the device: finding the port of a handle,
// the write routine, the output flush handshake, the output figure of a status query, handing
// device events to the dispatch thread, and the output thread's wait loop. A layer adds only its
// own system calls (or, for the simulated line, its model of the line).

#include "serial/DeviceRoutines.h"

#include <cstdint>
#include <functional>
#include <string>

namespace serial
{

struct TPortRecord;
class Event;

// A layer is known by its open routine: handles of different layers may share numbers.
using TOpenRoutine = int (*)(const std::string &name, int &platformError, int &systemError);

// The write routine: copies the block into the port's output ring; count, or -103 when no open
// port has the handle.
int WriteToPort(int handle, TOpenRoutine open, const uint8_t *data, int count);

// Drops the port's unsent output through the flush handshake; false when no port has the handle.
bool FlushPortOutput(int handle, TOpenRoutine open);

// The status routine: query fills in the error bits and the input waiting in the device and
// returns the bytes the driver still holds for output; the output ring is added to those (which
// on a failed line count as gone: they can never leave). The error bits, or -103.
int PortStatus(int handle, TOpenRoutine open, TDeviceStatus &status,
               const std::function<uint32_t(TDeviceStatus &)> &query);

// The event thread's hand-over: stores the events in the port's event word, wakes the dispatch
// thread and waits until it processed them. False when the thread is to end instead.
bool HandOverDeviceEvents(TPortRecord &port, uint32_t events);

enum class TDrainEnd {
    Empty,   // nothing more to send for now
    Flushed, // a flush came and was acknowledged
    Stopped, // the port closes or the line failed: the output thread ends
    Again,   // the line changed while output was held: look again
};

// The output thread's loop: waits for output, a flush (acknowledged here), a stop, or (when the
// layer has one) a change of its line, and then lets drain move the ring to the device until it
// answers Stopped.
void RunOutputLoop(TPortRecord &port, Event *lineChanged, const std::function<TDrainEnd()> &drain);

} // namespace serial
