#pragma once
// A folder for one upload run against the device simulator: loader.ini whose COM1 is the
// simulator's link, scripts and flash files written by the test, the simulator's upload report,
// and the real loader program started there in batch mode.

#include "tests/support/ChildProcess.h"
#include "tests/support/DevsimProcess.h"
#include "tests/support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace runtest
{

struct BatchResult {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out; // standard output: progress
    std::string err; // standard error: the message boxes
};

// One upload the simulator reported, with the fields the tests look at.
struct Upload {
    std::string header;
    std::string address;
    std::string length;
    std::string checksum;
    std::string version;
    std::string received;
    std::string receivedChecksum;
    std::string end;
};

class RunFolder
{
  public:
    // Starts the simulator with `devsimArgs` (its link and report are added) and writes
    // loader.ini; `uploadSettings` are extra lines of section "Upload Settings".
    explicit RunFolder(const std::vector<std::string> &devsimArgs = {"--mode", "UL"},
                       const std::string &uploadSettings = "");

    testsupport::TempDir dir;

    std::string Link() const { return dir.File("link"); }
    void WriteIni(const std::string &uploadSettings, const std::string &comDevice);
    void Write(const std::string &name, const std::string &content) const
    {
        dir.Write(name, content);
    }

    // Runs "loader --batch" with `args` in the folder and waits for its end.
    BatchResult RunBatch(const std::vector<std::string> &args = {}) const;
    // Starts it only, its output captured; Finish waits for the end and collects what it wrote.
    std::unique_ptr<testsupport::ChildProcess> StartBatch(const std::vector<std::string> &args = {},
                                                          bool closedOutput = false) const;
    static BatchResult Finish(testsupport::ChildProcess &program);

    // The uploads reported so far; waits a little for `expected` of them, as a report line is
    // written when the simulator has seen an upload's end, which may follow the loader's exit.
    std::vector<Upload> Uploads(std::size_t expected) const;

    // The upload log with its time stamp line replaced by "<time>".
    std::string MaskedLog() const;

    void StopDevice() { devsim_.reset(); }
    bool SignalDevice(int signal) { return devsim_ && devsim_->Signal(signal); }

  private:
    std::unique_ptr<testsupport::DevsimProcess> devsim_;
};

// Starts "loader --batch ARGS" in `dir` as a production line runs it, its output captured (or
// standard output closed).
std::unique_ptr<testsupport::ChildProcess> StartLoader(const std::string &dir,
                                                       const std::vector<std::string> &args,
                                                       bool closedOutput = false);

// The uploads in the simulator's report `file`; waits a little for `expected` of them.
std::vector<Upload> ReportedUploads(const std::string &file, std::size_t expected);

// Lines of the log, each ended by CR LF as the loader writes them.
std::string LogLines(const std::vector<std::string> &lines);

// What a run's files and log hold: a file's bytes of a given length, their 16-bit sum as four hex
// digits, the log's first lines (its time masked), and a file's entry in the log.
std::string Pattern(std::size_t length);
std::string Sum16(const std::string &bytes);
extern const std::vector<std::string> LogHeader;
std::vector<std::string> Entry(const std::string &file, std::size_t size, const std::string &sum,
                               const std::string &version, const std::string &address);
std::vector<std::string> Join(std::vector<std::vector<std::string>> parts);
// A log with its time stamp line replaced by "<time>".
std::string MaskedLog(std::string log);

bool Contains(const std::string &text, const std::string &part);
int Count(const std::string &text, const std::string &part);

} // namespace runtest
