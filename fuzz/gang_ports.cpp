// Fuzzes the reading of "--port" names and the one-line reasons of a gang run's summary: any list
// of names gives either a usage error and no ports, or one port per name with a log name that is
// unique and safe for a file name; a reason never spans lines and keeps every other byte.

#include "app/GangPorts.h"
#include "app/GangReport.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace
{

bool SafeLogName(const std::string &name)
{
    const std::string head = "loader-", tail = ".log";
    if (name.size() <= head.size() + tail.size() || name.rfind(head, 0) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    for (std::size_t i = head.size(); i < name.size() - tail.size(); ++i) {
        const char c = name[i];
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!kept)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    std::string reason = loader::ReasonOf(input);
    for (const char c : reason)
        FUZZ_CHECK(c != '\r' && c != '\n');

    // One name per line, a few of them: the names are looked up, never opened.
    std::vector<std::string> names;
    std::string name;
    for (const char c : input) {
        if (c == '\n') {
            names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    names.push_back(name);
    if (names.size() > 8)
        names.resize(8);
    const loader::GangPortList list = loader::ResolveGangPorts(names, "/nonexistent-start");
    if (!list.error.empty()) {
        FUZZ_CHECK(list.ports.empty());
        return 0;
    }
    FUZZ_CHECK(list.ports.size() == names.size());
    std::set<std::string> logs;
    for (std::size_t i = 0; i < list.ports.size(); ++i) {
        FUZZ_CHECK(list.ports[i].name == names[i]);
        FUZZ_CHECK(!list.ports[i].device.empty());
        FUZZ_CHECK(SafeLogName(list.ports[i].logName));
        FUZZ_CHECK(logs.insert(list.ports[i].logName).second);
    }
    return 0;
}
