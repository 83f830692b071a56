// A gang run at full speed: N device simulators (argv[1], default 16) paced at 921600 baud, one
// loader process uploading a 1 MiB file to all of them in blocks of 50 bytes; the last device
// fails the upload half way through. Then the same file to one simulator alone.
// Prints
//   gang_ports=N
//   gang_min_rate_ratio=X   the slowest successful port's body rate over the line rate (baud/10),
//                           as the devices timed their bodies from first to last byte
//   gang_cpu_s_per_mib=X    the loader's processor time (user + system) per MiB the devices got
//   gang_failed_ports=A,B   the ports the run's summary says failed
//   single_cpu_s_per_mib=X  the same figure for the run on one port

#include "tests/support/DevsimProcess.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

constexpr std::size_t FileLength = 1024 * 1024;
constexpr int Baud = 921600;
constexpr double LineBytesPerSecond = Baud / 10.0;
constexpr const char *FailAfter = "524288";

// A simulator's account of the first upload it saw.
struct Body {
    int64_t received = 0;
    int64_t firstMs = 0;
    int64_t lastMs = 0;
    bool complete = false;
};

int64_t Field(const std::string &line, const std::string &name)
{
    const std::size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos)
        throw std::runtime_error("the report has no " + name + ": " + line);
    return std::stoll(line.substr(at + name.size() + 3));
}

// The programs' own chatter goes to files, so the figures stand alone on the screen.
testsupport::ChildOptions InFolder(const fs::path &dir, const std::string &out)
{
    testsupport::ChildOptions options;
    options.dir = dir.string();
    options.out = testsupport::ChildOutput::ToFile((dir / out).string(), true);
    options.err = testsupport::ChildOutput::SameAsOutput();
    return options;
}

class Device
{
  public:
    Device(const fs::path &dir, const std::string &name, const std::vector<std::string> &extra)
        : link_(dir / name), report_(dir / (name + ".jsonl")),
          devsim_(DEVSIM_BINARY, Args(extra), InFolder(dir, "devsim.out"))
    {
    }

    const fs::path &Link() const { return link_; }

