#include "app/PortListing.h"

#include "platform/ProfileFile.h"
#include "serial/DeviceRoutines.h"
#include "serial/PosixDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace loader
{

namespace
{

namespace fs = std::filesystem;

// The file a path ends at, so that a link and its target compare equal; the path itself when
// it leads nowhere.
std::string Canonical(const std::string &path)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved.string();
}

bool Exists(const std::string &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error)) && !error;
}

// Entries of `folder` whose names start with one of `prefixes`, sorted as people count
// (ttyUSB2 before ttyUSB10).
std::vector<std::string> Entries(const std::string &folder,
                                 const std::vector<std::string> &prefixes)
{
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        for (const std::string &prefix : prefixes)
            if (name.rfind(prefix, 0) == 0) {
                found.push_back(it->path().string());
                break;
            }
    }
    std::sort(found.begin(), found.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return found;
}

// Opens the port as the loader does (exclusively) and closes it again; the system's error
// number when it does not open (0 when it gave none).
int TryOpen(ListedPort &port, const std::string &openName)
{
    const serial::TDeviceRoutines routines = serial::InstalledDeviceRoutines();
    int platformError = 0;
    int systemError = 0;
    const int handle = routines.Open(openName, platformError, systemError);
    if (handle >= 0) {
        routines.Close(handle);
        port.opens = true;
        return 0;
    }
    port.reason = systemError != 0 ? std::strerror(systemError) : "the device cannot be opened";
    return systemError;
}

} // namespace

std::vector<ListedPort> ListPorts(const std::string &devRoot, int lastCom)
{
    const auto stableNameOf = [&](const std::string &device) {
        return serial::StableDeviceName(device, devRoot);
    };

    std::vector<ListedPort> ports;
    std::vector<std::string> listed; // the devices listed, as canonical paths
    const platform::TIniFile ini(serial::DeviceIniFile());
    for (int n = 1; n <= lastCom; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::string device = serial::DevicePathFor(name);
        const bool configured = !ini.ReadString("Devices", name, "").empty();
        if (device.empty() || (!configured && !Exists(device)))
            continue;
        ListedPort port{name, device, stableNameOf(device), false, {}};
        TryOpen(port, name);
        ports.push_back(port);
        listed.push_back(Canonical(device));
    }

    // Present devices no COMn names. A /dev/ttyS* exists for every possible UART: only one that
    // answers is a port.
    std::vector<std::string> present = Entries(devRoot, {"ttyUSB", "ttyACM"});
    for (const std::string &link : Entries(devRoot + "/serial/by-id", {""}))
        present.push_back(Canonical(link));
    const std::vector<std::string> uarts = Entries(devRoot, {"ttyS"});
    for (const std::string &device : uarts)
        present.push_back(device);
    for (const std::string &device : present) {
        const std::string target = Canonical(device);
        if (std::find(listed.begin(), listed.end(), target) != listed.end())
            continue;
        ListedPort port{"", device, stableNameOf(device), false, {}};
        const int error = TryOpen(port, device);
        const bool uart = std::find(uarts.begin(), uarts.end(), device) != uarts.end();
        // A UART that is busy or refused is there; one that fails otherwise has no chip.
        if (uart && !port.opens && error != EBUSY && error != EACCES)
            continue;
        ports.push_back(port);
        listed.push_back(target);
    }
    return ports;
}

std::string FormatPortList(const std::vector<ListedPort> &ports)
{
    if (ports.empty())
        return "No serial ports found.\n";
    const std::string none = "-";
    std::size_t nameWidth = 4, deviceWidth = 6, stableWidth = 11;
    for (const ListedPort &port : ports) {
        nameWidth = std::max(nameWidth, port.name.size());
        deviceWidth = std::max(deviceWidth, port.device.size());
        stableWidth = std::max(stableWidth, port.stableName.size());
    }
    std::ostringstream out;
    const auto row = [&](const std::string &name, const std::string &device,
                         const std::string &stableName, const std::string &opens) {
        out << name << std::string(nameWidth - name.size() + 2, ' ') << device
            << std::string(deviceWidth - device.size() + 2, ' ') << stableName
            << std::string(stableWidth - stableName.size() + 2, ' ') << opens << '\n';
    };
    row("PORT", "DEVICE", "STABLE NAME", "OPENS");
    for (const ListedPort &port : ports)
        row(port.name.empty() ? none : port.name, port.device,
            port.stableName.empty() ? none : port.stableName,
            port.opens ? "yes" : "no: " + port.reason);
    return out.str();
}

} // namespace loader
