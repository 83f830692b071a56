// The shipped sample scripts must suit the simulator: fed to the device the way the loader sends
// them, every checked command is accepted and the uploads end as each script intends.

#include "tools/devsim/Device.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>

namespace devsim
{
namespace
{

std::string ReadFile(const std::string &name)
{
    std::ifstream in(std::string(DEVSIM_SAMPLE_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The quoted text of a command line with its ^M turned into carriage returns.
std::string CommandText(const std::string &line)
{
    const auto first = line.find('"');
    const auto last = line.rfind('"');
    std::string text = line.substr(first + 1, last - first - 1);
    for (std::size_t at; (at = text.find("^M")) != std::string::npos;)
        text.replace(at, 2, "\r");
    return text;
}

struct Transcript {
    std::vector<std::string> checkedReplies; // replies to "_TC" lines
    std::vector<std::string> uploadReplies;  // what came back for each header and body
    std::vector<UploadRecord> records;
};

Transcript Play(const std::string &script)
{
    Device device(DeviceSettings{});
    Transcript t;
    std::string file, address, version;
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        const std::string command = line.substr(0, 3);
        const std::string argument = line.size() > 4 ? line.substr(4) : "";
        if (command == "_TC")
            t.checkedReplies.push_back(device.Receive(CommandText(line), 0));
        else if (command == "_SC")
            device.Receive(CommandText(line), 0);
        else if (command == "_LF")
            file = argument;
        else if (command == "_LA")
            address = argument;
        else if (command == "_LV")
            version = argument == "DATE" ? "12/7/25_7:55:00PM" : argument;
        else if (command == "_LD") {
            const std::string body = ReadFile(file);
            const std::string header = "LF " + address + " " + std::to_string(body.size()) + " " +
                                       ChecksumText(AddToChecksum(0, body)) + " " + version + "\r";
            t.uploadReplies.push_back(device.Receive(header + body, 0));
        }
    }
    t.records = device.TakeRecords();
    return t;
}

TEST(SampleScripts, DemoRunsCleanly)
{
    const Transcript t = Play(ReadFile("demo.sld"));
    ASSERT_EQ(t.checkedReplies.size(), 2u);
    EXPECT_EQ(t.checkedReplies[0], ">");
    EXPECT_EQ(t.checkedReplies[1], "=1.0\r\n>");
    EXPECT_EQ(t.uploadReplies, std::vector<std::string>({"", ""}));
    ASSERT_EQ(t.records.size(), 2u);
    for (const UploadRecord &r : t.records) {
        EXPECT_EQ(r.end, UploadEnd::Complete);
        EXPECT_TRUE(r.ChecksumMatches());
    }
    EXPECT_EQ(t.records[0].header->address, "0x00010000");
    EXPECT_EQ(t.records[1].header->address, "0x00020000");
}

TEST(SampleScripts, FailScriptFailsItsUpload)
{
    const Transcript t = Play(ReadFile("fail.sld"));
    EXPECT_EQ(t.checkedReplies, std::vector<std::string>({">", ">"}));
    EXPECT_EQ(t.uploadReplies, std::vector<std::string>({"ERR\r\n"}));
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].end, UploadEnd::Failed);
    EXPECT_EQ(t.records[0].received, 100u);
}

TEST(SampleScripts, LoaderIniPointsCom1AtTheSimulatorLink)
{
    const std::string ini = ReadFile("loader.ini");
    EXPECT_NE(ini.find("[Devices]\nCOM1=/tmp/loader-devsim\n"), std::string::npos);
    EXPECT_NE(ini.find("Comm Port=COM1\n"), std::string::npos);
    EXPECT_NE(ini.find("Default Script=demo.sld\n"), std::string::npos);
}

} // namespace
} // namespace devsim
