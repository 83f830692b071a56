#include "serial/TraceLog.h"

#include "platform/Clock.h"
#include "serial/ErrorCodes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <string_view>
#include <unistd.h>

namespace serial
{

namespace
{

// Runtime file error numbers (negated) that the trace and log dumps report beyond those the
// engine shares; their messages come from the platform input/output texts.
constexpr int ecDiskFull = -101;
constexpr int ecWriteProtected = -150;
constexpr int ecGeneralFailure = -162;

constexpr uint32_t kMask31 = 0x7FFFFFFF;

// Both files end their lines the way the upload log does.
constexpr std::string_view kLineEnd = "\r\n";

// Trace lines hold at most this many columns; log byte columns wrap when reaching the second.
constexpr int kTraceLastColumn = 78;
constexpr int kLogPrefixWidth = 40;
constexpr int kLogFirstByteColumn = kLogPrefixWidth + 1;
constexpr int kLogWrapColumn = 79;

constexpr std::string_view kLogHeading = "Time      Type      SubType       Data  OtherData";
constexpr std::string_view kLogRule = "----      ----      -------       ----  ---------";

constexpr const char *kTypeNames[] = {"no event", "dispatch", "trigger", "error", "thread"};
constexpr const char *kSubtypeNames[] = {
    "",     "readcom", "writecom", "line status", "modem status", "avail", "timer",
    "data", "status",  "start",    "exit",        "sleep",        "wake"};

// Maps errno to the runtime file error numbers the error model knows, negated.
int FileError(int err, const std::string &name)
{
    switch (err) {
    case ENOENT:
        // Creating a file fails this way only for an empty name or a missing directory.
        return name.empty() ? ecFileNotFound : ecPathNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ecPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
        return ecAccessDenied;
    case EROFS:
        return ecWriteProtected;
    case EMFILE:
    case ENFILE:
        return ecTooManyFiles;
    case EBADF:
        return ecInvalidHandle;
    case ENOMEM:
        return ecOutOfMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ecDiskFull;
    default:
        return ecGeneralFailure;
    }
}

// A write-only file with a small fixed buffer, so a dump allocates nothing. The first error
// sticks: later writes are skipped and Close reports it.
class DumpFile
{
  public:
    explicit DumpFile(const std::string &name) : name_(name) {}
    DumpFile(const DumpFile &) = delete;
    DumpFile &operator=(const DumpFile &) = delete;
    ~DumpFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Appends to an existing file when asked, else creates or truncates it.
    int Open(bool append)
    {
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
        fd_ = ::open(name_.c_str(), flags, 0666);
        return fd_ < 0 ? FileError(errno, name_) : ecOK;
    }

    void Put(std::string_view text)
    {
        while (!text.empty() && error_ == ecOK) {
            if (used_ == sizeof buffer_)
                Flush();
            const size_t n = std::min(text.size(), sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, text.data(), n);
            used_ += n;
            text.remove_prefix(n);
        }
    }

    int Close()
    {
        Flush();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && error_ == ecOK && errno != EINTR)
            error_ = FileError(errno, name_);
        return error_;
    }

  private:
    void Flush()
    {
        size_t done = 0;
        while (done < used_ && error_ == ecOK) {
            const ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EINTR)
                error_ = FileError(errno, name_);
            else if (n == 0)
                error_ = ecGeneralFailure;
        }
        used_ = 0;
    }

    const std::string &name_;
    int fd_ = -1;
    int error_ = ecOK;
    char buffer_[4096];
    size_t used_ = 0;
};

// One byte as a dump shows it: itself when printable (a space only without hex, where it
// cannot be confused with the separators), else its value in brackets. Returns the width.
size_t FormatByte(uint8_t byte, bool hex, char (&text)[8])
{
    const uint8_t firstPrintable = hex ? 0x21 : 0x20;
    if (byte >= firstPrintable && byte <= 0x7E) {
        text[0] = static_cast<char>(byte);
        return 1;
    }
    const int n = std::snprintf(text, sizeof text, hex ? "[%02X]" : "[%u]", byte);
    return static_cast<size_t>(n);
}

std::string NameOf(uint8_t index, const char *const *names, size_t count)
{
    // An index outside the table still shows, as its number.
    return index < count ? names[index] : std::to_string(index);
}

uint16_t ReadU16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t ReadU32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteU16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

TTraceLog::TTraceLog() : clock_(platform::TickCountMs) {}

// ---- Trace ----

int TTraceLog::TraceCreate(int entries)
{
    if (traceRing_) {
        TraceClear();
        tracing_ = true;
        return ecOK;
    }
    if (entries < 1 || entries > kMaxTraceEntries)
        return ecBadArgument;
    traceRing_.reset(new (std::nothrow) uint8_t[2 * static_cast<size_t>(entries)]);
    if (!traceRing_)
        return ecOutOfMemory;
    traceSize_ = static_cast<uint16_t>(entries);
    TraceClear();
    tracing_ = true;
    return ecOK;
}

