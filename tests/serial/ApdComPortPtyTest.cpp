// The port component over the POSIX device layer and a pseudo terminal: the test holds the
// master side, the component opens the slave under a port number mapped in the ini file.

#include "serial/ApdComPort.h"

#include "serial/ApdExcept.h"
#include "serial/ErrorCodes.h"
#include "serial/PosixDevice.h"
#include "tests/serial/ComPortFixture.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

using namespace serial;
using comporttest::FlushDeferredDeletes;
using comporttest::TEventLog;
using comporttest::WaitUntil;

namespace
{

// A pseudo terminal pair; the master is the far end of the line.
class TPty
{
  public:
    TPty()
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path_ = name;
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~TPty()
    {
        close(master_);
        if (slave_ >= 0)
            close(slave_);
    }
    TPty(const TPty &) = delete;
    TPty &operator=(const TPty &) = delete;

    const std::string &Path() const { return path_; }
    // Closes the test's own slave descriptor, so only the port holds the device.
    void ReleaseSlave()
    {
        close(slave_);
        slave_ = -1;
    }
    void Write(const std::string &bytes) const
    {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Reads until count bytes came (or the safety limit passed).
    std::string Read(size_t count) const
    {
        std::string got;
        WaitUntil([&] {
            char buffer[256];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, size_t(n));
            return got.size() >= count;
        });
        return got;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

class PtyPort : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        previousIni = DeviceIniFile();
        pty.ReleaseSlave();
        dir.Write("loader.ini", "[Devices]\nCOM7=" + pty.Path() + "\nCOM8=" + dir.File("none") +
                                    "\nCOM9=" + dir.File("loader.ini") + "\n");
        SetDeviceIniFile(dir.File("loader.ini"));
        port.SetComNumber(7);
        port.SetTriggerLength(0);
    }
    void TearDown() override
    {
        port.SetOpen(false);
        FlushDeferredDeletes();
        SetDeviceIniFile(previousIni);
    }

    std::string previousIni;
    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    TPty pty;
    TApdComPort port;
};

} // namespace

TEST_F(PtyPort, SendsAndReceivesOverTheDevice)
{
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    port.SendText("AT\r");
    EXPECT_EQ(pty.Read(3), "AT\r");

    const uint16_t prompt = port.AddMatchTrigger(">", false);
    TEventLog log(port);
    pty.Write("OK\r\n>");
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ(log.entries[1], "Data " + std::to_string(prompt));
    EXPECT_EQ(port.InputCount(), 5);
    char reply[5];
    port.ReadBytes(reply, 5);
    EXPECT_EQ(std::string(reply, 5), "OK\r\n>");
}

TEST_F(PtyPort, AwaitTextOverTheDevice)
{
    port.SetOpen(true);
    std::string seen;
    port.OnWaitChar = [&](TApdCustomComPort &, char c) { seen += c; };
    QTimer::singleShot(10, [&] { pty.Write("xOOK"); });
    EXPECT_TRUE(port.AwaitText("OK", 100, true, false));
    EXPECT_EQ(seen, "xOOK");

    pty.Write("aaab");
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 4; }));
    EXPECT_FALSE(port.AwaitText("aab", 2, true, false));
}

TEST_F(PtyPort, OpenErrorsOfTheDeviceLayer)
{
    struct Case {
        uint16_t comNumber;
        int code;
        int systemError; // kept for the operator, who needs more than the code
    };
    // COM8 names a path that does not exist, COM9 a file that is no terminal; COM7 is held by a
    // second component.
    TApdComPort holder;
    holder.SetComNumber(7);
    holder.SetOpen(true);
    for (const Case c :
         {Case{8, ecBadId, ENOENT}, Case{9, ecBadId, ENOTTY}, Case{7, ecAlreadyOpen, EBUSY}}) {
        SCOPED_TRACE(c.comNumber);
        port.SetComNumber(c.comNumber);
        try {
            port.SetOpen(true);
            ADD_FAILURE() << "no exception";
        } catch (const EAPDException &e) {
            EXPECT_EQ(e.ResultCode, c.code);
        }
        EXPECT_EQ(port.LastOpenError(), c.systemError);
        EXPECT_FALSE(port.Open());
    }
    holder.SetOpen(false);
    port.SetComNumber(7);
    EXPECT_NO_THROW(port.SetOpen(true));
    EXPECT_EQ(port.LastOpenError(), 0);
}

TEST_F(PtyPort, OpenFromAnAdoptedHandleReadsTheLineBack)
{
    const int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    t.c_cflag |= CSTOPB; // a pseudo terminal keeps speed and stop bits, not size or parity
    tcsetattr(fd, TCSANOW, &t);

    port.SetTapiMode(tmOn);
    port.SetDeviceHandle(fd);
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(port.Baud(), 9600);
    EXPECT_EQ(port.StopBits(), 2);
    port.SendText("hi");
    EXPECT_EQ(pty.Read(2), "hi");
    port.SetOpen(false); // closes the adopted descriptor too
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}
