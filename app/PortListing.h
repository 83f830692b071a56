#pragma once
// The serial ports of this machine as an operator picks one: the COMn names the loader knows
// (section [Devices] of loader.ini, or the built-in device of each number) and the devices that
// are present (/dev/ttyS* that answer, /dev/ttyUSB*, /dev/ttyACM*, and the stable names under
// /dev/serial/by-id), each with its device, its stable name where one exists, and whether it
// opens now. For `loader --list-ports`.

#include <string>
#include <vector>

namespace loader
{

struct ListedPort {
    std::string name;       // "COM3"; empty for a present device no COMn names
    std::string device;     // the path the port opens
    std::string stableName; // the /dev/serial/by-id link to the same device; empty: none
    bool opens = false;
    std::string reason; // why it does not open; empty when it does
};

// Lists the ports COM1 to COM`lastCom` whose device exists or that section [Devices] names, then
// the present devices under `devRoot` no COMn names. Each is opened once (exclusively, as the
// loader opens a port) and closed again to tell whether it opens.
std::vector<ListedPort> ListPorts(const std::string &devRoot = "/dev", int lastCom = 16);

// The list as a table with a heading, one port a line; a line saying so when it is empty.
std::string FormatPortList(const std::vector<ListedPort> &ports);

} // namespace loader
