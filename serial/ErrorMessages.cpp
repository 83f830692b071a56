#include "serial/ErrorMessages.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace serial
{

namespace
{

struct MessageText {
    int id;
    const char *text;
};

// Sorted by id, so a lookup is a binary search.
constexpr MessageText Messages[] = {
    {11000, "OK"},
    // Runtime input/output errors and memory.
    {11002, "File not found"},
    {11003, "Path not found"},
    {11004, "Too many open files"},
    {11005, "File access denied"},
    {11006, "Invalid file handle"},
    {11008, "Insufficient memory"},
    // General.
    {11101, "Bad handle passed to com function"},
    {11102, "Bad argument passed to function"},
    {11103, "Got quit message"},
    {11104, "Terminal buffer greater than 65521"},
    {11105, "ComPort component not assigned"},
    {11106, "Internal error creating window class"},
    // Opening a port.
    {11201, "ie_BadId - Specified comport doesn't exist"},
    {11202, "ie_Baudrate - unsupported baud rate"},
    {11203, "ie_Bytesize - invalid byte size"},
    {11204, "ie_Default - error in default parameters"},
    {11205, "ie_Hardware - Specified comport in use"},
    {11206, "ie_Memory - unable to allocate queues"},
    {11207, "ie_NOpen - device not open"},
    {11208, "ie_Open - device already open"},
    {11209, "No more handles, can't open port"},
    {11210, "No timers available"},
    {11211, "The ComNumber property of the TApdComPort has not been set"},
    // Serial input/output.
    {11301, "No device layer specified"},
    {11302, "Function not supported by driver"},
    {11303, "EnableCommNotification failed"},
    {11304, "Failed to put entire block"},
    {11305, "Failed to get entire block"},
    {11306, "Output buffer too small for block"},
    {11307, "Buffer is empty"},
    {11308, "Tracing not enabled"},
    {11309, "Logging not enabled"},
    // Triggers.
    {11501, "No more trigger slots"},
    {11502, "Data trigger too long"},
    {11503, "Bad trigger handle"},
    // INI database (the keyboard emulator's key map).
    {11701, "Key string too long"},
    {11702, "Data string too long"},
    {11703, "No fields defined in database"},
    {11704, "Generic INI file write error"},
    {11705, "Generic INI file read error"},
    {11706, "No index defined for database"},
    {11708, "Record not found in database"},
    {11711, "No records in database"},
    {11712, "iPrepareIniDatabase not called"},
    // Platform input/output errors.
    {11900, "Attempt to read beyond end of file"},
    {11901, "Disk is full"},
    {11902, "File/device not assigned"},
    {11903, "File/device not open"},
    {11904, "File/device not open for input"},
    {11905, "File/device not open for output"},
    // Critical device errors.
    {11950, "Disk is write-protected"},
    {11951, "Unknown unit"},
    {11952, "Drive not ready"},
    {11953, "Unknown command"},
    {11954, "CRC error in data"},
    {11955, "Bad drive request structure length"},
    {11956, "Disk seek error"},
    {11957, "Unknown media type"},
    {11958, "Sector not found"},
    {11959, "Printer out of paper"},
    {11960, "Write fault"},
    {11961, "Read fault"},
    {11962, "General failure"},
};

static_assert(std::is_sorted(std::begin(Messages), std::end(Messages),
                             [](const MessageText &a, const MessageText &b) {
                                 return a.id < b.id;
                             }),
              "message ids must be sorted");

} // namespace

int ErrorMessageId(int code)
{
    // Unsigned arithmetic: the magnitude of the most negative int must not overflow.
    const uint32_t raw = code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
    const int magnitude = static_cast<uint16_t>(raw);
    if (magnitude >= 13800 && magnitude <= 13900)
        return magnitude;
    if (magnitude >= 100 && magnitude <= 199)
        return magnitude + 11800;
    return magnitude % 1000 + magnitude / 1000 * 100 + 11000;
}

std::string MessageById(int id)
{
    const auto found = std::lower_bound(std::begin(Messages), std::end(Messages), id,
                                        [](const MessageText &m, int key) { return m.id < key; });
    if (found == std::end(Messages) || found->id != id)
        return {};
    return found->text;
}

std::string ErrorMessage(int code)
{
    return MessageById(ErrorMessageId(code));
}

} // namespace serial
