#include "app/GangReport.h"

#include "app/BatchBoxes.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loader
{
namespace
{

constexpr std::size_t BarCells = 20;
constexpr int PercentPerCell = 100 / BarCells;
constexpr int DefaultColumns = 80;

// Standard output and standard error are the same terminal.
bool ErrorsShareTheTerminal()
{
    using Status = struct stat;
    Status out{};
    Status err{};
    return ::isatty(STDERR_FILENO) && ::fstat(STDOUT_FILENO, &out) == 0 &&
           ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

int TerminalColumns()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DefaultColumns;
}

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

} // namespace

std::string PrefixLines(const std::string &prefix, const std::string &text)
{
    std::string lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines += prefix + text.substr(start, end - start) + '\n';
        start = end + 1;
    }
    return lines;
}

// ---- TPrefixedStream ----

TPrefixedStream::TPrefixedStream(std::ostream &target, std::string prefix)
    : std::ostream(nullptr), buffer_(target, std::move(prefix))
{
    rdbuf(&buffer_);
}

TPrefixedStream::LineBuffer::int_type TPrefixedStream::LineBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    line_ += traits_type::to_char_type(c);
    if (line_.back() == '\n') {
        out_ << prefix_ << line_ << std::flush;
        line_.clear();
    }
    return c;
}

// ---- The summary ----

std::string ReasonOf(const std::string &boxText)
{
    std::string reason;
    for (std::size_t i = 0; i < boxText.size(); ++i) {
        const char c = boxText[i];
        if (c == '\r' && i + 1 < boxText.size() && boxText[i + 1] == '\n')
            ++i;
        reason += c == '\r' || c == '\n' ? ' ' : c;
    }
    return reason;
}

TGangSummary::TGangSummary(std::vector<std::string> names)
    : names_(std::move(names)), outcomes_(names_.size())
{
}

void TGangSummary::Box(std::size_t port, const platform::MessageRequest &request)
{
    if (request.type == platform::MsgType::Error)
        outcomes_[port].reason = ReasonOf(request.text);
}

void TGangSummary::NotOpened(std::size_t port, const std::string &reasonLine)
{
    std::string &reason = outcomes_[port].reason;
    reason += (reason.empty() ? "" : " ") + reasonLine;
}

void TGangSummary::RunEnded(std::size_t port, bool ok)
{
    outcomes_[port].ended = true;
    outcomes_[port].endedOk = ok;
}

// A run that failed without a box, or was still going when the program stopped, is no success
// either; it is told apart from one that said why.
std::string TGangSummary::ReasonOfPort(const Outcome &outcome) const
{
    if (!outcome.reason.empty())
        return outcome.reason;
    if (!outcome.ended)
        return "the run did not end";
    return outcome.endedOk ? "" : "the run ended with errors";
}

std::string TGangSummary::Lines() const
{
    std::string lines;
    std::size_t failed = 0;
    for (std::size_t port = 0; port < names_.size(); ++port) {
        const std::string reason = ReasonOfPort(outcomes_[port]);
        failed += reason.empty() ? 0 : 1;
        lines += names_[port] + (reason.empty() ? ": ok\n" : ": failed: " + reason + '\n');
    }
    return lines + std::to_string(names_.size()) +
           " ports: " + std::to_string(names_.size() - failed) + " ok, " + std::to_string(failed) +
           " failed\n";
}

int TGangSummary::ExitStatus() const
{
    for (const Outcome &outcome : outcomes_)
        if (!ReasonOfPort(outcome).empty())
            return 1;
    return 0;
}

// ---- The report ----

TGangReport::TGangReport(std::vector<std::string> names, std::ostream &out, std::ostream &err)
    : names_(std::move(names)), out_(out), err_(err), summary_(names_)
{
}

void TGangReport::Start(const std::string &scriptPath)
{
    WriteOut("Script " + scriptPath + '\n');
}

void TGangReport::RunEnded(std::size_t port, bool ok)
{
    summary_.RunEnded(port, ok);
}

void TGangReport::Box(std::size_t port, const platform::MessageRequest &request)
{
    summary_.Box(port, request);
    WriteErr(PrefixLines(names_[port] + ": ", RenderBatchMessage(request) + '\n'));
}

void TGangReport::Reason(std::size_t port, const std::string &line)
{
    WriteErr(PrefixLines(names_[port] + ": ", line + '\n'));
}

void TGangReport::NotOpened(std::size_t port, const std::string &reasonLine)
{
    summary_.NotOpened(port, reasonLine);
    Reason(port, reasonLine);
}

void TGangReport::Note(const std::string &line)
{
    WriteOut(line + '\n');
}

int TGangReport::Summary()
{
    Finish();
    out_ << summary_.Lines() << std::flush;
    return summary_.ExitStatus();
}

void TGangReport::WriteOut(const std::string &text)
{
    out_ << text << std::flush;
}

void TGangReport::WriteErr(const std::string &text)
{
    err_ << text << std::flush;
}

// ---- Scrolling lines ----

TGangScrollingReport::TGangScrollingReport(std::vector<std::string> names, std::ostream &out,
                                           std::ostream &err)
    : TGangReport(std::move(names), out, err)
{
    for (const std::string &name : names_)
        ports_.push_back(std::make_unique<PortLines>(out_, name + ": "));
}

void TGangScrollingReport::ScriptProgress(std::size_t port, int percent)
{
    ports_[port]->progress.ScriptProgress(percent);
}

void TGangScrollingReport::UploadProgress(std::size_t port, int percent)
{
    ports_[port]->progress.UploadProgress(percent);
}

