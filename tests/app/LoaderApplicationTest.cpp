// Program start: its options, the application's names, and a smoke run of the real program.

#include "app/LoaderApplication.h"
#include "app/FrmLoadr.h"
#include "platform/Help.h"
#include "serial/PosixDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using testsupport::ChildOptions;
using testsupport::ChildOutput;
using testsupport::ChildProcess;
using testsupport::Clock;

// A generous bound for one run of the program; a run that needs longer is hanging.
constexpr auto RunLimit = std::chrono::seconds(60);

// Options for a run of the program in `dir` with its output captured.
ChildOptions RunIn(const testsupport::TempDir &dir)
{
    ChildOptions options;
    options.dir = dir.Path();
    options.nullInput = true;
    options.out = ChildOutput::Captured();
    options.err = ChildOutput::Captured();
    return options;
}

TEST(LoaderApplicationTest, SmokeOptionIsPickedFromAmongToolkitOptions)
{
    struct Case {
        std::vector<const char *> args;
        bool smoke;
    };
    const Case cases[] = {
        {{"loader"}, false},
        {{"loader", "--smoke"}, true},
        {{"loader", "-platform", "offscreen", "--smoke"}, true},
        {{"loader", "--smoky"}, false},
        {{"--smoke"}, false}, // the program's own name is never an option
    };
    for (const Case &c : cases)
        EXPECT_EQ(loader::ParseStartOptions(static_cast<int>(c.args.size()), c.args.data()).smoke,
                  c.smoke)
            << c.args.size();
}

TEST(LoaderApplicationTest, InitialisingNamesTheApplicationAndItsHelpFile)
{
    platform::SetHelpFile("other.hlp");
    loader::InitialiseApplication(*qApp);
    EXPECT_EQ(QCoreApplication::applicationName().toStdString(),
              "Tavrin Research, Inc. RS232 Flash File Loader");
    EXPECT_EQ(platform::HelpFile(), "loader.hlp");
}

TEST(LoaderApplicationTest, SerialDevicesAreLookedUpInTheStartFoldersLoaderIni)
{
    testsupport::TempDir dir;
    dir.Enter();
    testsupport::ScriptedBoxes boxes;
    std::filesystem::create_directory(dir.File("work"));
    // The settings object opens COM1 at start: a pseudo terminal stands in for it.
    testsupport::PseudoTerminal line;
    dir.Write("loader.ini",
              "[Upload Settings]\nDefault Path=work\n[Devices]\nCOM1=" + line.SlavePath() + "\n");
    const std::string previous = serial::DeviceIniFile();

    loader::TFrmLoadr window;
    loader::CreateStartupWindows(window);

    EXPECT_EQ(serial::DeviceIniFile(),
              std::filesystem::canonical(dir.Path()).string() + "/loader.ini");
    EXPECT_TRUE(boxes.Shown().empty());
    serial::SetDeviceIniFile(previous);
}

// The smoke run must end by itself even when start-up shows a message box.
TEST(LoaderApplicationTest, SmokeRunEndsByItselfAndSaysWhatItDid)
{
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir.File("loader.ini"));

    ChildOptions options = RunIn(dir);
    options.unsetEnv = {"QT_QPA_PLATFORM"};
    ChildProcess program(LOADER_EXECUTABLE, {"--smoke"}, options);
    const std::optional<int> status = program.WaitUntil(Clock::now() + RunLimit);
    ASSERT_TRUE(status) << "the smoke run did not end";

    EXPECT_EQ(testsupport::ExitCode(*status), 0);
    const std::string out = program.Output();
    EXPECT_EQ(out, "Smoke run: showed the main window offscreen for 1.5 s, then closed it.\n");
    const std::string err = program.Error();
    const std::string ini = std::filesystem::canonical(dir.Path()).string() + "/loader.ini";
    // One box for the unreadable file; the defaults are not written back to it.
    EXPECT_NE(err.find("Error: Settings file error - not a regular file! File Name: " + ini),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("Unable to write to"), std::string::npos) << err;
}

