#include "serial/DeviceRoutines.h"

#include "serial/ErrorCodes.h"

#include <mutex>

namespace serial
{

namespace
{

// Placeholders: every routine fails with "No device layer specified".
int NoOpen(const std::string &, int &platformError, int &systemError)
{
    platformError = systemError = 0;
    return ecNullApi;
}
void NoAdopt(int, bool) {}
int NoHandle(int)
{
    return ecNullApi;
}
bool NoQueueSizes(int, uint16_t, uint16_t)
{
    return false;
}
int NoGetState(int, TLineState &)
{
    return ecNullApi;
}
int NoSetState(int, const TLineState &)
{
    return ecNullApi;
}
int NoLineFunction(int, int)
{
    return ecNullApi;
}
int NoFlush(int, int)
{
    return ecNullApi;
}
int NoStatus(int, TDeviceStatus &)
{
    return ecNullApi;
}
uint8_t NoModemLines(int)
{
    return 0;
}
int NoRead(int, uint8_t *, int)
{
    return ecNullApi;
}
int NoReadError(int, int)
{
    return ecNullApi;
}
int NoWrite(int, const uint8_t *, int)
{
    return ecNullApi;
}
void NoOptions(int, uint16_t) {}
int NoTransmit(int, uint8_t)
{
    return ecNullApi;
}
void NoThread(TPortRecord &) {}

constexpr TDeviceRoutines kPlaceholders{
    NoOpen,   NoAdopt,  NoHandle,     NoQueueSizes, NoGetState,  NoSetState, NoLineFunction,
    NoFlush,  NoStatus, NoModemLines, NoRead,       NoReadError, NoWrite,    NoOptions,
    NoHandle, NoHandle, NoTransmit,   NoThread,     NoThread,
};

std::mutex gTableMutex;
TDeviceRoutines gInstalled = kPlaceholders;

} // namespace

TDeviceRoutines InstalledDeviceRoutines()
{
    std::lock_guard guard(gTableMutex);
    return gInstalled;
}

void InstallDeviceRoutines(const TDeviceRoutines &routines)
{
    std::lock_guard guard(gTableMutex);
    gInstalled = routines;
}

void RestoreDeviceRoutines()
{
    InstallDeviceRoutines(kPlaceholders);
}

bool DeviceLayerInstalled()
{
    std::lock_guard guard(gTableMutex);
    return gInstalled.Open != kPlaceholders.Open;
}

bool ProbePort(int comNumber)
{
    const TDeviceRoutines routines = InstalledDeviceRoutines();
    int platformError = 0;
    int systemError = 0;
    const int handle = routines.Open("COM" + std::to_string(comNumber), platformError, systemError);
    if (handle < 0)
        return handle == -1 && platformError == peAccessDenied;
    routines.Close(handle);
    return true;
}

} // namespace serial