void TGangScrollingReport::UploadCaption(std::size_t port, const std::string &caption)
{
    ports_[port]->progress.UploadCaption(caption);
}

// ---- The live block ----

const char *StateWord(GangState state)
{
    switch (state) {
    case GangState::Waiting:
        return "waiting";
    case GangState::Running:
        return "running";
    case GangState::Uploading:
        return "uploading";
    case GangState::Verifying:
        return "verifying";
    case GangState::Ok:
        return "ok";
    case GangState::Failed:
        return "failed";
    }
    return "";
}

void TGangPortStatus::ScriptProgress(int percent)
{
    scriptPercent_ = percent;
    if (state_ == GangState::Waiting || state_ == GangState::Running) {
        state_ = GangState::Running;
        percent_ = percent;
    }
}

void TGangPortStatus::UploadProgress(int percent)
{
    if (state_ == GangState::Uploading)
        percent_ = percent;
}

// Between files the line shows the script's progress again; while the device is asked whether
// it took the file, the body has gone whole.
void TGangPortStatus::UploadCaption(const std::string &caption)
{
    if (state_ == GangState::Ok || state_ == GangState::Failed)
        return;
    if (caption == IdleCaption) {
        state_ = GangState::Running;
        percent_ = scriptPercent_;
    } else if (caption == VerifyingCaption) {
        state_ = GangState::Verifying;
        percent_ = 100;
    } else {
        state_ = GangState::Uploading;
        file_ = caption;
        percent_ = 0;
    }
}

void TGangPortStatus::RunEnded(bool ok)
{
    state_ = ok ? GangState::Ok : GangState::Failed;
    if (ok)
        percent_ = 100;
}

std::string LiveLine(const std::string &name, const TGangPortStatus &status, std::size_t nameWidth,
                     std::size_t fileWidth)
{
    const int percent = std::clamp(status.Percent(), 0, 100);
    const std::size_t filled = static_cast<std::size_t>(percent / PercentPerCell);
    char figure[8];
    std::snprintf(figure, sizeof figure, "%3d%%", percent);
    return Padded(name, nameWidth) + "  " + Padded(status.File(), fileWidth) + "  [" +
           std::string(filled, '#') + std::string(BarCells - filled, '.') + "] " + figure + "  " +
           StateWord(status.State());
}

TGangLiveReport::TGangLiveReport(std::vector<std::string> names, std::ostream &out,
                                 std::ostream &err, LiveTerminal terminal)
    : TGangReport(std::move(names), out, err), terminal_(std::move(terminal)),
      status_(names_.size())
{
}

void TGangLiveReport::ScriptProgress(std::size_t port, int percent)
{
    status_[port].ScriptProgress(percent);
    Changed();
}

void TGangLiveReport::UploadProgress(std::size_t port, int percent)
{
    status_[port].UploadProgress(percent);
    Changed();
}

void TGangLiveReport::UploadCaption(std::size_t port, const std::string &caption)
{
    status_[port].UploadCaption(caption);
    Changed();
}

void TGangLiveReport::RunEnded(std::size_t port, bool ok)
{
    TGangReport::RunEnded(port, ok);
    status_[port].RunEnded(ok);
    Changed();
}

void TGangLiveReport::Changed()
{
    pending_ = true;
    Tick();
}

void TGangLiveReport::Tick()
{
    if (pending_ && terminal_.now() - lastDraw_ >= RedrawInterval)
        Draw();
}

// Each line is rewritten from its start and cleared to its end, so a shorter line leaves nothing
// behind; lines stop short of the last column, where a terminal may wrap.
void TGangLiveReport::Draw()
{
    std::size_t nameWidth = 0;
    std::size_t fileWidth = 0;
    for (std::size_t port = 0; port < names_.size(); ++port) {
        nameWidth = std::max(nameWidth, names_[port].size());
        fileWidth = std::max(fileWidth, status_[port].File().size());
    }
    const std::size_t width = static_cast<std::size_t>(std::max(terminal_.columns() - 1, 1));
    std::string block;
    if (drawnLines_)
        block += "\x1b[" + std::to_string(drawnLines_) + "A";
    for (std::size_t port = 0; port < names_.size(); ++port)
        block += '\r' +
                 LiveLine(names_[port], status_[port], nameWidth, fileWidth).substr(0, width) +
                 "\x1b[K\n";
    out_ << block << std::flush;
    drawnLines_ = names_.size();
    pending_ = false;
    lastDraw_ = terminal_.now();
}

void TGangLiveReport::Clear()
{
    if (drawnLines_)
        out_ << "\x1b[" << drawnLines_ << "A\r\x1b[J" << std::flush;
    drawnLines_ = 0;
}

void TGangLiveReport::WriteOut(const std::string &text)
{
    Clear();
    out_ << text << std::flush;
    Draw();
}

void TGangLiveReport::WriteErr(const std::string &text)
{
    if (!terminal_.errorsShareIt) {
        TGangReport::WriteErr(text);
        return;
    }
    Clear();
    TGangReport::WriteErr(text);
    Draw();
}

// The last state stays on the screen above the summary.
void TGangLiveReport::Finish()
{
    if (pending_ || !drawnLines_)
        Draw();
}

std::unique_ptr<TGangReport> MakeGangReport(std::vector<std::string> names)
{
    if (!::isatty(STDOUT_FILENO))
        return std::make_unique<TGangScrollingReport>(std::move(names), std::cout, std::cerr);
    return std::make_unique<TGangLiveReport>(
        std::move(names), std::cout, std::cerr,
        LiveTerminal{ErrorsShareTheTerminal(), TerminalColumns, std::chrono::steady_clock::now});
}

} // namespace loader
