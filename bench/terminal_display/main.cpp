// The terminal as an operator sees it: the real terminal component on a port opened over a
// pseudo terminal, offscreen, with a child process as the device at the far end.
//   flood: the plain text stream of the throughput bench, 8 MiB written as fast as the pseudo
//          terminal takes it; the time until the last line is in the buffer and painted.
//   paced: the same text paced at 921600 baud (92160 bytes a second, 1 ms slices) for 10 s;
//          the share of one CPU the program (engine threads and GUI) used meanwhile.
// Prints terminal_flood_s=, terminal_flood_mbps=, terminal_paints=, and
// terminal_cpu_at_921600_pct=. An argument "flood" or "paced" runs one of them.

#include "bench/terminal_throughput/Streams.h"
#include "serial/ApdComPort.h"
#include "serial/PosixDevice.h"
#include "terminal/ApdTerminal.h"
#include "terminal/Terminal.h"
#include "tests/support/ChildProcess.h"
#include <cstring>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr size_t kFloodBytes = 8 * 1024 * 1024;
constexpr const char *kEndMark = "#END-OF-STREAM#";
constexpr int kPacedSeconds = 10;
constexpr int kPacedBytesPerSecond = 921600 / 10;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            _exit(1);
        }
        data += n;
        size -= size_t(n);
    }
}

// The device, in a child process of its own: writes the stream (all at once, or paced) and then
// waits to be killed, so that the line stays up while the program paints.
int PlayDevice(int master, const std::string &stream, bool paced)
{
    if (!paced) {
        WriteAll(master, stream.data(), stream.size());
    } else {
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        size_t sent = 0;
        while (clock::now() - start < std::chrono::seconds(kPacedSeconds)) {
            const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
            const size_t due = size_t(elapsed * kPacedBytesPerSecond);
            if (due > sent) {
                const size_t n = std::min(due - sent, stream.size() - sent % stream.size());
                WriteAll(master, stream.data() + sent % stream.size(), n);
                sent += n;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    pause();
    return 0;
}

struct Line {
    int master = -1;
    int slave = -1;
    std::string path;
};

Line OpenLine()
{
    Line line;
    char name[128] = {};
    if (openpty(&line.master, &line.slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    termios raw{};
    tcgetattr(line.master, &raw);
    cfmakeraw(&raw);
    tcsetattr(line.master, TCSANOW, &raw);
    line.path = name;
    return line;
}

// Runs one measurement on a fresh port and terminal; returns what it printed.
void Run(bool paced)
{
    Line line = OpenLine();
    const std::string ini = "/tmp/terminal_display_" + std::to_string(getpid()) + ".ini";
    std::ofstream(ini) << "[Devices]\nCOM1=" << line.path << "\n";
    serial::SetDeviceIniFile(ini);

    serial::TApdComPort port;
    port.SetComNumber(1);
    port.SetBaud(921600);
    port.SetOpen(true);
    terminal::TApdTerminal term;
    term.SetComPort(&port);
    term.SetActive(true);
    term.resize(800, 480);
    term.show();
    QApplication::processEvents();
    terminal::TTerminal &window = *term.Window();

    std::string stream = termbench::PlainStream(kFloodBytes, 1);
    if (!paced)
        stream += std::string("\r\n") + kEndMark;
    const int paintsBefore = window.PaintsDone();
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = CpuSeconds();
    testsupport::ChildProcess device([&] { return PlayDevice(line.master, stream, paced); });

    if (!paced) {
        const auto done = [&] {
            const terminal::TBuffer &b = window.aBuffer();
            return b.RowText(b.CursorRow).compare(0, std::strlen(kEndMark), kEndMark) == 0 &&
                   !window.RepaintPending();
        };
        // A real event loop: the program sleeps while it waits, as it would on a desk.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done() || wall.elapsed() > 120000)
                loop.quit();
        });
        check.start(1);
        loop.exec();
        QApplication::processEvents(); // the last paint
        const double seconds = wall.elapsed() / 1000.0;
        std::printf("terminal_flood_s=%.2f\n", seconds);
        std::printf("terminal_flood_mbps=%.1f\n", double(kFloodBytes) / 1e6 / seconds);
        std::printf("terminal_paints=%d\n", window.PaintsDone() - paintsBefore);
    } else {
        QEventLoop loop;
        QTimer::singleShot(kPacedSeconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double share = (CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0) * 100.0;
        std::printf("terminal_cpu_at_921600_pct=%.1f\n", share);
    }
    std::fflush(stdout);
    device.Kill();
    term.SetActive(false);
    port.SetOpen(false);
    close(line.master);
    close(line.slave);
    std::remove(ini.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    serial::InitializeComPorts();
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "flood")
        Run(false);
    if (only.empty() || only == "paced")
        Run(true);
    return 0;
}
