// Time from a byte written at the far end of the simulated line to the data trigger's procedure
// handler on the dispatch thread. Prints the median as data_trigger_latency_us=X.

#include "serial/Dispatcher.h"
#include "serial/SimulatedDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace serial;
using Clock = std::chrono::steady_clock;

namespace
{

std::atomic<int64_t> gHandledAt{0};

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void Handler(uintptr_t, unsigned msg, uintptr_t, intptr_t)
{
    if (msg == MsgTriggerData)
        gHandledAt = NowNs();
}

} // namespace

int main()
{
    InstallSimulatedDeviceLayer();
    TSimulatedDevice far("LATENCY");
    int port = 0;
    if (OpenPort(port, "LATENCY", 4096, 4096, 115200, 0, 8, 1) != 0) {
        std::fprintf(stderr, "cannot open the simulated line\n");
        return 1;
    }
    AddMatchTrigger(port, "!", false);
    AddHandler(port, &Handler, 0, 1);
    constexpr int kSamples = 2000;
    std::vector<double> micros;
    micros.reserve(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        gHandledAt = 0;
        const int64_t sent = NowNs();
        far.Write("!");
        while (gHandledAt.load() == 0)
            std::this_thread::yield();
        micros.push_back(static_cast<double>(gHandledAt.load() - sent) / 1000.0);
        uint8_t drop[64];
        ReadBytes(port, drop, static_cast<uint16_t>(InputCount(port)));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ClosePort(port);
    std::sort(micros.begin(), micros.end());
    std::printf("samples %d, p10 %.1f us, p90 %.1f us, max %.1f us\n", kSamples,
                micros[kSamples / 10], micros[kSamples * 9 / 10], micros.back());
    std::printf("data_trigger_latency_us=%.1f\n", micros[kSamples / 2]);
    return 0;
}
