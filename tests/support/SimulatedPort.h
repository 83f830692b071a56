#pragma once
// A dispatcher port opened on a simulated null-modem line, with the far end at hand. The
// simulated layer is installed for the fixture's life and the previous layer restored after.

#include "serial/DeviceRoutines.h"
#include "serial/SimulatedDevice.h"

#include <string>

namespace testsupport
{

class SimulatedPort
{
  public:
    explicit SimulatedPort(const std::string &name = "COM7", uint16_t inSize = 4096,
                           uint16_t outSize = 4096);
    ~SimulatedPort();
    SimulatedPort(const SimulatedPort &) = delete;
    SimulatedPort &operator=(const SimulatedPort &) = delete;

    // Closes the port now (the destructor then leaves it alone).
    int Close();

    serial::TSimulatedDevice Far;
    int Port = 0;
    int OpenResult = 0;

  private:
    serial::TDeviceRoutines previous_;
};

} // namespace testsupport