void TTraceLog::TraceAdd(uint8_t kind, uint8_t byte)
{
    // Only the two directions have a block heading in the file.
    if (!tracing_ || !traceRing_ || (kind != tkReceive && kind != tkTransmit))
        return;
    traceRing_[2 * tracePosition_] = kind;
    traceRing_[2 * tracePosition_ + 1] = byte;
    if (++tracePosition_ >= traceSize_) {
        tracePosition_ = 0;
        traceWrapped_ = true;
    }
}

void TTraceLog::TraceClear()
{
    tracePosition_ = 0;
    traceWrapped_ = false;
}

void TTraceLog::TraceDiscard()
{
    tracing_ = false;
    traceRing_.reset();
    traceSize_ = 0;
    TraceClear();
}

void TTraceLog::TraceResume()
{
    tracing_ = traceRing_ != nullptr;
}

void TTraceLog::TracePause()
{
    tracing_ = false;
}

int TTraceLog::TraceWrite(const std::string &file, bool append, bool hex)
{
    if (!traceRing_)
        return ecOK;
    tracing_ = false;
    if (!traceWrapped_ && tracePosition_ == 0) {
        TraceDiscard();
        return ecOK;
    }
    DumpFile out(file);
    if (const int rc = out.Open(append); rc != ecOK) {
        TraceDiscard();
        return rc;
    }

    // Oldest first: a wrapped ring starts at the next entry to be overwritten.
    const size_t count = traceWrapped_ ? traceSize_ : tracePosition_;
    const size_t first = traceWrapped_ ? tracePosition_ : 0;
    int previousKind = -1;
    size_t column = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t index = (first + i) % traceSize_;
        const uint8_t kind = traceRing_[2 * index];
        if (kind != previousKind) {
            if (previousKind >= 0) {
                out.Put("\r\n");
                out.Put(kLineEnd);
            }
            out.Put(kind == tkReceive ? "Receive: " : "Transmit: ");
            out.Put(kLineEnd);
            previousKind = kind;
            column = 0;
        }
        char text[8];
        const size_t width = FormatByte(traceRing_[2 * index + 1], hex, text);
        column += width;
        if (column > kTraceLastColumn) {
            out.Put(kLineEnd);
            column = width;
        }
        out.Put(std::string_view(text, width));
    }
    const int rc = out.Close();
    TraceDiscard();
    return rc;
}

// ---- Dispatch log ----

int TTraceLog::LogCreate(int size, int scratchSize)
{
    if (logRing_) {
        // The ring keeps its own size: a new one takes effect only after a discard.
        LogClear();
        logging_ = true;
        return ecOK;
    }
    if (size < 0 || size > kMaxLogSize || scratchSize < 0)
        return ecBadArgument;
    // Attached bytes are always shorter than the ring, so a larger scratch would never be used.
    const size_t scratch = static_cast<size_t>(std::clamp(scratchSize, 1, std::max(size, 1)));
    std::unique_ptr<uint8_t[]> ring(new (std::nothrow) uint8_t[std::max(size, 1)]);
    std::unique_ptr<uint8_t[]> scratchBuffer(new (std::nothrow) uint8_t[scratch]);
    if (!ring || !scratchBuffer)
        return ecOutOfMemory;
    logRing_ = std::move(ring);
    logScratch_ = std::move(scratchBuffer);
    logScratchSize_ = scratch;
    logSize_ = static_cast<uint16_t>(size);
    LogClear();
    logging_ = true;
    return ecOK;
}

void TTraceLog::LogAdd(uint8_t type, uint8_t subtype, uint16_t data, const uint8_t *bytes,
                       uint16_t length)
{
    if (!logging_ || !logRing_ || kLogHeaderSize >= logSize_)
        return;
    // Header and bytes must fit together: making room for bytes that fill the ring would push
    // out the entry's own header. Bytes that cannot fit are dropped; the header then says so
    // with a length of 0, while its data word still gives the count.
    size_t attached = bytes ? length : 0;
    if (kLogHeaderSize + attached > logSize_)
        attached = 0;
    LogMakeRoom(kLogHeaderSize + attached);

    uint8_t header[kLogHeaderSize] = {type, subtype};
    WriteU32(header + 4, static_cast<uint32_t>(ElapsedMs()));
    WriteU16(header + 8, data);
    WriteU16(header + 10, static_cast<uint16_t>(attached));
    LogCopyIn(header, kLogHeaderSize);
    if (attached > 0)
        LogCopyIn(bytes, attached);
}

