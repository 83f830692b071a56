#include "tests/support/SimulatedPort.h"

#include "serial/Dispatcher.h"

namespace testsupport
{

SimulatedPort::SimulatedPort(const std::string &name, uint16_t inSize, uint16_t outSize)
    : Far(name), previous_(serial::InstalledDeviceRoutines())
{
    serial::InstallSimulatedDeviceLayer();
    OpenResult = serial::OpenPort(Port, name, inSize, outSize, 19200, 0, 8, 1);
}

SimulatedPort::~SimulatedPort()
{
    Close();
    serial::InstallDeviceRoutines(previous_);
}

int SimulatedPort::Close()
{
    if (Port == 0)
        return 0;
    const int result = serial::ClosePort(Port);
    Port = 0;
    return result;
}

} // namespace testsupport
