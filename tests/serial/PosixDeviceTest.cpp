// The POSIX device layer over a pseudo terminal: the test holds the master side, the port opens
// the slave through the "Devices" section of an ini file.

#include "serial/PosixDevice.h"
#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TempDir.h"
#include "tests/support/TriggerRecorder.h"
#include "tests/support/Wait.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace serial;
using namespace std::chrono_literals;
using testsupport::PseudoTerminal;
using testsupport::TriggerRecorder;

namespace
{

using testsupport::WaitUntil;

std::string Pattern(size_t size)
{
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>(i * 7 % 251));
    return bytes;
}

class PosixPort : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Valid());
        previous = InstalledDeviceRoutines();
        InstallPosixDeviceLayer();
        dir.Write("loader.ini",
                  "[Devices]\ncom21 = " + pty.SlavePath() + "\nCOM23=/nonexistent/ttyX\n");
        SetDeviceIniFile(dir.File("loader.ini"));
    }

    void TearDown() override
    {
        if (port)
            ClosePort(port);
        SetDeviceIniFile("loader.ini");
        InstallDeviceRoutines(previous);
    }

    int Open(uint16_t outSize = 4096)
    {
        return OpenPort(port, "COM21", 4096, outSize, 9600, 0, 8, 1);
    }

    std::string ReadPort(uint16_t count)
    {
        std::string bytes(count, '\0');
        if (ReadBytes(port, reinterpret_cast<uint8_t *>(bytes.data()), count) != count)
            return "<short>";
        return bytes;
    }

    int Send(const std::string &bytes)
    {
        return SendBytes(port, reinterpret_cast<const uint8_t *>(bytes.data()),
                         static_cast<uint16_t>(bytes.size()));
    }

    TriggerRecorder recorder; // outlives the port it listens to
    PseudoTerminal pty;
    testsupport::TempDir dir;
    TDeviceRoutines previous{};
    int port = 0;
};

} // namespace

TEST(PosixDevicePaths, DefaultTableAndNames)
{
    testsupport::TempDir dir;
    SetDeviceIniFile(dir.File("missing.ini"));
    const std::pair<const char *, const char *> cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM4", "/dev/ttyS3"},
        {"COM5", "/dev/ttyUSB0"},
        {"COM8", "/dev/ttyUSB3"},
        {"COM9", "/dev/ttyACM0"},
        {"COM12", "/dev/ttyACM3"},
        {"COM13", "/dev/ttyAMA0"},
        {"COM16", "/dev/ttyAMA3"},
        {"COM17", ""},
        {"COM0", ""},
        {"\\\\.\\COM2", "/dev/ttyS1"},
        {"com3", "/dev/ttyS2"},
        {"/dev/pts/9", "/dev/pts/9"},
        {"LPT1", ""},
        {"COM", ""},
        {"COM1x", ""},
    };
    for (const auto &[name, path] : cases)
        EXPECT_EQ(DevicePathFor(name), path) << name;
    dir.Write("loader.ini", "[devices]\nCOM1 = /tmp/my-adapter\n");
    SetDeviceIniFile(dir.File("loader.ini"));
    EXPECT_EQ(DevicePathFor("COM1"), "/tmp/my-adapter");
    EXPECT_EQ(DevicePathFor("COM2"), "/dev/ttyS1");
    SetDeviceIniFile("loader.ini");
}

TEST_F(PosixPort, OpenReportsAbsentAndHeldDevices)
{
    ASSERT_EQ(Open(), ecOK);
    int other = 0;
    EXPECT_EQ(OpenPort(other, "COM21", 4096, 4096, 9600, 0, 8, 1), ecAccessDenied);
    EXPECT_EQ(OpenPort(other, "COM22", 4096, 4096, 9600, 0, 8, 1), ecFileNotFound);
    EXPECT_EQ(OpenPort(other, "COM23", 4096, 4096, 9600, 0, 8, 1), ecFileNotFound);
    EXPECT_EQ(OpenPort(other, "COM21", 4096, 4096, 14400, 0, 8, 1), ecAccessDenied);
    EXPECT_TRUE(ProbePort(21)); // held by this port: still present
    EXPECT_FALSE(ProbePort(22));
    EXPECT_FALSE(ProbePort(23));
    ASSERT_EQ(ClosePort(port), ecOK);
    port = 0;
    EXPECT_TRUE(ProbePort(21));
    EXPECT_EQ(OpenPort(other, "COM21", 4096, 4096, 14400, 0, 8, 1), ecNotSupported);
    ASSERT_EQ(Open(), ecOK);
}

TEST_F(PosixPort, LineSettingsReachTheDevice)
{
    ASSERT_EQ(Open(), ecOK);
    termios t = pty.SlaveTermios();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(cfgetospeed(&t), B9600);

    // A pseudo terminal forces 8 data bits and no parity enable into its settings, so those
    // two are checked through ReadLineSettings; speed, stop bits and the parity kind show.
    struct Case {
        int32_t baud;
        uint16_t parity, data, stop;
        speed_t speed;
        tcflag_t flags; // of CSTOPB, PARODD, CMSPAR
    };
    const Case cases[] = {
        {115200, 2, 7, 2, B115200, CSTOPB},
        {57600, 1, 8, 1, B57600, PARODD},
        {1200, 3, 5, 2, B1200, CSTOPB | PARODD | CMSPAR},
        {921600, 4, 6, 1, B921600, CMSPAR},
        {9600, 0, 8, 1, B9600, 0},
    };
    const tcflag_t mask = CSTOPB | PARODD | CMSPAR;
    for (const Case &c : cases) {
        ASSERT_EQ(ApplyLineSettings(port, c.baud, c.parity, c.data, c.stop), ecOK);
        t = pty.SlaveTermios();
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ(t.c_cflag & mask, c.flags) << c.baud;
        int32_t baud = 0;
        uint16_t parity = 0, data = 0, stop = 0;
        ASSERT_EQ(ReadLineSettings(port, baud, parity, data, stop), ecOK);
        EXPECT_EQ((std::vector<int>{baud, parity, data, stop}),
                  (std::vector<int>{c.baud, c.parity, c.data, c.stop}));
    }
    EXPECT_EQ(ApplyLineSettings(port, 14400, 5, 9, 3), ecNotSupported);
    EXPECT_EQ(cfgetospeed(&t), B9600);

    ASSERT_EQ(EnableHardwareFlow(port, 3686, 409, hfUseRts | hfRequireCts), ecOK);
    EXPECT_TRUE(pty.SlaveTermios().c_cflag & CRTSCTS);
    ASSERT_EQ(DisableHardwareFlow(port), ecOK);
    EXPECT_FALSE(pty.SlaveTermios().c_cflag & CRTSCTS);
    ASSERT_EQ(EnableSoftwareFlow(port, 3072, 1024, sfReceive | sfTransmit), ecOK);
    t = pty.SlaveTermios();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    ASSERT_EQ(SetFlowChars(port, 0x01, 0x02), ecOK);
    EXPECT_EQ(pty.SlaveTermios().c_cc[VSTOP], 0x02);
    ASSERT_EQ(DisableSoftwareFlow(port), ecOK);
    EXPECT_EQ(pty.SlaveTermios().c_iflag & (IXON | IXOFF), 0u);
    // A pseudo terminal has no modem lines; that is no error.
    EXPECT_EQ(ReadModemStatus(port, 0xFF) & 0xF0, 0);
    EXPECT_EQ(DriveDTR(port, false), ecOK);
}

TEST_F(PosixPort, BytesTravelBothWays)
{
    ASSERT_EQ(Open(), ecOK);
    const int prompt = AddMatchTrigger(port, "OK\r", false);
    ASSERT_EQ(recorder.Attach(port), ecOK);
    pty.Write("hello OK\r");
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0].WParam, static_cast<uintptr_t>(prompt));
    EXPECT_EQ(ReadPort(9), "hello OK\r");

    ASSERT_EQ(Send("ATZ\r"), ecOK);
    EXPECT_EQ(pty.Read(4), "ATZ\r");

    // More than the terminal buffers while nobody reads: the output thread waits for room. (The
    // reader may see "ATZ\r" before the output thread has moved the ring's tail past it.)
    const std::string block = Pattern(4096);
    ASSERT_TRUE(WaitUntil([&] { return OutputRoom(port) == 4096; }));
    ASSERT_EQ(Send(block), ecOK);
    ASSERT_TRUE(WaitUntil([&] { return OutputRoom(port) == 4096; }));
    ASSERT_EQ(Send(block), ecOK);
    ASSERT_EQ(Send(block.substr(0, 0)), ecOK);
    EXPECT_EQ(pty.Read(8192), block + block);
    EXPECT_TRUE(WaitUntil([&] { return OutputCount(port) == 0; }));
}

TEST_F(PosixPort, AdoptedHandleIsUsedAndClosed)
{
    const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(OpenPortHandle(port, fd, 4096, 4096), ecOK);
    ASSERT_EQ(Send("ping"), ecOK);
    EXPECT_EQ(pty.Read(4), "ping");
    pty.Write("pong");
    ASSERT_TRUE(WaitUntil([&] { return InputCount(port) == 4; }));
    EXPECT_EQ(ReadPort(4), "pong");
    ASSERT_EQ(ClosePort(port), ecOK);
    port = 0;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(PosixPort, EveryCloseLiftsTheExclusiveMark)
{
    // The kernel keeps the mark while the terminal lives, and then refuses every open by a user
    // without CAP_SYS_ADMIN (EBUSY); root may open and asks for the mark itself.
    auto exclusive = [&] {
        const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno == EBUSY ? 1 : -1;
        int mark = -1;
        ioctl(fd, TIOCGEXCL, &mark);
        close(fd);
        return mark;
    };
    const std::pair<const char *, std::function<void()>> uses[] = {
        {"probe", [] { EXPECT_TRUE(ProbePort(21)); }},
        {"failed open",
         [&] { EXPECT_EQ(OpenPort(port, "COM21", 4096, 4096, 14400, 0, 8, 1), ecNotSupported); }},
        {"open and close",
         [&] {
             ASSERT_EQ(Open(), ecOK);
             EXPECT_EQ(exclusive(), 1);
             ASSERT_EQ(ClosePort(port), ecOK);
             port = 0;
         }},
    };
    for (const auto &[name, use] : uses) {
        use();
        EXPECT_EQ(exclusive(), 0) << name;
    }
}

TEST_F(PosixPort, HangUpInTheMiddleOfALargeWriteFailsTheLine)
{
    ASSERT_EQ(Open(), ecOK);
    const int errors = AddStateTrigger(port, StatusLineError);
    const int used = AddStateTrigger(port, StatusOutUsed);
    ASSERT_EQ(recorder.Attach(port), ecOK);
    ASSERT_EQ(ArmStateTrigger(port, static_cast<uint16_t>(errors), 0, true), ecOK);
    pty.Write("bye");
    ASSERT_TRUE(WaitUntil([&] { return InputCount(port) == 3; }));
    // Nobody reads the device side: the terminal's buffer fills up, then the output ring.
    const std::string block = Pattern(256);
    for (int i = 0; i < 200 && Send(block) == ecOK; ++i) {
    }
    ASSERT_EQ(ArmStateTrigger(port, static_cast<uint16_t>(used), 0, true), ecOK);
    pty.CloseMaster();

    ASSERT_TRUE(recorder.WaitForCount(2));
    std::vector<uintptr_t> fired;
    for (const testsupport::RecordedMessage &m : recorder.Messages())
        fired.push_back(m.WParam);
    std::sort(fired.begin(), fired.end());
    EXPECT_EQ(fired, (std::vector<uintptr_t>{static_cast<uintptr_t>(errors),
                                             static_cast<uintptr_t>(used)}));
    EXPECT_EQ(TakeLineError(port) & ceIoError, static_cast<int>(ceIoError));
    EXPECT_EQ(LineFailure(port), EIO);
    TPortView view{};
    ASSERT_TRUE(WaitUntil([&] {
        return InspectPort(port, view) == ecOK && !view.EventThreadRunning &&
               !view.OutputThreadRunning;
    }));
    EXPECT_EQ(OutputCount(port), 0);
    EXPECT_EQ(Send("lost"), ecPutBlockFail);
    EXPECT_EQ(ReadPort(3), "bye");
    ASSERT_EQ(recorder.Detach(port), ecOK);
    EXPECT_EQ(ClosePort(port), ecOK);
    uint8_t c = 0;
    EXPECT_EQ(ReadByte(port, c), ecBadHandle);
    port = 0;

    // The device is back on another terminal.
    PseudoTerminal back;
    dir.Write("loader.ini", "[Devices]\ncom21 = " + back.SlavePath() + "\n");
    ASSERT_EQ(Open(), ecOK);
    EXPECT_EQ(LineFailure(port), 0);
    ASSERT_EQ(Send("ping"), ecOK);
    EXPECT_EQ(back.Read(4), "ping");
}
