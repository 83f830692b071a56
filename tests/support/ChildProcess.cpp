#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace testsupport
{
namespace
{

constexpr auto PollStep = std::chrono::milliseconds(5);

// The caller's environment less `unset` and the names set, then those set.
std::vector<std::string> Environment(const ChildOptions &options)
{
    std::vector<std::string> removed = options.unsetEnv;
    for (const auto &[name, value] : options.setEnv)
        removed.push_back(name);
    std::vector<std::string> entries;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (std::find(removed.begin(), removed.end(), name) == removed.end())
            entries.push_back(text);
    }
    for (const auto &[name, value] : options.setEnv)
        entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char *> Pointers(std::vector<std::string> &texts)
{
    std::vector<char *> pointers;
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int OpenCapture(const ChildOutput &output, const char *name)
{
    if (output.to == ChildOutput::To::Closed) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("cannot make the child's ") + name);
        close(ends[0]); // the reader is gone before the child writes anything
        return ends[1];
    }
    if (output.to != ChildOutput::To::Capture)
        return -1;
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot capture the child's ") + name);
    return fd;
}

// What the child does before it runs its program or body: between fork and exec only
// async-signal-safe calls, so everything is prepared beforehand. Returns false on failure.
struct Setup {
    pid_t parent;
    bool ownGroup;
    bool nullInput;
    const char *dir;
    const ChildOutput *out;
    const ChildOutput *err;
    int outCapture;
    int errCapture;
};

bool Redirect(const ChildOutput &output, int capture, int target)
{
    int fd = -1;
    switch (output.to) {
    case ChildOutput::To::Parent:
        return true;
    case ChildOutput::To::Capture:
    case ChildOutput::To::Closed:
        fd = capture;
        break;
    case ChildOutput::To::File:
        fd = open(output.path.c_str(),
                  O_WRONLY | O_CREAT | O_CLOEXEC | (output.append ? O_APPEND : O_TRUNC), 0644);
        break;
    case ChildOutput::To::Output:
        fd = STDOUT_FILENO;
        break;
    }
    return fd >= 0 && dup2(fd, target) >= 0;
}

bool BecomeChild(const Setup &setup)
{
    if (setup.ownGroup) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != setup.parent) // the caller died before the request took hold
            return false;
    }
    // Signals the caller blocks or ignores stay theirs, not the child's.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &standard, nullptr);
    if (setup.nullInput) {
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0)
            return false;
    }
    return Redirect(*setup.out, setup.outCapture, STDOUT_FILENO) &&
           Redirect(*setup.err, setup.errCapture, STDERR_FILENO) &&
           (!*setup.dir || chdir(setup.dir) == 0);
}

std::string ReadAll(int fd)
{
    std::string text;
    if (fd < 0)
        return text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

} // namespace

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args,
                           const ChildOptions &options)
{
    try {
        Start(program, args, {}, options);
    } catch (...) {
        CloseCaptures();
        throw;
    }
}

ChildProcess::ChildProcess(const std::function<int()> &body, const ChildOptions &options)
{
    try {
        Start({}, {}, body, options);
    } catch (...) {
        CloseCaptures();
        throw;
    }
}

ChildProcess::~ChildProcess()
{
    Kill();
    CloseCaptures();
}

void ChildProcess::CloseCaptures()
{
    for (int *fd : {&outFd_, &errFd_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void ChildProcess::Start(const std::string &program, const std::vector<std::string> &args,
                         const std::function<int()> &body, const ChildOptions &options)
{
    std::vector<std::string> argTexts{program};
    argTexts.insert(argTexts.end(), args.begin(), args.end());
    std::vector<char *> argv = Pointers(argTexts);
    std::vector<std::string> envTexts = Environment(options);
    std::vector<char *> envp = Pointers(envTexts);
    outFd_ = OpenCapture(options.out, "stdout");
    errFd_ = OpenCapture(options.err, "stderr");
    group_ = options.ownGroup;
    const Setup setup{.parent = getpid(),
                      .ownGroup = options.ownGroup,
                      .nullInput = options.nullInput,
                      .dir = options.dir.c_str(),
                      .out = &options.out,
                      .err = &options.err,
                      .outCapture = outFd_,
                      .errCapture = errFd_};

    // A program that cannot be started says so through this pipe, closed by a successful exec.
    int report[2] = {-1, -1};
    if (!body && pipe2(report, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(errno));
    pid_ = fork();
    if (pid_ == 0) {
        if (BecomeChild(setup)) {
            if (body)
                _exit(body());
            execve(argv[0], argv.data(), envp.data());
        }
        const int error = errno;
        if (!body) {
            [[maybe_unused]] const ssize_t ignored = write(report[1], &error, sizeof error);
        }
        _exit(127);
    }
    const int forkError = errno;
    if (!body)
        close(report[1]);
    if (pid_ < 0) {
        if (!body)
            close(report[0]);
        throw std::runtime_error("cannot start " + (body ? std::string("a child") : program) +
                                 ": " + std::strerror(forkError));
    }
    if (group_)
        setpgid(pid_, pid_); // also here, so no signal to the group can come before the child's
    if (body)
        return;
    int error = 0;
    ssize_t got;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got > 0) {
        Reaped(0);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    }
}

bool ChildProcess::Reaped(int flags)
{
    if (pid_ < 0)
        return true;
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(pid_, &status, flags);
        if (got == pid_) {
            status_ = status;
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

bool ChildProcess::Running()
{
    return !Reaped(WNOHANG);
}

std::optional<int> ChildProcess::WaitUntil(Clock::time_point deadline,
                                           const std::function<bool()> &stop)
{
    while (Running()) {
        if ((stop && stop()) || Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(PollStep);
    }
    return status_;
}

int ChildProcess::Wait()
{
    Reaped(0);
    return status_;
}

bool ChildProcess::WaitForPath(const std::string &path, Clock::time_point deadline,
                               const std::function<bool()> &stop)
{
    for (;;) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec))
            return true;
        if (!Running() || (stop && stop()) || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(PollStep);
    }
}

bool ChildProcess::WaitForOutput(const std::string &text, Clock::time_point deadline)
{
    for (;;) {
        // Whether it still runs is asked first, so output written just before its end counts.
        const bool running = Running();
        if (Output().find(text) != std::string::npos)
            return true;
        if (!running || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(PollStep);
    }
}

bool ChildProcess::Signal(int signal)
{
    if (pid_ < 0)
        return false;
    return kill(group_ ? -pid_ : pid_, signal) == 0;
}

int ChildProcess::Stop(std::chrono::milliseconds grace)
{
    if (Running()) {
        Signal(SIGTERM);
        Signal(SIGCONT);
        WaitUntil(Clock::now() + grace);
        Kill();
    }
    return status_;
}

void ChildProcess::Kill()
{
    if (!Running())
        return;
    Signal(SIGKILL);
    Reaped(0);
}

std::string ChildProcess::Output() const
{
    return ReadAll(outFd_);
}

std::string ChildProcess::Error() const
{
    return ReadAll(errFd_);
}

int ExitCode(int status)
{
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testsupport
