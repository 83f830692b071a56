// Program start: its options, the application's names, and a smoke run of the real program.

#include "app/LoaderApplication.h"
#include "app/FrmLoadr.h"
#include "platform/Help.h"
#include "serial/PosixDevice.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace
{

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

    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(dir.Path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(LOADER_EXECUTABLE), {QStringLiteral("--smoke")});
    ASSERT_TRUE(program.waitForFinished(60000)) << "the smoke run did not end";

    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::string out = program.readAllStandardOutput().toStdString();
    EXPECT_EQ(out, "Smoke run: showed the main window offscreen for 1.5 s, then closed it.\n");
    const std::string err = program.readAllStandardError().toStdString();
    const std::string ini = std::filesystem::canonical(dir.Path()).string() + "/loader.ini";
    EXPECT_NE(err.find("Error: Unable to write to " + ini), std::string::npos) << err;
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

        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(dir.Path()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (c.platform)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(c.platform));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(LOADER_EXECUTABLE),
                      QString::fromLatin1(c.args).split(u' ', Qt::SkipEmptyParts));
        ASSERT_TRUE(program.waitForFinished(60000)) << "the program did not end";

        const std::string out = program.readAllStandardOutput().toStdString();
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << err;
        EXPECT_EQ(program.exitCode(), c.status) << err;
        EXPECT_EQ(out.substr(0, c.out.size()), c.out) << out;
        EXPECT_EQ(out.empty(), c.out.empty()) << out;
        EXPECT_TRUE(c.err.empty() ? err.empty() : err.find(c.err) != std::string::npos) << err;
        if (c.out != "Smoke run: ") { // only the smoke run starts up for real
            EXPECT_EQ(dir.Read("loader.ini"), ini);
            EXPECT_FALSE(std::filesystem::exists(dir.File("loader.log")));
        }
    }
}

// A signal closes the window as its close box does: the port is closed with its exclusive mark
// cleared (so another program may open it; root passes the mark regardless), and the status is
// the shell's for a killed program.
TEST(LoaderApplicationTest, SignalsCloseTheWindowAndFreeThePort)
{
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        testsupport::TempDir dir;
        testsupport::PseudoTerminal line;
        dir.Write("loader.ini",
                  "[RS232Settings]\nBaud Rate=115200\n[Devices]\nCOM1=" + line.SlavePath() + "\n");

        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(dir.Path()));
        program.start(QStringLiteral(LOADER_EXECUTABLE),
                      {QStringLiteral("-platform"), QStringLiteral("offscreen")});
        ASSERT_TRUE(program.waitForStarted());
        // The port is opened after the signals are caught; it is open once the line has the
        // speed of loader.ini.
        const auto portOpen = [&line] {
            const termios settings = line.SlaveTermios();
            return cfgetospeed(&settings) == B115200;
        };
        while (!portOpen() && program.state() == QProcess::Running)
            program.waitForFinished(20);
        ASSERT_EQ(program.state(), QProcess::Running);

        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 128 + signal);
        EXPECT_NE(program.readAllStandardError().toStdString().find(
                      "received: closing the window and the port\n"),
                  std::string::npos);
        const int fd = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace
