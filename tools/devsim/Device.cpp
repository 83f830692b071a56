#include "tools/devsim/Device.h"

#include <algorithm>
#include <utility>

namespace devsim
{
namespace
{

constexpr std::string_view LineEnd = "\r\n";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimLeading(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text)
{
    text = TrimLeading(text);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Upper(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string SwapCase(std::string_view text)
{
    std::string result(text);
    for (char &c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::optional<uint32_t> ParseCount(std::string_view text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

} // namespace

const char *UploadEndName(UploadEnd end)
{
    switch (end) {
    case UploadEnd::Complete:
        return "complete";
    case UploadEnd::Failed:
        return "failed";
    case UploadEnd::Timeout:
        return "timeout";
    case UploadEnd::Hangup:
        return "hangup";
    case UploadEnd::Shutdown:
        return "shutdown";
    case UploadEnd::Rejected:
        return "rejected";
    }
    return "unknown";
}

Device::Device(DeviceSettings settings)
    : settings_(std::move(settings)), uploadTexts_(settings_.startWithUploadTexts),
      armedFailure_(settings_.failAfter), refuseNext_(settings_.failAtEnd)
{
}

std::string Device::Receive(std::string_view bytes, int64_t nowMs)
{
    // A stall that ran out before these bytes came ends the body first.
    out_ += Advance(nowMs);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::string_view rest = bytes.substr(pos);
        switch (phase_) {
        case Phase::Command:
            lastByteMs_ = nowMs;
            CommandByte(rest.front());
            ++pos;
            break;
        case Phase::Body:
            pos += TakeBody(rest, nowMs);
            break;
        case Phase::Discard:
            pos += DiscardBody(rest, nowMs);
            break;
        }
    }
    return std::exchange(out_, {});
}

std::string Device::Advance(int64_t nowMs)
{
    std::string released;
    if (!held_.empty() && nowMs >= heldUntilMs_)
        released = std::exchange(held_, {});
    const bool stalled = phase_ == Phase::Body
                             ? nowMs >= lastByteMs_ + settings_.bodyIdleMs
                             : phase_ == Phase::Discard && nowMs >= lastByteMs_ + DiscardQuietMs;
    if (stalled) {
        if (phase_ == Phase::Body)
            EndBodyShort(UploadEnd::Timeout);
        phase_ = Phase::Command;
    }
    return released;
}

std::optional<int64_t> Device::Deadline() const
{
    std::optional<int64_t> deadline;
    switch (phase_) {
    case Phase::Body:
        deadline = lastByteMs_ + settings_.bodyIdleMs;
        break;
    case Phase::Discard:
        deadline = lastByteMs_ + DiscardQuietMs;
        break;
    case Phase::Command:
        break;
    }
    if (!held_.empty())
        deadline = std::min(deadline.value_or(heldUntilMs_), heldUntilMs_);
    return deadline;
}

void Device::Hangup()
{
    EndBodyShort(UploadEnd::Hangup);
    held_.clear();
    line_.clear();
    lineOverflow_ = false;
}

void Device::Shutdown()
{
    EndBodyShort(UploadEnd::Shutdown);
}

std::vector<UploadRecord> Device::TakeRecords()
{
    return std::exchange(records_, {});
}

void Device::CommandByte(char c)
{
    // Hosts that end lines with CR LF, and terminals, send line feeds the device has no use for.
    if (c == '\n')
        return;
    if (settings_.echo)
        Send(c == '\r' ? LineEnd : std::string_view(&c, 1));
    if (c != '\r') {
        if (line_.size() < MaxLineLength)
            line_.push_back(c);
        else
            lineOverflow_ = true;
        return;
    }
    ExecuteLine();
}

void Device::ExecuteLine()
{
    const std::string line = std::exchange(line_, {});
    const bool overflow = std::exchange(lineOverflow_, false);
    const bool header = LooksLikeUploadHeader(TrimLeading(line));
    if (overflow) {
        if (header)
            RejectUpload(line);
        else
            SendError();
        return;
    }
    if (header)
        StartUpload(line);
    else
        ExecuteCommand(Trim(line));
}

void Device::ExecuteCommand(std::string_view line)
{
    const std::size_t gap = std::min(line.find_first_of(" \t"), line.size());
    const std::string keyword = Upper(line.substr(0, gap));
    const std::string_view argument = TrimLeading(line.substr(gap));

    if (keyword.empty()) {
        SendPrompt();
    } else if (keyword == "VER") {
        SendValue(FirmwareVersion);
    } else if (keyword == "ECHO") {
        SendValue(argument);
    } else if (keyword == "MODE" && (Upper(argument) == "UL" || Upper(argument) == "N")) {
        uploadTexts_ = Upper(argument) == "UL";
        SendPrompt();
    } else if (keyword == "CASE") {
        Send(SwapCase(Prompt()));
    } else if (keyword == "QUIET") {
        // Deliberately no answer: the host's wait runs out.
    } else if (keyword == "FAIL" && Upper(argument) == "OFF") {
        armedFailure_.reset();
        SendPrompt();
    } else if (keyword == "FAIL" && ParseCount(argument)) {
        armedFailure_ = ParseCount(argument);
        SendPrompt();
    } else if (keyword == "RESET") {
        uploadTexts_ = settings_.startWithUploadTexts;
        armedFailure_.reset();
        refuseNext_ = false;
        SendPrompt();
    } else {
        SendError();
    }
}

void Device::StartUpload(std::string_view line)
{
    const auto header = ParseUploadHeader(TrimLeading(line));
    if (!header) {
        RejectUpload(line);
        return;
    }
    upload_ = UploadRecord{};
    upload_.headerLine = std::string(line);
    upload_.header = header;
    failAt_ = std::exchange(armedFailure_, std::nullopt);
    refuse_ = std::exchange(refuseNext_, false);
    phase_ = Phase::Body;
    CheckBody(lastByteMs_);
}

void Device::RejectUpload(std::string_view line)
{
    UploadRecord record;
    record.headerLine = std::string(line);
    record.end = UploadEnd::Rejected;
    records_.push_back(std::move(record));
    SendError();
}

std::size_t Device::TakeBody(std::string_view bytes, int64_t nowMs)
{
    uint32_t due = upload_.header->length - upload_.received;
    if (failAt_)
        due = std::min(due, *failAt_ - upload_.received);
    const auto taken = static_cast<uint32_t>(std::min<std::size_t>(due, bytes.size()));
    upload_.receivedChecksum = AddToChecksum(upload_.receivedChecksum, bytes.substr(0, taken));
    upload_.received += taken;
    if (taken > 0) {
        if (!upload_.firstByteMs)
            upload_.firstByteMs = nowMs;
        upload_.lastByteMs = nowMs;
    }
    lastByteMs_ = nowMs;
    CheckBody(nowMs);
    return taken;
}

std::size_t Device::DiscardBody(std::string_view bytes, int64_t nowMs)
{
    const auto taken = static_cast<uint32_t>(std::min<std::size_t>(discardLeft_, bytes.size()));
    discardLeft_ -= taken;
    lastByteMs_ = nowMs;
    if (discardLeft_ == 0)
        phase_ = Phase::Command;
    return taken;
}

void Device::CheckBody(int64_t nowMs)
{
    if (upload_.received == upload_.header->length) {
        const bool refused = refuse_;
        EndUpload(refused ? UploadEnd::Failed : UploadEnd::Complete);
        phase_ = Phase::Command;
        // The device checks what it got; a bad sum is an upload failure like any other.
        if (refused || !records_.back().ChecksumMatches())
            SendUploadError(true, nowMs);
    } else if (failAt_ && upload_.received >= *failAt_) {
        discardLeft_ = upload_.header->length - upload_.received;
        EndUpload(UploadEnd::Failed);
        phase_ = Phase::Discard;
        // Not ready for commands yet, so no prompt: the rest of the body is still coming.
        SendUploadError(false, nowMs);
    }
}

void Device::SendUploadError(bool ready, int64_t nowMs)
{
    std::string reply = settings_.texts.ulError + std::string(LineEnd);
    if (ready)
        reply += Prompt();
    if (settings_.errorPauseMs <= 0 || !held_.empty()) {
        Send(reply);
        return;
    }
    const std::size_t split = std::min<std::size_t>(settings_.errorSplit, reply.size());
    Send(std::string_view(reply).substr(0, split));
    if (!settings_.silent && split < reply.size()) {
        held_ = reply.substr(split);
        heldUntilMs_ = nowMs + settings_.errorPauseMs;
    }
}

void Device::EndUpload(UploadEnd end)
{
    upload_.end = end;
    records_.push_back(std::move(upload_));
    upload_ = UploadRecord{};
    failAt_.reset();
    refuse_ = false;
}

void Device::EndBodyShort(UploadEnd end)
{
    if (phase_ == Phase::Body)
        EndUpload(end);
    phase_ = Phase::Command;
}

void Device::Send(std::string_view bytes)
{
    if (settings_.silent)
        return;
    // Nothing overtakes the rest of a slow reply.
    if (!held_.empty())
        held_.append(bytes);
    else
        out_.append(bytes);
}

void Device::SendPrompt()
{
    Send(Prompt());
}

void Device::SendLine(std::string_view text)
{
    Send(text);
    Send(LineEnd);
}

void Device::SendValue(std::string_view value)
{
    Send(settings_.texts.result);
    SendLine(value);
    SendPrompt();
}

void Device::SendError()
{
    SendLine(Error());
    SendPrompt();
}

const std::string &Device::Prompt() const
{
    return uploadTexts_ ? settings_.texts.ulPrompt : settings_.texts.prompt;
}

const std::string &Device::Error() const
{
    return uploadTexts_ ? settings_.texts.ulError : settings_.texts.error;
}

} // namespace devsim
