// Throughput of a paced upload the way the link services pump it: a 4096-byte output ring, one
// 50-byte block queued each time the output-free trigger reports room for it, the end seen
// through the output-used trigger with 0, over the simulated line paced like a real UART.
// Prints pump_<baud>_ratio=X: bytes per second achieved over baud/10.

#include "serial/Dispatcher.h"
#include "serial/SimulatedDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

using namespace serial;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr uint16_t kRingSize = 4096;
constexpr uint16_t kBlockSize = 50;
constexpr double kLineLookAhead = 0.002;

struct Pump {
    int Port = 0;
    uint16_t FreeTrigger = 0;
    uint16_t UsedTrigger = 0;
    const uint8_t *Next = nullptr;
    size_t Remaining = 0;
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;

    static void Handler(uintptr_t self, unsigned msg, uintptr_t wParam, intptr_t)
    {
        auto &pump = *reinterpret_cast<Pump *>(self);
        if (msg != MsgTriggerStatus)
            return;
        if (wParam == pump.FreeTrigger) {
            const size_t block = pump.Remaining > kBlockSize ? kBlockSize : pump.Remaining;
            SendBytes(pump.Port, pump.Next, static_cast<uint16_t>(block));
            pump.Next += block;
            pump.Remaining -= block;
            if (pump.Remaining > 0)
                ArmStateTrigger(pump.Port, pump.FreeTrigger, kBlockSize, true);
            else
                ArmStateTrigger(pump.Port, pump.UsedTrigger, 0, true);
        } else if (wParam == pump.UsedTrigger) {
            std::lock_guard guard(pump.Mutex);
            pump.Finished = true;
            pump.Done.notify_all();
        }
    }
};

double MeasureRatio(uint32_t baud, double seconds)
{
    const std::string name = "PUMP" + std::to_string(baud);
    TSimulatedDevice far(name);
    far.SetPace(baud);
    Pump pump;
    if (OpenPort(pump.Port, name, 4096, kRingSize, static_cast<int32_t>(baud), 0, 8, 1) != 0) {
        std::fprintf(stderr, "cannot open the simulated line\n");
        return 0;
    }
    const size_t total = static_cast<size_t>(baud / 10 * seconds);
    std::vector<uint8_t> data(total);
    for (size_t i = 0; i < total; ++i)
        data[i] = static_cast<uint8_t>(i);
    pump.Next = data.data();
    pump.Remaining = total;
    pump.FreeTrigger = static_cast<uint16_t>(AddStateTrigger(pump.Port, StatusOutFree));
    pump.UsedTrigger = static_cast<uint16_t>(AddStateTrigger(pump.Port, StatusOutUsed));
    AddHandler(pump.Port, &Pump::Handler, reinterpret_cast<uintptr_t>(&pump), 1);

    const auto start = Clock::now();
    ArmStateTrigger(pump.Port, pump.FreeTrigger, kBlockSize, true);
    size_t received = 0;
    while (received < total) {
        far.WaitForSent(1, std::chrono::milliseconds(100));
        received += far.TakeSent().size();
    }
    // The simulated line hands bytes over up to 2 ms ahead of their line time; counting that
    // window in keeps the figure from overstating the rate.
    const double elapsed =
        std::chrono::duration<double>(Clock::now() - start).count() + kLineLookAhead;
    {
        std::unique_lock lock(pump.Mutex);
        pump.Done.wait(lock, [&] { return pump.Finished; });
    }
    ClosePort(pump.Port);
    const double rate = static_cast<double>(total) / elapsed;
    std::printf("baud %u: %zu bytes in %.3f s = %.0f bytes/s (line %.0f bytes/s)\n", baud, total,
                elapsed, rate, baud / 10.0);
    return rate / (baud / 10.0);
}

} // namespace

int main()
{
    InstallSimulatedDeviceLayer();
    const double slow = MeasureRatio(115200, 3.0);
    const double fast = MeasureRatio(921600, 3.0);
    std::printf("pump_115200_ratio=%.3f\n", slow);
    std::printf("pump_921600_ratio=%.3f\n", fast);
    return 0;
}
