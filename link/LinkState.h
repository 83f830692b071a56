#pragma once
// The link's settings and run-time state: what loader.ini says about the line and the device's
// reply texts, the handshake buffer, the four trigger handles, the cursor of a buffer upload and
// the two flags that the upload engine shares with the link services.

#include <atomic>
#include <cstdint>
#include <string>

namespace loader
{

// A flag the upload engine sets on the GUI thread and the block pump reads on the port's dispatch
// thread. It copies as a plain value, with the rest of the state.
class TSharedFlag
{
  public:
    TSharedFlag(bool value = false) : value_(value) {}
    TSharedFlag(const TSharedFlag &other) : value_(other.value_.load()) {}
    TSharedFlag &operator=(const TSharedFlag &other)
    {
        value_ = other.value_.load();
        return *this;
    }
    TSharedFlag &operator=(bool value)
    {
        value_ = value;
        return *this;
    }
    operator bool() const { return value_; }

  private:
    std::atomic<bool> value_;
};

struct LinkState {
    // Line settings (section "RS232Settings").
    int32_t CfgBaud = 19200;
    uint16_t CfgComNumber = 1;
    uint16_t CfgDataBits = 8;
    uint8_t CfgParity = 0; // 0 none, 1 odd, 2 even
    uint16_t CfgStopBits = 1;
    // A device path the port opens instead of the device CfgComNumber names (a port named on the
    // command line); empty: the port opens by its number.
    std::string CfgDeviceName;

    // The device's reply texts (section "Trigger").
    std::string PromptText = "#";
    std::string ErrorText = "?";
    std::string ULPromptText = ">";
    std::string ULErrorText = "ERR";
    std::string ResultMarker = "=";
    // The pair in force: normal or upload texts.
    std::string CurrentPrompt = "#";
    std::string CurrentError = "?";

    // Transfer sizes (section "Upload Settings").
    uint16_t CfgBufferSize = 4096; // output buffer of the port
    uint16_t CfgBlockSize = 50;    // bytes per upload block as configured

    // Trigger handles, replaced on every arming.
    uint16_t PromptTrigger = 0;
    uint16_t ErrorTrigger = 0;
    uint16_t OutFreeTrigger = 0;
    uint16_t OutUsedTrigger = 0;
    uint16_t LineErrorTrigger = 0;

    // The characters the current handshake consumed while waiting for the prompt.
    std::string ReceivedText;

    // The buffer upload in progress. The buffer belongs to the caller. While the upload runs, the
    // block pump moves the cursor on the port's dispatch thread, under the link's pump lock.
    const uint8_t *UploadPtr = nullptr;
    int32_t UploadRemaining = 0;
    int32_t UploadTotal = 0;
    // The block size this upload really uses: CfgBlockSize brought into the range the output
    // buffer can take, so that every upload progresses.
    uint16_t UploadBlockSize = 0;

    bool UploadMode = false;   // the upload reply texts are in force
    TSharedFlag StopTransfer; // end the running buffer upload after the block being queued

    // The watch over one file, from its header to the end of its verification: the device's
    // upload error text, or a line failure, in that time fails the file. The error trigger's
    // match count is noted at the header, so a text whose delivery was lost still counts.
    bool FileWatch = false;
    bool FileFailed = false;
    uint16_t FileErrorTrigger = 0;
    uint32_t FileErrorBaseline = 0;
    // The end of the last reply read under the watch, for an error text split across checks.
    std::string WatchTail;

    // The port reported that its line failed for good; cleared when the port is opened again.
    bool LineFailed = false;
};

} // namespace loader
