// Soaks the whole upload path: many uploads of random files with random transfer sizes, from
// the real loader in batch mode to the device simulator over a pseudo terminal, half of them on a
// paced line and a tenth with a device error injected part-way. Every outcome is checked twice:
// what the loader reported (exit status and message boxes) and what the device received (the
// simulator's upload report). One batch run per upload, so each outcome stands on its own.
//
//   soak [--uploads N] [--seed S] [--only K] [--baud B] [--keep]
//
// Prints the seed first, any failure as it happens, a summary of the failures with the command
// that repeats each, and last soak_uploads=, soak_bytes=, soak_lost_or_corrupt= and
// soak_misreported=. Exit status: 0 when nothing was lost, corrupt or misreported, 1 otherwise,
// 2 when the soak could not run or was interrupted.

#include "bench/soak/SoakPlan.h"
#include "bench/soak/SoakVerdict.h"
#include "tests/support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using testsupport::Clock;

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

struct Options {
    int uploads = 1000;
    uint64_t seed = 0;
    int only = 0;       // one upload of the seed's run, by number; 0 for all
    long baud = 921600; // the paced line: fast, yet the loader's output really backs up
    bool keep = false;  // leave the work folder for a look
};

constexpr const char *Usage =
    "usage: soak [--uploads N] [--seed S] [--only K] [--baud B] [--keep]\n";

std::optional<Options> ParseOptions(int argc, char **argv)
{
    Options options;
    options.seed = std::random_device{}() ^ (static_cast<uint64_t>(std::random_device{}()) << 32);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep") {
            options.keep = true;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        try {
            std::size_t used = 0;
            const unsigned long long number = std::stoull(value, &used);
            if (used != value.size())
                return std::nullopt;
            if (arg == "--uploads" && number >= 1 && number <= 1000000)
                options.uploads = static_cast<int>(number);
            else if (arg == "--seed")
                options.seed = number;
            else if (arg == "--only" && number >= 1 && number <= 1000000)
                options.only = static_cast<int>(number);
            else if (arg == "--baud" && number >= 300 && number <= 4000000)
                options.baud = static_cast<long>(number);
            else
                return std::nullopt;
        } catch (const std::exception &) {
            return std::nullopt;
        }
    }
    return options;
}

