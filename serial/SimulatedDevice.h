#pragma once
// A simulated null-modem device layer. A test or benchmark creates a TSimulatedDevice under a
// port name ("COM3"); once the layer is installed, opening that name through the dispatcher
// connects the port to it, and the object is the far end of the line: it reads what the port
// sent (optionally paced like a real line at baud/10 bytes per second, and held while CTS or
// DSR output flow is on and the line is off), writes bytes to the port, moves CTS, DSR, DCD
// and RI, and raises line errors and breaks. Everything is event driven, so a test sees the
// same sequence every run.

#include "serial/DeviceRoutines.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace serial
{

struct TSimLine;

class TSimulatedDevice
{
  public:
    // Registers the far end of the line that opening name connects to.
    explicit TSimulatedDevice(const std::string &name);
    ~TSimulatedDevice();
    TSimulatedDevice(const TSimulatedDevice &) = delete;
    TSimulatedDevice &operator=(const TSimulatedDevice &) = delete;

    // Bytes leave the port at baud/10 per second; 0 takes them as fast as the port writes.
    void SetPace(uint32_t baud);
    // A driver queue of this many bytes between the port's writes and the line, drained at the
    // pace and reported as waiting output like a kernel's tty queue (0: none, the default).
    void SetDriverBuffer(size_t bytes);

    // The line goes away (a hang-up, an unplugged adapter): the port's line fails with EIO and
    // opening the name fails until Reconnect.
    void Hangup();
    // Device writes fail with error from now on: a line failure for EIO, ENXIO, EPIPE, ENODEV
    // (and EBADF); a transient error (EAGAIN, EINTR) only holds the output. 0 lets them work.
    void FailWrites(int error);
    // The device is back: opens and writes work again.
    void Reconnect();

    // What the port sent: taken (and forgotten) by TakeSent; WaitForSent waits until at least
    // count bytes are there or the time is up.
    std::string TakeSent();
    size_t SentCount() const;
    uint64_t TotalSent() const;
    bool WaitForSent(size_t count, std::chrono::milliseconds limit) const;
    // The size of each device write the port's output thread made, oldest first.
    std::vector<size_t> TakeWriteSizes();

    // Bytes the port receives.
    void Write(const std::string &bytes);
    void Write(const uint8_t *bytes, size_t count);
    size_t PendingInput() const;

    // The lines the port sees (all but RI are on when the line is created).
    void SetCTS(bool on);
    void SetDSR(bool on);
    void SetDCD(bool on);
    void SetRI(bool on);
    // Line errors (ceRxOver, ceOverrun, ceRxParity, ceFrame) and a received break.
    void RaiseLineError(uint32_t bits);
    void SendBreak();

    // What the port did to the line.
    bool IsOpen() const;
    bool DTR() const;
    bool RTS() const;
    bool BreakOn() const;
    TLineState LineState() const;
    uint16_t Options() const;
    // True while the port's output is held by CTS or DSR flow control.
    bool OutputHeld() const;

  private:
    std::shared_ptr<TSimLine> line_;
};

TDeviceRoutines SimulatedDeviceRoutines();
void InstallSimulatedDeviceLayer();

} // namespace serial
