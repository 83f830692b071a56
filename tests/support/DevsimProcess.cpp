#include "tests/support/DevsimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace testsupport
{
namespace
{

pid_t Spawn(const std::string &binary, const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, binary.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + binary);
    return pid;
}

int Reap(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

DevsimProcess::DevsimProcess(const std::string &binary, const std::vector<std::string> &args)
{
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--link")
            linkPath_ = args[i + 1];
    if (linkPath_.empty())
        throw std::runtime_error("the simulator needs --link PATH");
    pid_ = Spawn(binary, args);

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::error_code ec;
    while (!std::filesystem::exists(linkPath_, ec)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the simulator ended before its link appeared");
        }
        if (std::chrono::steady_clock::now() > giveUp) {
            Stop();
            throw std::runtime_error("the simulator's link did not appear: " + linkPath_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

DevsimProcess::~DevsimProcess()
{
    Stop();
}

int DevsimProcess::Stop()
{
    if (pid_ < 0)
        return -1;
    kill(pid_, SIGTERM);
    const int status = Reap(pid_);
    pid_ = -1;
    return status;
}

int RunDevsimToEnd(const std::string &binary, const std::vector<std::string> &args)
{
    return Reap(Spawn(binary, args));
}

} // namespace testsupport
