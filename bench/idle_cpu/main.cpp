// CPU an open, idle port costs: one port on a pseudo terminal through the POSIX layer, one on
// the simulated line, each left alone for 5 s while getrusage counts the process's CPU time;
// first with data triggers only (the loader's idle state), then with a long timer armed as
// well (the 50 ms pass runs). Prints idle_cpu_percent_<layer>[_timer]=X (of one core).

#include "serial/Dispatcher.h"
#include "serial/PosixDevice.h"
#include "serial/SimulatedDevice.h"

#include <chrono>
#include <cstdio>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace serial;

namespace
{

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double IdlePercent(const std::string &device, bool withTimer)
{
    int port = 0;
    if (OpenPort(port, device, 4096, 4096, 115200, 0, 8, 1) != 0) {
        std::fprintf(stderr, "cannot open %s\n", device.c_str());
        return -1;
    }
    AddMatchTrigger(port, "OK", false);
    SetDataThreshold(port, 1);
    if (withTimer)
        ArmClockTrigger(port, static_cast<uint16_t>(AddClockTrigger(port)), 1000000, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double used = CpuSeconds() - before;
    ClosePort(port);
    std::printf("%s%s: %.1f ms CPU in %.2f s idle\n", device.c_str(),
                withTimer ? " with a timer armed" : "", used * 1000, wall);
    return used / wall * 100.0;
}

} // namespace

int main()
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    InstallPosixDeviceLayer();
    const double posix = IdlePercent(name, false);
    const double posixTimer = IdlePercent(name, true);
    InstallSimulatedDeviceLayer();
    TSimulatedDevice far("IDLE");
    const double simulated = IdlePercent("IDLE", false);
    const double simulatedTimer = IdlePercent("IDLE", true);
    close(master);
    close(slave);
    std::printf("idle_cpu_percent_posix_timer=%.3f\n", posixTimer);
    std::printf("idle_cpu_percent_simulated_timer=%.3f\n", simulatedTimer);
    std::printf("idle_cpu_percent_posix=%.3f\n", posix);
    std::printf("idle_cpu_percent_simulated=%.3f\n", simulated);
    return 0;
}