void TTraceLog::LogClear()
{
    logHead_ = 0;
    logTail_ = 0;
    logFree_ = logSize_;
}

void TTraceLog::LogDiscard()
{
    logging_ = false;
    logRing_.reset();
    logScratch_.reset();
    logScratchSize_ = 0;
    logSize_ = 0;
    LogClear();
}

void TTraceLog::LogResume()
{
    logging_ = logRing_ != nullptr;
}

void TTraceLog::LogPause()
{
    logging_ = false;
}

int TTraceLog::LogWrite(const std::string &file, bool append, bool hex)
{
    if (!logRing_ || LogUsed() == 0) {
        LogDiscard();
        return ecOK;
    }
    logging_ = false;
    DumpFile out(file);
    if (const int rc = out.Open(append); rc != ecOK)
        return rc;

    out.Put(kLogHeading);
    out.Put(kLineEnd);
    out.Put(kLogRule);
    out.Put(kLineEnd);
    while (LogUsed() > 0) {
        uint8_t header[kLogHeaderSize];
        LogCopyOut(logTail_, header, kLogHeaderSize);
        LogConsume(kLogHeaderSize);

        char prefix[96];
        const int n =
            std::snprintf(prefix, sizeof prefix, "%08u  %-8s  %-12s  %04X  ", ReadU32(header + 4),
                          NameOf(header[0], kTypeNames, std::size(kTypeNames)).c_str(),
                          NameOf(header[1], kSubtypeNames, std::size(kSubtypeNames)).c_str(),
                          ReadU16(header + 8));
        out.Put(std::string_view(prefix, static_cast<size_t>(n)));

        size_t column = kLogFirstByteColumn;
        for (size_t left = ReadU16(header + 10); left > 0;) {
            const size_t chunk = std::min(left, logScratchSize_);
            LogCopyOut(logTail_, logScratch_.get(), chunk);
            LogConsume(chunk);
            left -= chunk;
            for (size_t i = 0; i < chunk; ++i) {
                char text[8];
                const size_t width = FormatByte(logScratch_[i], hex, text);
                column += width;
                if (column >= kLogWrapColumn) {
                    out.Put(kLineEnd);
                    out.Put(std::string_view("                                        ",
                                             kLogPrefixWidth));
                    column = kLogFirstByteColumn + width;
                }
                out.Put(std::string_view(text, width));
            }
        }
        out.Put(kLineEnd);
    }
    const int rc = out.Close();
    LogDiscard();
    return rc;
}

size_t TTraceLog::LogUsed() const
{
    return static_cast<size_t>(logSize_) - logFree_;
}

void TTraceLog::LogCopyIn(const uint8_t *src, size_t count)
{
    const size_t first = std::min(count, static_cast<size_t>(logSize_) - logHead_);
    std::memcpy(logRing_.get() + logHead_, src, first);
    std::memcpy(logRing_.get(), src + first, count - first);
    logHead_ = static_cast<uint16_t>((logHead_ + count) % logSize_);
    logFree_ = static_cast<uint16_t>(logFree_ - count);
}

void TTraceLog::LogCopyOut(size_t from, uint8_t *dst, size_t count) const
{
    const size_t first = std::min(count, static_cast<size_t>(logSize_) - from);
    std::memcpy(dst, logRing_.get() + from, first);
    std::memcpy(dst + first, logRing_.get(), count - first);
}

void TTraceLog::LogConsume(size_t count)
{
    logTail_ = static_cast<uint16_t>((logTail_ + count) % logSize_);
    logFree_ = static_cast<uint16_t>(logFree_ + count);
}

void TTraceLog::LogDropOldest()
{
    uint8_t header[kLogHeaderSize];
    LogCopyOut(logTail_, header, kLogHeaderSize);
    LogConsume(kLogHeaderSize + ReadU16(header + 10));
}

void TTraceLog::LogMakeRoom(size_t needed)
{
    // needed never exceeds the ring, so this ends at the latest with the ring empty.
    while (logFree_ < needed)
        LogDropOldest();
}

int32_t TTraceLog::ElapsedMs() const
{
    // Modulo 2^31, so the time stays right when the 31-bit counter wraps while the port is open.
    const uint32_t now = clock_() & kMask31;
    return static_cast<int32_t>((now - static_cast<uint32_t>(startTick_)) & kMask31);
}

void TTraceLog::SetStartTick(int32_t msMasked31)
{
    startTick_ = static_cast<int32_t>(static_cast<uint32_t>(msMasked31) & kMask31);
}

void TTraceLog::SetClock(Clock clock)
{
    clock_ = clock ? std::move(clock) : Clock(platform::TickCountMs);
}

void TTraceLog::Reset()
{
    TraceDiscard();
    LogDiscard();
}

} // namespace serial