std::string Read(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path &file, const std::string &bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

template <typename Pred> bool WaitFor(Pred pred, std::chrono::milliseconds limit)
{
    const auto giveUp = Clock::now() + limit;
    while (!pred()) {
        if (stopRequested || Clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Generous bounds: the slowest upload (blocks of one byte, the whole 256 KiB) takes some ten
// seconds on a busy machine, so these only end a run that hangs.
std::chrono::milliseconds RunLimit(const soak::UploadPlan &plan)
{
    return std::chrono::milliseconds(60000 + static_cast<long long>(plan.length) / 5);
}
constexpr auto LinkLimit = std::chrono::seconds(10);
constexpr auto ReportLimit = std::chrono::seconds(10);
constexpr auto StopGrace = std::chrono::seconds(5);

// A program of the soak: in the work folder, its output in files, in a process group of its own
// (a Ctrl-C at the terminal reaches the soak, which then ends its programs itself), and killed by
// the kernel should the soak die without a chance to clean up.
testsupport::ChildOptions InFolder(const fs::path &dir, const std::string &name)
{
    testsupport::ChildOptions options;
    options.dir = dir.string();
    options.nullInput = true;
    options.out = testsupport::ChildOutput::ToFile((dir / (name + ".out")).string());
    options.err = testsupport::ChildOutput::ToFile((dir / (name + ".err")).string());
    options.ownGroup = true;
    return options;
}

bool StopRequested()
{
    return stopRequested != 0;
}

// One upload: the simulator and the loader started afresh in `dir`, both ended before return.
// Nothing when the soak was asked to stop meanwhile.
std::optional<soak::Verdict> RunUpload(const soak::UploadPlan &plan, const Options &options,
                                       const fs::path &dir)
{
    const std::string body = soak::MakeBody(plan);
    const fs::path link = dir / "link";
    const fs::path report = dir / "report.jsonl";
    for (const char *stale : {"link", "report.jsonl", "loader.log"})
        fs::remove(dir / stale);
    Write(dir / "body.bin", body);
    Write(dir / "loader.sld", soak::ScriptFor(plan, "body.bin"));
    Write(dir / "loader.ini", soak::IniFor(plan, link.string()));

    std::vector<std::string> deviceArgs = {"--link", link.string(), "--mode",
                                           "UL",     "--report",    report.string()};
    if (plan.paced)
        deviceArgs.insert(deviceArgs.end(), {"--baud", std::to_string(options.baud)});
    if (plan.atEnd)
        deviceArgs.push_back("--fail-at-end");
    else if (plan.injection == soak::Injection::CommandLine)
        deviceArgs.insert(deviceArgs.end(), {"--fail-after", std::to_string(plan.failAt)});
    if (plan.errorPauseMs > 0)
        deviceArgs.insert(deviceArgs.end(), {"--error-split", std::to_string(plan.errorSplit),
                                             "--error-pause", std::to_string(plan.errorPauseMs)});
    testsupport::ChildProcess device(DEVSIM_BINARY, deviceArgs, InFolder(dir, "devsim"));
    if (!WaitFor([&] { return fs::is_symlink(link) || !device.Running(); }, LinkLimit)) {
        if (stopRequested)
            return std::nullopt;
        throw std::runtime_error("the simulator's link did not appear");
    }
    if (!fs::is_symlink(link))
        throw std::runtime_error("the simulator ended at start: " + Read(dir / "devsim.err"));

    testsupport::ChildProcess loader(LOADER_EXECUTABLE, {"--batch"}, InFolder(dir, "loader"));
    const std::optional<int> status =
        loader.WaitUntil(Clock::now() + RunLimit(plan), StopRequested);
    if (stopRequested)
        return std::nullopt;
    loader.Kill();

    soak::LoaderOutcome outcome;
    if (!status)
        outcome.end = soak::LoaderOutcome::End::TimedOut;
    else if (WIFSIGNALED(*status))
        outcome = {soak::LoaderOutcome::End::Signalled, WTERMSIG(*status), {}};
    else
        outcome.code = WEXITSTATUS(*status);
    outcome.boxes = Read(dir / "loader.err");

    // The device writes its line once it knows the upload's end: with the loader gone and the
    // port closed, that is at once, or when the bytes still on their way have been taken.
    WaitFor([&] { return Read(report).find('\n') != std::string::npos; }, ReportLimit);
    if (stopRequested)
        return std::nullopt;
    device.Stop(StopGrace);
    return soak::Judge(plan, body, outcome, soak::ParseReport(Read(report)));
}

std::string Elapsed(Clock::time_point since)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since);
    return std::to_string(seconds.count() / 60) + "m" + std::to_string(seconds.count() % 60) + "s";
}

struct Tally {
    int uploads = 0;
    int injected = 0;
    int paced = 0;
    uint64_t bytes = 0;
    int lostOrCorrupt = 0;
    int misreported = 0;
    std::vector<std::string> failures;
    std::map<std::string, int> kinds; // what went wrong, and on which line, with its count
};

std::string FailureLine(const soak::UploadPlan &plan, const soak::Verdict &verdict,
                        const Options &options)
{
    std::string line = "upload " + std::to_string(plan.number) + ": ";
    if (!verdict.lost.empty())
        line += verdict.lost + (verdict.misreport.empty() ? "" : "; ");
    line += verdict.misreport + "\n    " + soak::Describe(plan) +
            "\n    loader: " + verdict.loader + "\n    device: " + verdict.device +
            "\n    again: soak --seed " + std::to_string(options.seed) + " --only " +
            std::to_string(plan.number);
    if (plan.paced && options.baud != Options{}.baud)
        line += " --baud " + std::to_string(options.baud);
    return line;
}

void Count(Tally &tally, const soak::UploadPlan &plan, const soak::Verdict &verdict,
           const Options &options)
{
    ++tally.uploads;
    tally.injected += plan.Injected() ? 1 : 0;
    tally.paced += plan.paced ? 1 : 0;
    tally.bytes += verdict.intactBytes;
    tally.lostOrCorrupt += verdict.lost.empty() ? 0 : 1;
    tally.misreported += verdict.misreport.empty() ? 0 : 1;
    if (verdict.Fine())
        return;
    const std::string line = plan.paced ? " (paced)" : " (unpaced)";
    for (const std::string &fault : {verdict.lost, verdict.misreport})
        if (!fault.empty())
            ++tally.kinds[fault + line];
    tally.failures.push_back(FailureLine(plan, verdict, options));
    std::printf("FAILED %s\n", tally.failures.back().c_str());
    std::fflush(stdout);
}

void PrintSummary(const Tally &tally, const Options &options, Clock::time_point start)
{
    std::printf("%d uploads (%d paced, %d with an injected failure) in %s, seed %llu\n",
                tally.uploads, tally.paced, tally.injected, Elapsed(start).c_str(),
                static_cast<unsigned long long>(options.seed));
    if (tally.failures.empty()) {
        std::printf("no failures\n");
    } else {
        std::printf("%zu failed uploads:\n", tally.failures.size());
        for (const auto &[kind, count] : tally.kinds)
            std::printf("  %4d x %s\n", count, kind.c_str());
        constexpr std::size_t Shown = 50;
        for (std::size_t i = 0; i < tally.failures.size() && i < Shown; ++i)
            std::printf("  %s\n", tally.failures[i].c_str());
        if (tally.failures.size() > Shown)
            std::printf("  ... and %zu more, listed above as they happened\n",
                        tally.failures.size() - Shown);
    }
    std::printf("soak_uploads=%d\nsoak_bytes=%llu\nsoak_lost_or_corrupt=%d\nsoak_misreported=%d\n",
                tally.uploads, static_cast<unsigned long long>(tally.bytes), tally.lostOrCorrupt,
                tally.misreported);
}

int Soak(const Options &options, const fs::path &dir)
{
    const int first = options.only ? options.only : 1;
    const int last = options.only ? options.only : options.uploads;
    std::printf("soak: seed %llu, uploads %d..%d, paced line %ld baud, work folder %s\n",
                static_cast<unsigned long long>(options.seed), first, last, options.baud,
                dir.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    const int progressEvery = std::max(1, (last - first + 1) / 20);
    Tally tally;
    for (int number = first; number <= last && !stopRequested; ++number) {
        const soak::UploadPlan plan = soak::PlanUpload(options.seed, number);
        const std::optional<soak::Verdict> verdict = RunUpload(plan, options, dir);
        if (!verdict)
            break;
        Count(tally, plan, *verdict, options);
        if ((number - first + 1) % progressEvery == 0) {
            std::printf("  %d/%d uploads, %s, %d lost or corrupt, %d misreported\n",
                        number - first + 1, last - first + 1, Elapsed(start).c_str(),
                        tally.lostOrCorrupt, tally.misreported);
            std::fflush(stdout);
        }
    }
    if (stopRequested)
        std::printf("interrupted\n");
    PrintSummary(tally, options, start);
    if (stopRequested)
        return 2;
    return tally.lostOrCorrupt == 0 && tally.misreported == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);

    const fs::path dir = fs::temp_directory_path() / ("soak-" + std::to_string(getpid()));
    int result = 2;
    try {
        fs::create_directories(dir);
        result = Soak(*options, dir);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "soak: %s\n", e.what());
    }
    std::error_code ignored;
    if (options->keep)
        std::printf("work folder kept: %s\n", dir.c_str());
    else
        fs::remove_all(dir, ignored);
    return result;
}
