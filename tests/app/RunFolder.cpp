#include "tests/app/RunFolder.h"

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

namespace runtest
{
namespace
{

// A generous bound for one batch run; a run that needs longer is hanging.
constexpr auto RunLimit = std::chrono::seconds(120);

// The value of "name" in one report line: a string without its quotes and with its escapes
// undone, or a number or flag as written. Empty when the field is absent.
std::string JsonField(const std::string &line, const std::string &name)
{
    const std::string key = "\"" + name + "\":";
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return {};
    std::size_t i = at + key.size();
    if (i < line.size() && line[i] != '"') {
        const std::size_t end = line.find_first_of(",}", i);
        return line.substr(i, end - i);
    }
    std::string value;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\') {
            value += line[i];
            continue;
        }
        ++i;
        if (i < line.size() && line[i] == 'u' && i + 4 < line.size()) {
            value += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else if (i < line.size()) {
            value += line[i];
        }
    }
    return value;
}

} // namespace

RunFolder::RunFolder(const std::vector<std::string> &devsimArgs, const std::string &uploadSettings)
{
    std::vector<std::string> args = {"--link", Link(), "--report", dir.File("report.jsonl")};
    args.insert(args.end(), devsimArgs.begin(), devsimArgs.end());
    devsim_ = std::make_unique<testsupport::DevsimProcess>(DEVSIM_BINARY, args);
    WriteIni(uploadSettings, Link());
}

void RunFolder::WriteIni(const std::string &uploadSettings, const std::string &comDevice)
{
    // No pause before a body: the tests wait for bytes, not for time.
    dir.Write("loader.ini", "[Upload Settings]\n"
                            "Delay=0\n" +
                                uploadSettings +
                                "\n[RS232Settings]\n"
                                "Comm Port=COM1\n"
                                "Baud Rate=115200\n"
                                "[Devices]\n"
                                "COM1=" +
                                comDevice + "\n");
}

std::unique_ptr<testsupport::ChildProcess>
RunFolder::StartBatch(const std::vector<std::string> &args, bool closedOutput) const
{
    return StartLoader(dir.Path(), args, closedOutput);
}

BatchResult RunFolder::Finish(testsupport::ChildProcess &program)
{
    BatchResult result;
    const std::optional<int> status = program.WaitUntil(testsupport::Clock::now() + RunLimit);
    if (!status) {
        program.Kill();
        result.err = "the batch run did not end";
        return result;
    }
    result.status = testsupport::ExitCode(*status);
    result.out = program.Output();
    result.err = program.Error();
    return result;
}

BatchResult RunFolder::RunBatch(const std::vector<std::string> &args) const
{
    return Finish(*StartBatch(args));
}

std::vector<Upload> RunFolder::Uploads(std::size_t expected) const
{
    return ReportedUploads(dir.File("report.jsonl"), expected);
}

std::string RunFolder::MaskedLog() const
{
    return runtest::MaskedLog(dir.Read("loader.log"));
}

std::unique_ptr<testsupport::ChildProcess>
StartLoader(const std::string &dir, const std::vector<std::string> &args, bool closedOutput)
{
    testsupport::ChildOptions options;
    options.dir = dir;
    // The batch mode chooses its platform itself. A production line runs it from a session
    // without a runtime folder (cron, ssh); temporary files stay in the run's folder.
    options.unsetEnv = {"QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"};
    options.setEnv = {{"TMPDIR", dir}};
    options.nullInput = true;
    // A closed output is "loader --batch | head -1" once head has gone.
    options.out =
        closedOutput ? testsupport::ChildOutput::Closed() : testsupport::ChildOutput::Captured();
    options.err = testsupport::ChildOutput::Captured();
    std::vector<std::string> arguments{"--batch"};
    arguments.insert(arguments.end(), args.begin(), args.end());
    return std::make_unique<testsupport::ChildProcess>(LOADER_EXECUTABLE, arguments, options);
}

std::vector<Upload> ReportedUploads(const std::string &file, std::size_t expected)
{
    std::vector<Upload> uploads;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        uploads.clear();
        std::ifstream report(file);
        for (std::string line; std::getline(report, line);)
            uploads.push_back({JsonField(line, "header"), JsonField(line, "address"),
                               JsonField(line, "length"), JsonField(line, "checksum"),
                               JsonField(line, "version"), JsonField(line, "received"),
                               JsonField(line, "received_checksum"), JsonField(line, "end")});
        if (uploads.size() >= expected || std::chrono::steady_clock::now() > giveUp)
            return uploads;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string MaskedLog(std::string log)
{
    const std::size_t first = log.find("\r\n");
    if (first == std::string::npos)
        return log;
    const std::size_t second = log.find("\r\n", first + 2);
    if (second == std::string::npos)
        return log;
    return log.replace(first + 2, second - first - 2, "<time>");
}

std::string Pattern(std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>((i * 7 + 3) % 256);
    return bytes;
}

std::string Sum16(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    unsigned sum = 0;
    for (unsigned char byte : bytes)
        sum += byte;
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text += digits[(sum >> shift) & 0xF];
    return text;
}

const std::vector<std::string> LogHeader = {"Tavrin Research, Inc. Flash File Loader, Version 1.04",
                                            "<time>", ""};

std::vector<std::string> Entry(const std::string &file, std::size_t size, const std::string &sum,
                               const std::string &version, const std::string &address)
{
    return {"File Name: " + file,         "  File Size: " + std::to_string(size),
            "  File Checksum: " + sum,    "  File Version: " + version,
            "  Load Address: " + address, ""};
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts)
{
    std::vector<std::string> lines;
    for (const auto &part : parts)
        lines.insert(lines.end(), part.begin(), part.end());
    return lines;
}

std::string LogLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

int Count(const std::string &text, const std::string &part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
        ++count;
    return count;
}

} // namespace runtest