    // The first upload's body, once the simulator has reported it.
    Body FirstBody() const
    {
        for (int i = 0; i < 3000; ++i) {
            std::ifstream in(report_);
            std::string line;
            if (std::getline(in, line)) {
                Body body{Field(line, "received"), 0, 0,
                          line.find("\"end\":\"complete\"") != std::string::npos};
                if (body.received > 0) {
                    body.firstMs = Field(line, "first_byte_ms");
                    body.lastMs = Field(line, "last_byte_ms");
                }
                return body;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("no upload was reported on " + link_.string());
    }

  private:
    std::vector<std::string> Args(const std::vector<std::string> &extra) const
    {
        std::vector<std::string> args = {
            "--link", link_.string(), "--baud",         std::to_string(Baud), "--mode",
            "UL",     "--report",     report_.string(), "--report-times"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    fs::path link_;
    fs::path report_;
    testsupport::DevsimProcess devsim_;
};

void WriteIni(const fs::path &dir, const std::vector<std::unique_ptr<Device>> &devices)
{
    std::ofstream ini(dir / "loader.ini");
    ini << "[Upload Settings]\nDelay=0\nBlock Size=50\n"
           "[RS232Settings]\nComm Port=COM1\nBaud Rate="
        << Baud << "\n[Devices]\n";
    for (std::size_t i = 0; i < devices.size(); ++i)
        ini << "COM" << i + 1 << "=" << devices[i]->Link().string() << "\n";
}

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the loader to its end in `dir`; returns its processor time. The simulators are children
// too, but still running, so only the loader's time is added meanwhile.
double RunLoader(const fs::path &dir, const std::vector<std::string> &args, const std::string &out)
{
    const double before = ChildCpuSeconds();
    const int status = testsupport::ExitCode(
        testsupport::ChildProcess(LOADER_EXECUTABLE, args, InFolder(dir, out)).Wait());
    if (status != 0 && status != 1)
        throw std::runtime_error("the loader ended with status " + std::to_string(status) +
                                 " (see " + (dir / out).string() + ")");
    return ChildCpuSeconds() - before;
}

// The names the summary at the end of the run's output calls failed.
std::string FailedPorts(const fs::path &output)
{
    std::ifstream in(output);
    std::string failed;
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find(": failed: ");
        if (at != std::string::npos)
            failed += (failed.empty() ? "" : ",") + line.substr(0, at);
    }
    return failed;
}

constexpr double MiB = 1024.0 * 1024.0;

} // namespace

int main(int argc, char **argv)
{
    const int ports = argc > 1 ? std::atoi(argv[1]) : 16;
    if (ports < 2) {
        std::fprintf(stderr, "usage: gang_bench [PORTS]  (at least 2, default 16)\n");
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("gang-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    int result = 0;
    try {
        std::string body(FileLength, '\0');
        std::mt19937 random(20261208);
        for (char &byte : body)
            byte = static_cast<char>(random() & 0xFF);
        std::ofstream(dir / "bench.bin", std::ios::binary) << body;
        std::ofstream(dir / "loader.sld") << "_LF bench.bin\n_LA 0\n_LV bench\n_LD\n";

        std::vector<std::unique_ptr<Device>> devices;
        std::vector<std::string> args = {"--batch"};
        for (int i = 0; i < ports; ++i) {
            const bool last = i + 1 == ports;
            devices.push_back(
                std::make_unique<Device>(dir, "link" + std::to_string(i + 1),
                                         last ? std::vector<std::string>{"--fail-after", FailAfter}
                                              : std::vector<std::string>{}));
            args.insert(args.end(), {"--port", "COM" + std::to_string(i + 1)});
        }
        WriteIni(dir, devices);
        const double gangCpu = RunLoader(dir, args, "gang.out");

        const std::string failed = FailedPorts(dir / "gang.out");
        double minRatio = 0;
        bool anyGood = false;
        int64_t received = 0;
        for (int i = 0; i < ports; ++i) {
            const Body b = devices[i]->FirstBody();
            received += b.received;
            const std::string name = "COM" + std::to_string(i + 1);
            const bool listedFailed =
                ("," + failed + ",").find("," + name + ",") != std::string::npos;
            if (listedFailed || !b.complete || b.lastMs <= b.firstMs)
                continue;
            const double rate = static_cast<double>(b.received) * 1000.0 /
                                static_cast<double>(b.lastMs - b.firstMs);
            const double ratio = rate / LineBytesPerSecond;
            minRatio = anyGood ? std::min(minRatio, ratio) : ratio;
            anyGood = true;
        }
        std::printf("gang_ports=%d\n", ports);
        std::printf("gang_min_rate_ratio=%.3f\n", minRatio);
        std::printf("gang_cpu_s_per_mib=%.4f\n",
                    received > 0 ? gangCpu / (static_cast<double>(received) / MiB) : 0.0);
        std::printf("gang_failed_ports=%s\n", failed.c_str());
        devices.clear();

        std::vector<std::unique_ptr<Device>> single;
        single.push_back(std::make_unique<Device>(dir, "single", std::vector<std::string>{}));
        WriteIni(dir, single);
        const double singleCpu = RunLoader(dir, {"--batch"}, "single.out");
        const Body b = single.front()->FirstBody();
        std::printf("single_cpu_s_per_mib=%.4f\n",
                    b.received > 0 ? singleCpu / (static_cast<double>(b.received) / MiB) : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "gang_bench: %s\n", e.what());
        result = 1;
    }
    // A failed run keeps its folder (the programs' output, the logs) for a look at what happened.
    std::error_code ignored;
    if (result == 0)
        fs::remove_all(dir, ignored);
    else
        std::fprintf(stderr, "gang_bench: kept %s\n", dir.c_str());
    return result;
}
