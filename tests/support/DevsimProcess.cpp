#include "tests/support/DevsimProcess.h"

#include <stdexcept>

namespace testsupport
{
namespace
{

// Bounds that only end a simulator that hangs.
constexpr auto LinkLimit = std::chrono::seconds(10);
constexpr auto StopGrace = std::chrono::seconds(10);

std::string LinkOf(const std::vector<std::string> &args)
{
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--link")
            return args[i + 1];
    throw std::runtime_error("the simulator needs --link PATH");
}

} // namespace

DevsimProcess::DevsimProcess(const std::string &binary, const std::vector<std::string> &args,
                             const ChildOptions &options)
    : linkPath_(LinkOf(args)), child_(binary, args, options)
{
    if (child_.WaitForPath(linkPath_, Clock::now() + LinkLimit))
        return;
    if (!child_.Running())
        throw std::runtime_error("the simulator ended before its link appeared");
    Stop();
    throw std::runtime_error("the simulator's link did not appear: " + linkPath_);
}

std::optional<int> DevsimProcess::WaitForEnd()
{
    if (const auto status = child_.WaitUntil(Clock::now() + StopGrace))
        return ExitCode(*status);
    return std::nullopt;
}

int DevsimProcess::Stop()
{
    return ExitCode(child_.Stop(StopGrace));
}

int RunDevsimToEnd(const std::string &binary, const std::vector<std::string> &args)
{
    return ExitCode(ChildProcess(binary, args).Wait());
}

} // namespace testsupport
