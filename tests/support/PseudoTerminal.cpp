#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace testsupport
{

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = name;
    // Raw on both sides, so bytes pass unchanged until the program sets its own mode.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    CloseMaster();
    if (slave_ >= 0)
        close(slave_);
}

void PseudoTerminal::Write(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 100);
    }
}

std::string PseudoTerminal::Read(size_t count, std::chrono::milliseconds limit)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

termios PseudoTerminal::SlaveTermios() const
{
    termios t{};
    tcgetattr(slave_, &t);
    return t;
}

void PseudoTerminal::CloseMaster()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

} // namespace testsupport
