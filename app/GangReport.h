#pragma once
// What a gang run (one run on each of several ports at once) writes. Standard error gets every
// port's boxes and the reason lines after them, each line prefixed "NAME: ". Standard output gets
// "Script PATH", then either each port's progress lines as a single batch run prints them,
// prefixed the same way, or, on a terminal, one line per port redrawn in place; at the end one
// summary line per port and a count. Everything here runs on one thread, the run's.

#include "app/BatchProgress.h"
#include "platform/MessageBox.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace loader
{

// Every line of `text` with `prefix` in front; a last line without a line break gets one.
std::string PrefixLines(const std::string &prefix, const std::string &text);

// An output stream that hands `target` whole lines only, each with a prefix in front (and flushed),
// so a single run's progress printer writes a port's lines through it unchanged.
class TPrefixedStream : public std::ostream
{
  public:
    TPrefixedStream(std::ostream &target, std::string prefix);

  private:
    class LineBuffer : public std::streambuf
    {
      public:
        LineBuffer(std::ostream &out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

      protected:
        int_type overflow(int_type c) override;

      private:
        std::ostream &out_;
        std::string prefix_;
        std::string line_;
    };
    LineBuffer buffer_;
};

// A box's text as one line: every line break (CR, CR LF, LF) becomes one blank.
std::string ReasonOf(const std::string &boxText);

enum class GangState { Waiting, Running, Uploading, Verifying, Ok, Failed };

// "waiting", "running", "uploading", "verifying", "ok", "failed".
const char *StateWord(GangState state);

// Where one port's run stands, from the calls that drive the window's gauges and captions.
class TGangPortStatus
{
  public:
    void ScriptProgress(int percent);
    void UploadProgress(int percent);
    void UploadCaption(const std::string &caption);
    void RunEnded(bool ok);

    const std::string &File() const { return file_; }
    int Percent() const { return percent_; }
    GangState State() const { return state_; }

  private:
    std::string file_;
    int scriptPercent_ = 0;
    int percent_ = 0;
    GangState state_ = GangState::Waiting;
};

// "NAME  FILE  [##########..........]  50%  STATE", the name and file padded to the widths given
// so the lines of a block line up.
std::string LiveLine(const std::string &name, const TGangPortStatus &status, std::size_t nameWidth,
                     std::size_t fileWidth);

// The outcome of every port: failed when an error box was shown for it (the last one is the
// reason), when its port did not open, or when its run ended in error or did not end.
class TGangSummary
{
  public:
    explicit TGangSummary(std::vector<std::string> names);

    void Box(std::size_t port, const platform::MessageRequest &request);
    // After the box of a port that did not open: the line that says why.
    void NotOpened(std::size_t port, const std::string &reasonLine);
    void RunEnded(std::size_t port, bool ok);

    // "NAME: ok" or "NAME: failed: REASON" per port in order, then "N ports: K ok, F failed".
    std::string Lines() const;
    // 0 when every port is ok, else 1.
    int ExitStatus() const;

  private:
    struct Outcome {
        bool ended = false;
        bool endedOk = false;
        std::string reason; // empty while no error is known
    };
    std::string ReasonOfPort(const Outcome &outcome) const;

    std::vector<std::string> names_;
    std::vector<Outcome> outcomes_;
};

// The run's one view of its ports; ports are numbered in command-line order. Two forms: lines
// that scroll (standard output not a terminal) and a block redrawn in place (a terminal).
class TGangReport
{
  public:
    TGangReport(std::vector<std::string> names, std::ostream &out, std::ostream &err);
    virtual ~TGangReport() = default;
    TGangReport(const TGangReport &) = delete;
    TGangReport &operator=(const TGangReport &) = delete;

    // "Script PATH", once, before the ports start.
    void Start(const std::string &scriptPath);
    virtual void ScriptProgress(std::size_t port, int percent) = 0;
    virtual void UploadProgress(std::size_t port, int percent) = 0;
    virtual void UploadCaption(std::size_t port, const std::string &caption) = 0;
    virtual void RunEnded(std::size_t port, bool ok);
    // Draws what waits for the rate limit; the run calls it about ten times a second.
    virtual void Tick() {}

    // A box of the port, rendered as in batch mode on standard error.
    void Box(std::size_t port, const platform::MessageRequest &request);
    // A line after a box: why a file was not read, or (NotOpened) why the port did not open.
    void Reason(std::size_t port, const std::string &line);
    void NotOpened(std::size_t port, const std::string &reasonLine);
    // A line of the run's own on standard output ("Interrupted: cancelling the run.").
    void Note(const std::string &line);

    // Ends the display and prints the summary; returns the exit status (0 or 1).
    int Summary();

  protected:
    // Writes `text` (whole lines) to standard output or standard error.
    virtual void WriteOut(const std::string &text);
    virtual void WriteErr(const std::string &text);
    virtual void Finish() {}

    const std::vector<std::string> names_;
    std::ostream &out_;
    std::ostream &err_;

  private:
    TGangSummary summary_;
};

// Each port's progress lines as a single batch run prints them, prefixed "NAME: ".
class TGangScrollingReport : public TGangReport
{
  public:
    TGangScrollingReport(std::vector<std::string> names, std::ostream &out, std::ostream &err);

    void ScriptProgress(std::size_t port, int percent) override;
    void UploadProgress(std::size_t port, int percent) override;
    void UploadCaption(std::size_t port, const std::string &caption) override;

  private:
    struct PortLines {
        PortLines(std::ostream &out, const std::string &prefix)
            : stream(out, prefix), progress(stream)
        {
        }
        TPrefixedStream stream;
        TBatchProgress progress;
    };
    std::vector<std::unique_ptr<PortLines>> ports_;
};

// What the live block needs of the terminal it is drawn on.
struct LiveTerminal {
    bool errorsShareIt = false;   // standard error is the same terminal
    std::function<int()> columns; // its width now
    std::function<std::chrono::steady_clock::time_point()> now;
};

// One line per port, redrawn in place with ANSI sequences at most every RedrawInterval; cleared
// before anything else is written to the terminal and drawn again after it.
class TGangLiveReport : public TGangReport
{
  public:
    static constexpr std::chrono::milliseconds RedrawInterval{100};

    TGangLiveReport(std::vector<std::string> names, std::ostream &out, std::ostream &err,
                    LiveTerminal terminal);

    void ScriptProgress(std::size_t port, int percent) override;
    void UploadProgress(std::size_t port, int percent) override;
    void UploadCaption(std::size_t port, const std::string &caption) override;
    void RunEnded(std::size_t port, bool ok) override;
    void Tick() override;

  protected:
    void WriteOut(const std::string &text) override;
    void WriteErr(const std::string &text) override;
    void Finish() override;

  private:
    // After a change: draws the block now when the last drawing is old enough, else leaves it
    // for Tick.
    void Changed();
    void Draw();
    void Clear();

    LiveTerminal terminal_;
    std::vector<TGangPortStatus> status_;
    std::size_t drawnLines_ = 0;
    bool pending_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The report for this process: live when standard output is a terminal, else scrolling lines;
// on std::cout and std::cerr.
std::unique_ptr<TGangReport> MakeGangReport(std::vector<std::string> names);

} // namespace loader
