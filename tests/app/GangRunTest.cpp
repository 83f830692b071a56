// The real program running one upload on several ports at once ("--batch --port A --port B ..."),
// each against its own device simulator: the summary, the exit status, each port's log and the
// bytes every device received; and the --port names refused before anything is opened.

#include "platform/FileDate.h"
#include "tests/app/GangFolder.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using runtest::Contains;
using runtest::Entry;
using runtest::GangFolder;
using runtest::Join;
using runtest::LogHeader;
using runtest::LogLines;
using runtest::Pattern;
using runtest::Sum16;
using testsupport::Clock;

// A generous bound on waiting for the program's progress; a run that needs longer is hanging.
constexpr auto GiveUpAfter = std::chrono::seconds(30);

std::string Replaced(std::string text, const std::string &folder)
{
    for (std::size_t at; (at = text.find("<dir>")) != std::string::npos;)
        text.replace(at, 5, folder);
    return text;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(GangRunTest, EveryPortRunsOnItsOwnAndTheSummarySaysHowEachWent)
{
    // Paced, so a body takes a while and a device can be stopped in the middle of one.
    const std::vector<std::string> paced = {"--mode", "UL", "--baud", "460800"};
    const auto with = [&paced](std::vector<std::string> extra) {
        extra.insert(extra.begin(), paced.begin(), paced.end());
        return extra;
    };
    struct Port {
        std::string name; // as given; "<dir>" stands for the folder
        int device;       // the simulator behind it; -1 none
        char fate;        // 'w' every byte of both files arrived, 'f' it failed in a.bin
        std::string log;
    };
    struct Case {
        const char *what;
        std::vector<std::vector<std::string>> devices; // each simulator's arguments
        std::vector<Port> ports;
        int status;
        // The summary at the end of standard output; for status 2, the first line of standard
        // error (up to its end when it ends in "(").
        std::string expected;
        int kill = -1; // this device is killed once its port is a fifth through a.bin
    };
    const std::string uploadError =
        ": failed: Upload error encountered, script aborted! Reset remote system. File: a.bin\n";
    const Case cases[] = {
        {"all good",
         {paced, paced, paced},
         {{"COM1", 0, 'w', "loader-COM1.log"},
          {"<dir>/link1", 1, 'w', "loader-link1.log"},
          {"com3", 2, 'w', "loader-COM3.log"}},
         0,
         "COM1: ok\n<dir>/link1: ok\ncom3: ok\n3 ports: 3 ok, 0 failed\n"},
        {"device error in the middle of a body",
         {paced, with({"--fail-after", "1000"}), paced},
         {{"COM1", 0, 'w', "loader-COM1.log"},
          {"COM2", 1, 'f', "loader-COM2.log"},
          {"COM3", 2, 'w', "loader-COM3.log"}},
         1,
         "COM1: ok\nCOM2" + uploadError + "COM3: ok\n3 ports: 2 ok, 1 failed\n"},
        {"device gone in the middle of a body",
         {paced, paced, paced},
         {{"COM1", 0, 'w', "loader-COM1.log"},
          {"COM2", 1, 'f', "loader-COM2.log"},
          {"COM3", 2, 'w', "loader-COM3.log"}},
         1,
         "COM1: ok\nCOM2" + uploadError + "COM3: ok\n3 ports: 2 ok, 1 failed\n",
         1},
        {"silent device",
         {with({"--silent"}), paced},
         {{"COM1", 0, 'f', "loader-COM1.log"}, {"COM2", 1, 'w', "loader-COM2.log"}},
         1,
         "COM1" + uploadError + "COM2: ok\n2 ports: 1 ok, 1 failed\n"},
        {"port that does not open",
         {paced, paced},
         {{"COM1", 0, 'w', "loader-COM1.log"},
          {"./ttyUSB9", -1, 'f', ""},
          {"COM2", 1, 'w', "loader-COM2.log"}},
         1,
         "COM1: ok\n./ttyUSB9: failed: Error Opening Selected Comm Port ! <dir>/ttyUSB9: No such "
         "file or directory\nCOM2: ok\n3 ports: 2 ok, 1 failed\n"},
        {"the same port twice",
         {paced, paced},
         {{"COM1", 0, 'w', ""}, {"COM2", 1, 'w', ""}, {"com1", 0, 'w', ""}},
         2,
         "loader: --port COM1 and --port com1 name the same device (/dev/pts/"},
        {"a link to a port's device",
         {paced, paced},
         {{"COM1", 0, 'w', ""}, {"by-id/usb-FTDI_A1-if00-port0", 0, 'w', ""}},
         2,
         "loader: --port COM1 and --port by-id/usb-FTDI_A1-if00-port0 name the same device ("},
        {"a COM number without a device",
         {paced},
         {{"COM1", 0, 'w', ""}, {"COM77", -1, 'w', ""}},
         2,
         "loader: --port COM77: no device for this port (add COM77=/dev/... to section [Devices] "
         "of loader.ini)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        GangFolder gang(c.devices);
        const std::string folder = std::filesystem::canonical(gang.dir.Path()).string();
        const std::string a = Pattern(200000);
        const std::string cBin = "abc";
        gang.Write("a.bin", a);
        gang.Write("c.bin", cBin);
        gang.Write("loader.sld", "_LF a.bin\n_LD\n_LF c.bin\n_LD\n");
        std::filesystem::create_directory(folder + "/by-id");
        std::filesystem::create_symlink("../link0", folder + "/by-id/usb-FTDI_A1-if00-port0");
        std::vector<std::string> args;
        for (const Port &port : c.ports)
            args.insert(args.end(), {"--port", Replaced(port.name, folder)});

        auto program = gang.Start(args);
        if (c.kill >= 0) {
            const std::string fifth =
                Replaced(c.ports[c.kill].name, folder) + ": Upload progress: 20%";
            EXPECT_TRUE(program->WaitForOutput(fifth, Clock::now() + GiveUpAfter))
                << program->Output();
            EXPECT_TRUE(gang.SignalDevice(c.kill, SIGKILL));
        }
        const runtest::BatchResult result = runtest::RunFolder::Finish(*program);

        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        const std::string expected = Replaced(c.expected, folder);
        if (c.status == 2) {
            EXPECT_EQ(result.err.substr(0, expected.size()), expected) << result.err;
            EXPECT_TRUE(Contains(result.err, "\nUsage: loader ")) << result.err;
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(gang.Logs().empty());
            for (std::size_t device = 0; device < c.devices.size(); ++device)
                EXPECT_TRUE(gang.Uploads(device, 0).empty()) << device;
            continue;
        }
        EXPECT_EQ(result.out.rfind("Script " + folder + "/loader.sld\n", 0), 0u) << result.out;
        EXPECT_TRUE(
            result.out.size() >= expected.size() &&
            result.out.compare(result.out.size() - expected.size(), expected.size(), expected) == 0)
            << result.out;
        // Every other line is a port's own, and says whose.
        const auto ported = [&](const std::string &line) {
            for (const Port &port : c.ports)
                if (line.rfind(Replaced(port.name, folder) + ": ", 0) == 0)
                    return true;
            return false;
        };
        std::string unported;
        const std::vector<std::string> outLines = Lines(result.out);
        for (std::size_t i = 1; i + 1 < outLines.size(); ++i)
            unported += ported(outLines[i]) ? "" : outLines[i] + '\n';
        for (const std::string &line : Lines(result.err))
            unported += ported(line) ? "" : line + '\n';
        EXPECT_EQ(unported, "");

        const std::string aEntryDate = "; " + platform::FileDateText(gang.dir.File("a.bin"), "?");
        const auto aEntry = Entry("a.bin", a.size(), Sum16(a), aEntryDate, "");
        for (const Port &port : c.ports) {
            SCOPED_TRACE(port.name);
            if (port.device < 0)
                continue;
            if (port.fate == 'f') {
                EXPECT_EQ(gang.MaskedLog(port.log), LogLines(Join({LogHeader, aEntry})));
                continue;
            }
            EXPECT_TRUE(Contains(result.out, Replaced(port.name, folder) + ": Verifying Upload\n"))
                << result.out;
            const auto cEntry =
                Entry("c.bin", cBin.size(), Sum16(cBin),
                      "; " + platform::FileDateText(gang.dir.File("c.bin"), "?"), "");
            EXPECT_EQ(gang.MaskedLog(port.log), LogLines(Join({LogHeader, aEntry, cEntry})));
            const auto uploads = gang.Uploads(port.device, 2);
            std::string received;
            for (const auto &upload : uploads)
                received +=
                    upload.received + " " + upload.receivedChecksum + " " + upload.end + ";";
            EXPECT_EQ(received, std::to_string(a.size()) + " " + Sum16(a) + " complete;" +
                                    std::to_string(cBin.size()) + " " + Sum16(cBin) + " complete;");
        }
    }
}

} // namespace
