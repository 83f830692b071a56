#pragma once
// The terminal component's capture file: every byte written to the screen (control bytes
// included), gathered in an 8192-byte buffer and written to the file a buffer at a time.
//
// Plain C++ and POSIX. Not thread-safe: it runs on the GUI thread with the screen buffer that
// hands it the bytes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace terminal
{

constexpr int kCaptureBufferSize = 8192;
constexpr int kCaptureShortWrite = 101;
constexpr const char *kDefaultCaptureName = "CAPTURE.CAP";

class TCaptureFile
{
  public:
    TCaptureFile() = default;
    ~TCaptureFile(); // closes without reporting
    TCaptureFile(const TCaptureFile &) = delete;
    TCaptureFile &operator=(const TCaptureFile &) = delete;

    // Opens the file (an empty name is kDefaultCaptureName): appending to an existing file,
    // created when missing, or created anew (truncated). 0, ecOutOfMemory or the negated errno;
    // 0 without a change when already open.
    int Open(bool append, const std::string &fileName);
    // Opens the file last opened again, for appending (its name as it was opened, which a
    // property spelt in another case may no longer match).
    int Reopen() { return Open(true, std::string(name_)); }
    // Writes what is pending and closes: 0, the negated errno of the close, or the code of a
    // failed write (which OnError heard too). 0 when not open.
    int Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string &FileName() const { return name_; }
    int Pending() const { return count_; }

    void Add(uint8_t c)
    {
        if (fd_ < 0)
            return;
        buffer_[count_++] = c;
        if (count_ == kCaptureBufferSize)
            Flush();
    }
    // Writes the pending bytes in one block. A failed or short write closes the file and tells
    // OnError: 101 for a short write, otherwise the 16-bit form of the negated errno.
    int Flush();

    std::function<void(uint16_t code)> OnError;

  private:
    std::string name_;
    int fd_ = -1;
    int count_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
};

} // namespace terminal
