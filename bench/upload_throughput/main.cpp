// How close the loader's upload comes to the line's own rate. The real program uploads a
// 256 KiB file in batch mode (blocks of 50 bytes through a 4096-byte output buffer, the defaults)
// to the device simulator paced at 115200 baud; then the same file goes with a plain write through
// an identically paced simulator line. The simulator times each body from its first to its last
// byte, so both figures are measured where the device sees them.
// Prints the two times and last upload_vs_raw_ratio=X (upload body time over raw body time).

#include "tests/support/DevsimProcess.h"
#include "tools/devsim/UploadHeader.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

constexpr std::size_t FileLength = 256 * 1024;
constexpr const char *Baud = "115200";

// The programs' own chatter goes to a file, so the figures stand alone on the screen.
testsupport::ChildOptions InFolder(const fs::path &dir)
{
    testsupport::ChildOptions options;
    options.dir = dir.string();
    options.out = testsupport::ChildOutput::ToFile((dir / "programs.out").string(), true);
    options.err = testsupport::ChildOutput::SameAsOutput();
    return options;
}

// The simulator on `link`, paced at the bench's baud rate, reporting body times to `report`.
class Device
{
  public:
    Device(const fs::path &dir, const std::string &link, const std::string &report,
           const std::vector<std::string> &extra)
        : link_(dir / link), report_(dir / report),
          devsim_(DEVSIM_BINARY, Args(extra), InFolder(dir))
    {
    }

    const fs::path &Link() const { return link_; }

    // Milliseconds from the first to the last body byte of the first upload reported.
    int64_t BodyMs() const
    {
        for (int i = 0; i < 3000; ++i) {
            std::ifstream in(report_);
            std::string line;
            if (std::getline(in, line) && line.find("\"end\":\"complete\"") != std::string::npos)
                return Field(line, "last_byte_ms") - Field(line, "first_byte_ms");
            if (!line.empty())
                throw std::runtime_error("the upload did not complete: " + line);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("no upload was reported");
    }

  private:
    static int64_t Field(const std::string &line, const std::string &name)
    {
        const std::size_t at = line.find("\"" + name + "\":");
        if (at == std::string::npos)
            throw std::runtime_error("the report has no " + name);
        return std::stoll(line.substr(at + name.size() + 3));
    }

    std::vector<std::string> Args(const std::vector<std::string> &extra) const
    {
        std::vector<std::string> args = {"--link",   link_.string(),   "--baud",        Baud,
                                         "--report", report_.string(), "--report-times"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    fs::path link_;
    fs::path report_;
    testsupport::DevsimProcess devsim_;
};

void WriteAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            throw std::runtime_error("write to the simulator failed");
        done += static_cast<std::size_t>(wrote);
    }
}

int64_t LoaderBodyMs(const fs::path &dir, const std::string &file)
{
    Device device(dir, "upload-link", "upload.jsonl", {"--mode", "UL"});
    std::ofstream(dir / "loader.ini")
        << "[Upload Settings]\nDelay=0\n"
           "[RS232Settings]\nComm Port=COM1\nBaud Rate="
        << Baud << "\n[Devices]\nCOM1=" << device.Link().string() << "\n";
    std::ofstream(dir / "loader.sld") << "_LF " << file << "\n_LA 0\n_LV bench\n_LD\n";
    const int status = testsupport::ExitCode(
        testsupport::ChildProcess(LOADER_EXECUTABLE, {"--batch"}, InFolder(dir)).Wait());
    if (status != 0)
        throw std::runtime_error("the batch run failed with status " + std::to_string(status));
    return device.BodyMs();
}

int64_t RawBodyMs(const fs::path &dir, const std::string &body)
{
    Device device(dir, "raw-link", "raw.jsonl", {});
    const int fd = ::open(device.Link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open the simulator's link");
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);
    WriteAll(fd, "LF 0 " + std::to_string(body.size()) + " " +
                     devsim::ChecksumText(devsim::AddToChecksum(0, body)) + " raw\r");
    WriteAll(fd, body);
    const int64_t ms = device.BodyMs();
    ::close(fd);
    return ms;
}

} // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("upload-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    int result = 0;
    try {
        std::string body(FileLength, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
        std::ofstream(dir / "bench.bin", std::ios::binary) << body;

        std::printf("file %zu bytes, line %s baud, blocks of 50 through a 4096-byte buffer\n",
                    body.size(), Baud);
        const int64_t upload = LoaderBodyMs(dir, "bench.bin");
        std::printf("loader upload body: %lld ms\n", static_cast<long long>(upload));
        const int64_t raw = RawBodyMs(dir, body);
        std::printf("plain write body:   %lld ms\n", static_cast<long long>(raw));
        std::printf("upload_vs_raw_ratio=%.3f\n",
                    raw > 0 ? static_cast<double>(upload) / static_cast<double>(raw) : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "upload_throughput: %s\n", e.what());
        result = 1;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return result;
}
