#include "tests/app/GangFolder.h"

#include <algorithm>
#include <filesystem>

namespace runtest
{

GangFolder::GangFolder(const std::vector<std::vector<std::string>> &devices)
{
    std::string ini = "[Upload Settings]\nDelay=0\n[RS232Settings]\nComm Port=COM1\n"
                      "Baud Rate=115200\n[Devices]\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::vector<std::string> args = {"--link", Link(i), "--report",
                                         dir.File("report" + std::to_string(i) + ".jsonl")};
        args.insert(args.end(), devices[i].begin(), devices[i].end());
        devices_.push_back(std::make_unique<testsupport::DevsimProcess>(DEVSIM_BINARY, args));
        ini += "COM" + std::to_string(i + 1) + "=" + Link(i) + "\n";
    }
    dir.Write("loader.ini", ini);
}

std::string GangFolder::Link(std::size_t device) const
{
    return dir.File("link" + std::to_string(device));
}

std::vector<Upload> GangFolder::Uploads(std::size_t device, std::size_t expected) const
{
    return ReportedUploads(dir.File("report" + std::to_string(device) + ".jsonl"), expected);
}

std::string GangFolder::MaskedLog(const std::string &logName) const
{
    if (!std::filesystem::exists(dir.File(logName)))
        return {};
    return runtest::MaskedLog(dir.Read(logName));
}

std::vector<std::string> GangFolder::Logs() const
{
    std::vector<std::string> logs;
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("loader", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".log") == 0)
            logs.push_back(name);
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

} // namespace runtest
