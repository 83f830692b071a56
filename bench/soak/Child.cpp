#include "bench/soak/Child.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace soak
{
namespace
{

constexpr auto PollStep = std::chrono::milliseconds(5);

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void BecomeChild(pid_t parent, char *const *argv, const char *cwd, const char *out,
                              const char *err)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int outFd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || outFd < 0 || errFd < 0 || chdir(cwd) != 0)
        _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    execve(argv[0], argv, environ);
    _exit(127);
}

} // namespace

Child::Child(const std::string &binary, const std::vector<std::string> &args,
             const std::string &cwd, const std::string &out, const std::string &err)
{
    std::vector<char *> argv{const_cast<char *>(binary.c_str())};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot start " + binary);
    if (pid_ == 0)
        BecomeChild(parent, argv.data(), cwd.c_str(), out.c_str(), err.c_str());
}

Child::~Child()
{
    Kill();
}

bool Child::Reaped(int flags)
{
    if (pid_ < 0)
        return true;
    for (;;) {
        const pid_t got = waitpid(pid_, &status_, flags);
        if (got == pid_) {
            pid_ = -1;
            return true;
        }
        if (got == 0)
            return false;
        if (errno != EINTR) {
            pid_ = -1; // not ours to wait for any more
            return true;
        }
    }
}

bool Child::Running()
{
    return !Reaped(WNOHANG);
}

std::optional<int> Child::WaitUntil(Clock::time_point deadline, const volatile sig_atomic_t &stop)
{
    while (Running()) {
        if (stop || Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(PollStep);
    }
    return status_;
}

void Child::Stop(std::chrono::milliseconds grace)
{
    if (!Running())
        return;
    kill(pid_, SIGTERM);
    const auto giveUp = Clock::now() + grace;
    while (Running() && Clock::now() < giveUp)
        std::this_thread::sleep_for(PollStep);
    Kill();
}

void Child::Kill()
{
    if (!Running())
        return;
    kill(pid_, SIGKILL);
    Reaped(0);
}

} // namespace soak
