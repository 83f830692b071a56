// devsim: plays the flash loader's remote device on a pseudo terminal, or puts a program on a
// terminal of its own behind that line.

#include "tools/devsim/Options.h"
#include "tools/devsim/PtyLink.h"
#include "tools/devsim/Report.h"
#include "tools/devsim/ShellBridge.h"
#include "tools/devsim/ShellChild.h"
#include "tools/devsim/Simulator.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

namespace
{

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

// Blocks the stop signals outside the loop's wait, so none can slip in between a check of the
// flag and the wait. Returns the mask to wait with.
sigset_t InstallStopSignals()
{
    struct sigaction action {
    };
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&blocked, signal);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&waitMask, signal);
    return waitMask;
}

} // namespace

int main(int argc, char **argv)
{
    devsim::Options options;
    try {
        options = devsim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const devsim::OptionsError &e) {
        std::fprintf(stderr, "devsim: %s\n%s", e.what(), devsim::UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(devsim::UsageText().c_str(), stdout);
        return 0;
    }

    try {
        const sigset_t waitMask = InstallStopSignals();
        if (options.shell) {
            devsim::PtyLink link(options.linkPath);
            devsim::ShellChild child(options.shellSettings);
            std::fprintf(stderr, "devsim: %s -> %s, program %d\n", link.LinkPath().c_str(),
                         link.SlavePath().c_str(), static_cast<int>(child.Pid()));
            devsim::ShellBridge bridge(link, child, options.baud);
            return bridge.Run(stopRequested, waitMask);
        }
        std::unique_ptr<devsim::ReportFile> report;
        if (!options.reportPath.empty())
            report = std::make_unique<devsim::ReportFile>(options.reportPath, options.reportTimes);
        devsim::PtyLink link(options.linkPath);
        std::fprintf(stderr, "devsim: %s -> %s\n", link.LinkPath().c_str(),
                     link.SlavePath().c_str());
        devsim::Simulator simulator(link, options.device, options.baud, report.get());
        return simulator.Run(stopRequested, waitMask);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "devsim: %s\n", e.what());
        return 1;
    }
}