// Without a display, as on a build machine. Nothing is read or written when the program ends at
// its command line: loader.ini keeps its bytes and no log appears.
TEST(LoaderApplicationTest, CommandLineIsCheckedBeforeAnythingIsOpened)
{
    struct Case {
        const char *args;     // separated by spaces
        const char *platform; // QT_QPA_PLATFORM; nullptr: unset
        int status;
        std::string out; // the start of standard output
        std::string err; // a part of standard error; "" when it must be empty
    };
    const Case cases[] = {
        {"--batch --scrpit fail.sld", nullptr, 2, "", "loader: Unknown option 'scrpit'.\nUsage: "},
        {"--batch fail.sld", nullptr, 2, "", "unexpected argument 'fail.sld'"},
        {"--list-ports --batch", nullptr, 2, "", "loader: --list-ports runs on its own\nUsage: "},
        {"--help", nullptr, 0, "Usage: loader [--batch", ""},
        {"--version", nullptr, 0, "Tavrin Research, Inc. RS232 Flash File Loader\nVersion 1.04 (",
         ""},
        {"", nullptr, 2, "", "needs a display"},
        {"", "xcb", 2, "", "needs a display"},
        // The toolkit's own option reaches it, ahead of the environment; the window starts up.
        {"-platform offscreen --smoke", "xcb", 0, "Smoke run: ", "Error Opening Selected Comm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        testsupport::TempDir dir;
        const std::string ini = "[Devices]\nCOM1=" + dir.File("no-such-port") + "\n";
        dir.Write("loader.ini", ini);

        ChildOptions options = RunIn(dir);
        options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
        if (c.platform)
            options.setEnv = {{"QT_QPA_PLATFORM", c.platform}};
        std::vector<std::string> args;
        std::istringstream words(c.args);
        for (std::string word; words >> word;)
            args.push_back(word);
        ChildProcess program(LOADER_EXECUTABLE, args, options);
        const std::optional<int> status = program.WaitUntil(Clock::now() + RunLimit);
        ASSERT_TRUE(status) << "the program did not end";

        const std::string out = program.Output();
        const std::string err = program.Error();
        EXPECT_EQ(testsupport::ExitCode(*status), c.status) << err;
        EXPECT_EQ(out.substr(0, c.out.size()), c.out) << out;
        EXPECT_EQ(out.empty(), c.out.empty()) << out;
        EXPECT_TRUE(c.err.empty() ? err.empty() : err.find(c.err) != std::string::npos) << err;
        if (c.out != "Smoke run: ") { // only the smoke run starts up for real
            EXPECT_EQ(dir.Read("loader.ini"), ini);
            EXPECT_FALSE(std::filesystem::exists(dir.File("loader.log")));
        }
    }
}

// A signal closes the window as its close box does, also while a start-up box waits: the port is
// closed with its exclusive mark cleared (so another program may open it; root passes the mark
// regardless), and the status is the shell's for a killed program.
TEST(LoaderApplicationTest, SignalsCloseTheWindowAndFreeThePort)
{
    struct Case {
        int signal;
        const char *settings;  // section RS232Settings of loader.ini
        const char *readyWhen; // loader.ini holds this once the program is where the signal goes
        bool portOpen;         // or: the line has the speed of loader.ini
    };
    const Case cases[] = {
        {SIGTERM, "Baud Rate=115200\n", "", true},
        {SIGHUP, "Baud Rate=115200\n", "", true},
        {SIGINT, "Baud Rate=115200\n", "", true},
        // The replaced value is written back just before the box that tells of it is shown.
        {SIGTERM, "Data Bits=9\n", "Data Bits=8", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + " " + c.settings);
        testsupport::TempDir dir;
        testsupport::PseudoTerminal line;
        dir.Write("loader.ini", std::string("[RS232Settings]\n") + c.settings +
                                    "[Devices]\nCOM1=" + line.SlavePath() + "\n");
        testsupport::ChildOptions options;
        options.dir = dir.Path();
        options.err = testsupport::ChildOutput::Captured();
        testsupport::ChildProcess program(LOADER_EXECUTABLE, {"-platform", "offscreen"}, options);
        const auto ready = [&] {
            if (!c.portOpen)
                return dir.Read("loader.ini").find(c.readyWhen) != std::string::npos;
            const termios settings = line.SlaveTermios();
            return cfgetospeed(&settings) == B115200;
        };
        const auto giveUp = testsupport::Clock::now() + std::chrono::seconds(60);
        while (!ready() && program.Running() && testsupport::Clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(program.Running());

        ASSERT_TRUE(program.Signal(c.signal));
        const std::optional<int> status = program.WaitUntil(giveUp);
        ASSERT_TRUE(status.has_value()) << "the program stayed on";
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(testsupport::ExitCode(*status), 128 + c.signal);
        if (c.portOpen) {
            EXPECT_NE(program.Error().find("received: closing the window and the port\n"),
                      std::string::npos);
        }
        const int fd = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace
