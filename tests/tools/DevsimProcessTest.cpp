// Runs the real simulator over its pseudo terminal link, as the loader would meet it.

#include "tests/support/DevsimProcess.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

using testsupport::DevsimProcess;
using Clock = std::chrono::steady_clock;

// Generous bound on how long a step may take before the test gives up; never a measurement.
constexpr auto GiveUpAfter = std::chrono::seconds(10);

class Port
{
  public:
    explicit Port(const std::string &path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        ::ioctl(fd_, TIOCEXCL); // as the loader does
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Port()
    {
        ::ioctl(fd_, TIOCNXCL); // as the loader does before it closes
        ::close(fd_);
    }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    int Fd() const { return fd_; }

    void Write(const std::string &bytes)
    {
        std::size_t done = 0;
        const auto giveUp = Clock::now() + GiveUpAfter;
        while (done < bytes.size() && Clock::now() < giveUp) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                WaitFor(POLLOUT);
        }
        ASSERT_EQ(done, bytes.size());
    }

    // Reads until the text received ends with `tail`; returns all of it.
    std::string ReadUntil(const std::string &tail)
    {
        std::string got;
        const auto giveUp = Clock::now() + GiveUpAfter;
        while (Clock::now() < giveUp &&
               (got.size() < tail.size() ||
                got.compare(got.size() - tail.size(), tail.size(), tail) != 0)) {
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            else
                WaitFor(POLLIN);
        }
        return got;
    }

  private:
    void WaitFor(short events)
    {
        pollfd p{fd_, events, 0};
        ::poll(&p, 1, 50);
    }

    int fd_;
};

// Waits until the report holds `lines` lines and returns them.
std::vector<std::string> ReportLines(const std::string &path, std::size_t lines)
{
    std::vector<std::string> result;
    const auto giveUp = Clock::now() + GiveUpAfter;
    do {
        result.clear();
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        if (result.size() >= lines)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < giveUp);
    return result;
}

TEST(DevsimProcess, ServesUploadsOverItsLinkAndReportsThem)
{
    testsupport::TempDir dir;
    const std::string link = dir.File("com1");
    const std::string report = dir.File("report.jsonl");
    DevsimProcess devsim(DEVSIM_BINARY, {"--link", link, "--report", report});
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    {
        Port port(link);
        port.Write("\r");
        EXPECT_EQ(port.ReadUntil("#"), "#");
        port.Write("MODE UL\r");
        EXPECT_EQ(port.ReadUntil(">"), ">");
        port.Write("LF 0x10000 5 000F 1.0\r");
        port.Write(std::string("\x01\x02\x03\x04\x05", 5));
        port.Write("\r");
        EXPECT_EQ(port.ReadUntil(">"), ">");
        port.Write("VER\r");
        EXPECT_EQ(port.ReadUntil(">"), "=1.0\r\n>");
    }
    ASSERT_EQ(ReportLines(report, 1),
              std::vector<std::string>{
                  R"({"header":"LF 0x10000 5 000F 1.0","valid":true,"address":"0x10000",)"
                  R"("length":5,"checksum":"000F","version":"1.0","received":5,)"
                  R"("received_checksum":"000F","length_ok":true,"checksum_ok":true,)"
                  R"("end":"complete"})"});

    // The host closed the line; the next open is served as before, in the mode it left.
    {
        Port port(link);
        port.Write("\r");
        EXPECT_EQ(port.ReadUntil(">"), ">");
        // A body cut off by the host closing is reported at once.
        port.Write("LF 0x20000 100 0000 2.0\rabc");
    }
    const auto lines = ReportLines(report, 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(R"("received":3,)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(R"("end":"hangup")"), std::string::npos) << lines[1];

    EXPECT_EQ(devsim.Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(DevsimProcess, PacedLineHoldsTheHostBack)
{
    testsupport::TempDir dir;
    const std::string link = dir.File("com1");
    const std::string report = dir.File("report.jsonl");
    DevsimProcess devsim(DEVSIM_BINARY,
                         {"--link", link, "--report", report, "--baud", "1200", "--echo"});
    Port port(link);
    port.Write("LF 0 4000 0000 v\r");
    // The echoed line end shows the header has passed the line.
    EXPECT_EQ(port.ReadUntil("\r\n"), "LF 0 4000 0000 v\r\n");
    port.Write(std::string(1000, '\0'));
    // At 120 bytes a second the device needs seconds for what it got: it must stop the host
    // long before then, so single further bytes find the line held.
    bool held = false;
    std::size_t extra = 0;
    for (const auto giveUp = Clock::now() + GiveUpAfter; !held && Clock::now() < giveUp;) {
        if (::write(port.Fd(), "", 1) == 1)
            ++extra;
        else if (errno == EAGAIN)
            held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(held) << extra << " more bytes were taken";
    EXPECT_EQ(devsim.Stop(), 0);
    const auto lines = ReportLines(report, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(R"("end":"shutdown")"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(R"("length_ok":false)"), std::string::npos) << lines[0];
}

TEST(DevsimProcess, LinkPlacement)
{
    testsupport::TempDir dir;
    const std::string link = dir.File("com1");
    // A stale link from an earlier run is replaced.
    std::filesystem::create_symlink(dir.File("gone"), link);
    {
        DevsimProcess devsim(DEVSIM_BINARY, {"--link", link});
        EXPECT_EQ(std::filesystem::read_symlink(link).string().rfind("/dev/pts/", 0), 0u);
    }
    // Anything that is not a link is left alone, and the simulator refuses to start.
    dir.Write("file", "keep");
    EXPECT_EQ(testsupport::RunDevsimToEnd(DEVSIM_BINARY, {"--link", dir.File("file")}), 1);
    EXPECT_EQ(dir.Read("file"), "keep");
    EXPECT_EQ(testsupport::RunDevsimToEnd(DEVSIM_BINARY, {"--baud", "fast"}), 2);
}

std::string Numbers(int last)
{
    std::string lines;
    for (int i = 1; i <= last; ++i)
        lines += std::to_string(i) + "\r\n";
    return lines;
}

// A program behind the line: the operator types `typed`, the line carries `received` (the
// terminal's echo included) and the program ends, which ends devsim.
struct ShellCase {
    const char *name;
    std::vector<std::string> args; // after --link PATH
    std::string typed;
    std::string received;
};

const ShellCase kShell[] = {
    // devsim's own TERM, LINES and COLUMNS (set below) do not get through.
    {"a vt100 of 24 x 80",
     {"--shell-command", "read x; echo $TERM [$LINES$COLUMNS]; stty size"},
     "\r",
     "\r\nvt100 []\r\n24 80\r\n"},
    {"another size",
     {"--shell-command", "read x; stty size", "--rows", "30", "--columns", "100"},
     "\r",
     "\r\n30 100\r\n"},
    // A cooked terminal: CR ends the line, backspace erases, the terminal echoes.
    {"typed line",
     {"--shell-command", "read x; echo got:$x"},
     "hellx\bo\r",
     "hellx\b \bo\r\ngot:hello\r\n"},
    // Far more than the line and both terminals hold: the program is held back, nothing is cut.
    {"flood", {"--shell-command", "read x; seq 1 40000"}, "\r", "\r\n" + Numbers(40000)},
    {"paced",
     {"--shell-command", "read x; seq 1 150", "--baud", "9600"},
     "\r",
     "\r\n" + Numbers(150)},
};

TEST(DevsimProcess, ProgramBehindTheLine)
{
    testsupport::ChildOptions options;
    options.setEnv = {{"TERM", "xterm"}, {"LINES", "99"}, {"COLUMNS", "99"}};
    for (const ShellCase &c : kShell) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        const std::string link = dir.File("com1");
        std::vector<std::string> args = {"--link", link};
        args.insert(args.end(), c.args.begin(), c.args.end());
        DevsimProcess devsim(DEVSIM_BINARY, args, options);
        Port port(link);
        port.Write(c.typed);
        EXPECT_EQ(port.ReadUntil(c.received), c.received);
        // The program's end ends devsim once the host has read the last output.
        EXPECT_EQ(devsim.WaitForEnd(), 0);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
}

TEST(DevsimProcess, StopSignalHangsTheProgramUp)
{
    testsupport::TempDir dir;
    const std::string link = dir.File("com1");
    DevsimProcess devsim(DEVSIM_BINARY, {"--link", link, "--shell-command", "echo pid:$$; read x"});
    Port port(link);
    const std::string said = port.ReadUntil("\r\n");
    ASSERT_EQ(said.rfind("pid:", 0), 0u) << said;
    const pid_t program = std::stoi(said.substr(4));
    EXPECT_EQ(devsim.Stop(), 0);
    EXPECT_TRUE(::kill(program, 0) != 0 && errno == ESRCH) << "the program still runs";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    // The device's options make no sense with a program behind the line.
    EXPECT_EQ(
        testsupport::RunDevsimToEnd(DEVSIM_BINARY, {"--link", link, "--shell", "--prompt", "$"}),
        2);
}

} // namespace
