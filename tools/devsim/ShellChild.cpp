#include "tools/devsim/ShellChild.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace devsim
{
namespace
{

[[noreturn]] void ThrowErrno(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// Everything the child needs after fork, built before it: between fork and exec only
// async-signal-safe calls are allowed, so nothing is allocated there.
struct Launch {
    std::string path;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string failure; // said on the terminal when exec fails
    std::vector<char *> argv;
    std::vector<char *> envp;

    void Seal()
    {
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string &e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

std::string LoginShell()
{
    const passwd *entry = ::getpwuid(::getuid());
    if (entry && entry->pw_shell && entry->pw_shell[0] != '\0')
        return entry->pw_shell;
    return "/bin/sh";
}

Launch LaunchFor(const ShellSettings &settings)
{
    Launch launch;
    if (settings.command.empty()) {
        launch.path = LoginShell();
        // A leading "-" in argv[0] is how login tells a shell it is a login shell.
        const std::size_t slash = launch.path.rfind('/');
        launch.args = {"-" + launch.path.substr(slash == std::string::npos ? 0 : slash + 1)};
    } else {
        launch.path = "/bin/sh";
        launch.args = {"sh", "-c", settings.command};
    }
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "TERM" && name != "LINES" && name != "COLUMNS")
            launch.env.push_back(entry);
    }
    launch.env.push_back("TERM=vt100");
    launch.failure = "devsim: cannot run " + launch.path + ": ";
    launch.Seal();
    return launch;
}

void WriteAll(int fd, const char *text)
{
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t n = ::write(fd, text, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

// In the forked child: a session of its own on the new terminal, then the program.
[[noreturn]] void RunChild(int slave, const Launch &launch)
{
    // A login on a line starts with every signal at its default and none blocked, whatever
    // devsim was started with.
    struct sigaction byDefault {
    };
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
        ::sigaction(number, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) < 0)
        ::_exit(127);
    for (int fd = 0; fd <= 2; ++fd)
        if (::dup2(slave, fd) < 0)
            ::_exit(127);
    if (slave > 2)
        ::close(slave);
    ::execve(launch.path.c_str(), launch.argv.data(), launch.envp.data());
    const int err = errno;
    WriteAll(2, launch.failure.c_str());
    WriteAll(2, ::strerrordesc_np(err));
    WriteAll(2, "\n");
    ::_exit(127);
}

} // namespace

ShellChild::ShellChild(const ShellSettings &settings)
{
    const Launch launch = LaunchFor(settings);
    // An ignored SIGCHLD, inherited from whoever started devsim, would have the kernel reap the
    // program unseen.
    ::signal(SIGCHLD, SIG_DFL);
    winsize size{};
    size.ws_row = settings.rows;
    size.ws_col = settings.columns;
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, &size) != 0)
        ThrowErrno("openpty");
    try {
        termios cooked{};
        if (::tcgetattr(slave, &cooked) != 0)
            ThrowErrno("tcgetattr");
        cooked.c_cc[VERASE] = '\b';
        if (::tcsetattr(slave, TCSANOW, &cooked) != 0)
            ThrowErrno("tcsetattr");
        if (::fcntl(master_, F_SETFD, FD_CLOEXEC) < 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) < 0 ||
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) < 0)
            ThrowErrno("fcntl");
        pid_ = ::fork();
        if (pid_ < 0)
            ThrowErrno("fork");
        if (pid_ == 0)
            RunChild(slave, launch);
        ::close(slave);
        slave = -1;
        // Through syscall(): this C library's <sys/pidfd.h> lacks C linkage for C++.
        pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd_ < 0)
            ThrowErrno("pidfd_open");
    } catch (...) {
        if (slave >= 0)
            ::close(slave);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(master_);
        throw;
    }
}

ShellChild::~ShellChild()
{
    if (!Ended())
        ::kill(-pid_, SIGHUP);
    ::close(pidfd_);
    ::close(master_);
}

bool ShellChild::Ended()
{
    if (!ended_ && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
        ended_ = true;
    return ended_;
}

void ShellChild::HangUp(std::chrono::milliseconds grace)
{
    if (Ended())
        return;
    ::kill(-pid_, SIGHUP);
    ::kill(-pid_, SIGCONT);
    const auto giveUp = std::chrono::steady_clock::now() + grace;
    while (!Ended()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            giveUp - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd end{pidfd_, POLLIN, 0};
        ::poll(&end, 1, static_cast<int>(left.count()) + 1);
    }
}

} // namespace devsim
