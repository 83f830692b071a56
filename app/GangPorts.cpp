#include "app/GangPorts.h"

#include "serial/PosixDevice.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

namespace loader
{
namespace
{

namespace fs = std::filesystem;

constexpr long LastComNumber = 65535;

// n of "COM"n, or nothing when `name` is not one.
std::optional<long> ComNumber(const std::string &name)
{
    if (name.size() < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i)
        if ((name[i] & ~0x20) != "COM"[i])
            return std::nullopt;
    long number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        number = std::min(number * 10 + (name[i] - '0'), LastComNumber + 1);
    }
    if (number < 1 || number > LastComNumber)
        return std::nullopt;
    return number;
}

// The file a device path finally names, for telling two names of one device apart: links
// followed as far as they lead, the rest normalised by its text.
std::string Identity(const std::string &device, const std::string &startFolder)
{
    std::error_code error;
    const fs::path absolute = fs::path(startFolder) / device;
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : resolved.string();
}

// The path's last component with every byte a file name had better not hold replaced by '_'.
std::string SafeName(const std::string &path)
{
    fs::path last;
    for (const fs::path &part : fs::path(path))
        if (!part.empty() && part != "/")
            last = part;
    std::string safe = last.string();
    for (char &c : safe) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!kept)
            c = '_';
    }
    return safe.empty() ? "_" : safe;
}

// "loader-SAFE.log", or with "-2", "-3", ... when an earlier port has that name already.
std::string LogName(const std::string &safe, const std::vector<GangPort> &earlier)
{
    const auto taken = [&earlier](const std::string &logName) {
        return std::any_of(earlier.begin(), earlier.end(),
                           [&logName](const GangPort &port) { return port.logName == logName; });
    };
    std::string logName = "loader-" + safe + ".log";
    for (int number = 2; taken(logName); ++number)
        logName = "loader-" + safe + "-" + std::to_string(number) + ".log";
    return logName;
}

} // namespace

GangPortList ResolveGangPorts(const std::vector<std::string> &names, const std::string &startFolder)
{
    GangPortList list;
    const auto refuse = [](std::string error) { return GangPortList{{}, std::move(error)}; };
    std::vector<std::string> identities;
    for (const std::string &name : names) {
        GangPort port{name, {}, {}};
        std::string safe;
        if (name.find('/') != std::string::npos) {
            // Kept as named (a /dev/serial/by-id link stays a link): the log is named after it, and
            // the port opens it afresh each time.
            port.device = (fs::path(startFolder) / name).lexically_normal().string();
            safe = SafeName(port.device);
        } else if (const auto number = ComNumber(name)) {
            const std::string com = "COM" + std::to_string(*number);
            port.device = serial::DevicePathFor(com);
            if (port.device.empty())
                return refuse("--port " + name + ": no device for this port (add " + com +
                              "=/dev/... to section [Devices] of loader.ini)");
            safe = com;
            port.comNumber = static_cast<uint16_t>(*number);
        } else {
            return refuse("--port " + name + ": give COMn or a device path (/dev/" + name + ")");
        }
        const std::string identity = Identity(port.device, startFolder);
        const auto same = std::find(identities.begin(), identities.end(), identity);
        if (same != identities.end()) {
            const GangPort &earlier = list.ports[same - identities.begin()];
            return refuse("--port " + earlier.name + " and --port " + name +
                          " name the same device (" + identity + ")");
        }
        port.logName = LogName(safe, list.ports);
        identities.push_back(identity);
        list.ports.push_back(port);
    }
    return list;
}

} // namespace loader
