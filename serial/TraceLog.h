#pragma once
// The trace (last N bytes sent and received) and the dispatch log (timestamped dispatcher
// events with their bytes) of one open port, held in memory and written to text files on
// request. One instance lives in each port record; the dispatcher calls every operation under
// that port's lock, so this class takes no lock of its own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace serial
{

// Trace entry kinds: the direction of the byte.
constexpr uint8_t tkReceive = 0x52;  // 'R'
constexpr uint8_t tkTransmit = 0x54; // 'T'

// Log entry types.
constexpr uint8_t ltNoEvent = 0;
constexpr uint8_t ltDispatch = 1;
constexpr uint8_t ltTrigger = 2;
constexpr uint8_t ltError = 3;
constexpr uint8_t ltThread = 4;

// Log entry subtypes.
constexpr uint8_t lsNone = 0;
constexpr uint8_t lsReadCom = 1;
constexpr uint8_t lsWriteCom = 2;
constexpr uint8_t lsLineStatus = 3;
constexpr uint8_t lsModemStatus = 4;
constexpr uint8_t lsAvail = 5;
constexpr uint8_t lsTimer = 6;
constexpr uint8_t lsData = 7;
constexpr uint8_t lsStatus = 8;
constexpr uint8_t lsStart = 9;
constexpr uint8_t lsExit = 10;
constexpr uint8_t lsSleep = 11;
constexpr uint8_t lsWake = 12;

constexpr int kMaxTraceEntries = 32760;
constexpr int kMaxLogSize = 65535; // the ring's indexes are 16-bit
constexpr int kLogHeaderSize = 12;

class TTraceLog
{
  public:
    // Milliseconds since an arbitrary start (only the low 31 bits are used).
    using Clock = std::function<uint32_t()>;

    TTraceLog();
    TTraceLog(const TTraceLog &) = delete;
    TTraceLog &operator=(const TTraceLog &) = delete;

    // Trace. TraceCreate on an existing ring clears it and switches tracing on (entries is
    // then ignored); otherwise entries must be 1 to kMaxTraceEntries (-1002), -8 when the ring
    // cannot be allocated. TraceAdd records only while tracing is on, and only kinds
    // tkReceive and tkTransmit. TraceWrite writes the file and always frees the ring.
    int TraceCreate(int entries);
    void TraceAdd(uint8_t kind, uint8_t byte);
    void TraceClear();
    void TraceDiscard();
    void TraceResume();
    void TracePause();
    int TraceWrite(const std::string &file, bool append, bool hex);
    bool Tracing() const { return tracing_; }

    // Dispatch log. LogCreate on an existing ring empties it and switches logging on (the
    // sizes are then ignored); otherwise size must be 0 to kMaxLogSize (-1002), -8 when a
    // buffer cannot be allocated. scratchSize is max(InSize, OutSize): the buffer the dump
    // copies attached bytes through. LogAdd records only while logging is on. LogWrite frees
    // the buffers, except when the file cannot be opened: then the entries stay for a retry.
    int LogCreate(int size, int scratchSize);
    void LogAdd(uint8_t type, uint8_t subtype, uint16_t data, const uint8_t *bytes,
                uint16_t length);
    void LogClear();
    void LogDiscard();
    void LogResume();
    void LogPause();
    int LogWrite(const std::string &file, bool append, bool hex);
    bool Logging() const { return logging_; }

    // The port's open time: the millisecond clock masked to 31 bits. Log times count from it.
    void SetStartTick(int32_t msMasked31);
    // Replaces the millisecond clock (tests); an empty function restores the system clock.
    void SetClock(Clock clock);
    // Both trace and log off and freed, as for a freshly opened port.
    void Reset();

  private:
    size_t LogUsed() const;
    void LogCopyIn(const uint8_t *src, size_t count);
    void LogCopyOut(size_t from, uint8_t *dst, size_t count) const;
    void LogConsume(size_t count);
    void LogDropOldest();
    void LogMakeRoom(size_t needed);
    int32_t ElapsedMs() const;

    // Trace state.
    bool tracing_ = false;
    std::unique_ptr<uint8_t[]> traceRing_; // traceSize_ entries of (kind, byte)
    uint16_t tracePosition_ = 0;           // next entry to write
    uint16_t traceSize_ = 0;
    bool traceWrapped_ = false;

    // Log state. The ring is empty when logFree_ == logSize_ (head == tail is ambiguous).
    bool logging_ = false;
    std::unique_ptr<uint8_t[]> logRing_;
    uint16_t logHead_ = 0; // next byte to write
    uint16_t logTail_ = 0; // oldest entry
    uint16_t logFree_ = 0;
    uint16_t logSize_ = 0;
    std::unique_ptr<uint8_t[]> logScratch_;
    size_t logScratchSize_ = 0;

    int32_t startTick_ = 0;
    Clock clock_;
};

} // namespace serial
