#pragma once
// The simulated device's protocol: a pure state machine. Bytes from the host go in, the bytes
// the device answers come out; time enters only as the millisecond value the caller passes, so
// every behaviour can be driven from a test without a line or a clock.
//
// Command lines end with carriage return; line feeds are ignored between commands. Replies are
// zero or more lines ending in CR LF, then the prompt of the reply texts in force. A line that
// starts with "LF " is an upload header; exactly the announced number of body bytes follow its
// carriage return.

#include "tools/devsim/UploadHeader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devsim
{

struct ReplyTexts {
    std::string prompt = "#";
    std::string error = "?";
    std::string ulPrompt = ">";
    std::string ulError = "ERR";
    std::string result = "=";
};

struct DeviceSettings {
    ReplyTexts texts;
    bool startWithUploadTexts = false;
    bool silent = false;               // receives and reports, but never sends a byte
    bool echo = false;                 // echoes command characters (never body bytes)
    std::optional<uint32_t> failAfter; // for the next upload only
    bool failAtEnd = false;            // the next upload is read whole, then refused
    // A slow upload error reply: its first errorSplit bytes, then the rest errorPauseMs later.
    uint32_t errorSplit = 1;
    int64_t errorPauseMs = 0;
    int64_t bodyIdleMs = 5000; // a body that stalls this long has ended short
};

// How an upload ended, as the report names it.
enum class UploadEnd {
    Complete, // every announced byte arrived
    Failed,   // the device reported a failure after the armed number of bytes
    Timeout,  // the body stalled for the idle time
    Hangup,   // the host closed the line mid-body
    Shutdown, // the simulator was stopped mid-body
    Rejected, // the header line was malformed; no body was expected
};

const char *UploadEndName(UploadEnd end);

struct UploadRecord {
    std::string headerLine;             // as received, without its carriage return
    std::optional<UploadHeader> header; // absent when the line was rejected
    uint32_t received = 0;
    uint16_t receivedChecksum = 0;
    UploadEnd end = UploadEnd::Rejected;
    // When the first and the last body byte reached the device (the caller's clock, ms); unset
    // while no body byte has come.
    std::optional<int64_t> firstByteMs;
    std::optional<int64_t> lastByteMs;

    bool LengthMatches() const { return header && received == header->length; }
    bool ChecksumMatches() const { return LengthMatches() && receivedChecksum == header->checksum; }
};

// Firmware version that the "VER" command returns.
inline constexpr std::string_view FirmwareVersion = "1.0";
// Longest command line kept; a longer one is rejected as a whole.
inline constexpr std::size_t MaxLineLength = 4096;
// After reporting a failed upload the device drops bytes until the line is quiet this long.
inline constexpr int64_t DiscardQuietMs = 500;

class Device
{
  public:
    explicit Device(DeviceSettings settings);

    // Takes bytes that arrived at `nowMs`; returns what the device sends back.
    std::string Receive(std::string_view bytes, int64_t nowMs);
    // Lets time pass: a stalled body ends once its idle time has run out, and the rest of a slow
    // reply is sent once its pause is over. Returns what the device sends meanwhile.
    std::string Advance(int64_t nowMs);
    // The next moment at which Advance has something to do.
    std::optional<int64_t> Deadline() const;

    // The host closed the line: a body in progress ends short, a half command is dropped.
    void Hangup();
    // The simulator stops: a body in progress ends short.
    void Shutdown();

    // Uploads that have ended since the last call, oldest first.
    std::vector<UploadRecord> TakeRecords();

    bool UploadTexts() const { return uploadTexts_; }
    bool ReceivingBody() const { return phase_ != Phase::Command; }

  private:
    enum class Phase { Command, Body, Discard };

    void CommandByte(char c);
    void ExecuteLine();
    void ExecuteCommand(std::string_view line);
    void StartUpload(std::string_view line);
    void RejectUpload(std::string_view line);
    std::size_t TakeBody(std::string_view bytes, int64_t nowMs);
    std::size_t DiscardBody(std::string_view bytes, int64_t nowMs);
    void CheckBody(int64_t nowMs);
    // The upload error text, CR LF and (when ready for commands) the prompt, slow if so set.
    void SendUploadError(bool ready, int64_t nowMs);
    void EndUpload(UploadEnd end);
    void EndBodyShort(UploadEnd end);

    void Send(std::string_view bytes);
    void SendPrompt();
    void SendLine(std::string_view text);
    void SendValue(std::string_view value);
    void SendError();
    const std::string &Prompt() const;
    const std::string &Error() const;

    DeviceSettings settings_;
    bool uploadTexts_;
    std::optional<uint32_t> armedFailure_;
    bool refuseNext_;
    bool refuse_ = false; // the upload under way is refused after its last byte
    // The rest of a slow reply and when it goes; what the device says meanwhile queues behind.
    std::string held_;
    int64_t heldUntilMs_ = 0;

    Phase phase_ = Phase::Command;
    std::string line_;
    bool lineOverflow_ = false;

    UploadRecord upload_;
    std::optional<uint32_t> failAt_;
    uint32_t discardLeft_ = 0;
    int64_t lastByteMs_ = 0;

    std::string out_;
    std::vector<UploadRecord> records_;
};

} // namespace devsim
