// Fuzzes the simulated device with a byte stream: commands, upload headers and bodies. The first
// bytes choose the device's settings; the rest is cut into timed pieces. The same bytes at the same
// moments, handed over one at a time, must give the same replies and the same upload records.

#include "fuzz/FuzzCheck.h"
#include "tools/devsim/Device.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace devsim;

namespace
{

struct Piece {
    std::string_view bytes;
    int64_t atMs;
};

bool Same(const UploadRecord &a, const UploadRecord &b)
{
    const bool headers =
        a.header.has_value() == b.header.has_value() &&
        (!a.header ||
         (a.header->length == b.header->length && a.header->checksum == b.header->checksum &&
          a.header->address == b.header->address && a.header->version == b.header->version));
    return headers && a.headerLine == b.headerLine && a.received == b.received &&
           a.receivedChecksum == b.receivedChecksum && a.end == b.end &&
           a.firstByteMs == b.firstByteMs && a.lastByteMs == b.lastByteMs;
}

void CheckRecord(const UploadRecord &record)
{
    if (record.end == UploadEnd::Rejected) {
        FUZZ_CHECK(!record.header && record.received == 0);
        return;
    }
    FUZZ_CHECK(record.header.has_value());
    FUZZ_CHECK(record.received <= record.header->length);
    FUZZ_CHECK(record.firstByteMs.has_value() == (record.received > 0));
    if (record.end == UploadEnd::Complete)
        FUZZ_CHECK(record.received == record.header->length);
    if (record.end == UploadEnd::Failed)
        FUZZ_CHECK(record.received < record.header->length);
    if (record.firstByteMs)
        FUZZ_CHECK(*record.firstByteMs <= *record.lastByteMs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    DeviceSettings settings;
    settings.echo = data[0] & 1;
    settings.silent = data[0] & 2;
    settings.startWithUploadTexts = data[0] & 4;
    if (data[0] & 8)
        settings.failAfter = data[1];
    settings.bodyIdleMs = 50 + (data[0] >> 4) * 100;

    // A 0xFF byte ends a piece; the byte after it says how many ms pass before the next one.
    std::vector<Piece> pieces;
    const std::string_view rest(reinterpret_cast<const char *>(data) + 2, size - 2);
    int64_t now = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && static_cast<unsigned char>(rest[i]) != 0xFF)
            continue;
        pieces.push_back({rest.substr(start, i - start), now});
        if (i + 1 < rest.size())
            now += static_cast<unsigned char>(rest[++i]) * 8;
        start = i + 1;
    }

    Device whole(settings), single(settings);
    std::string wholeOut, singleOut;
    for (const auto &piece : pieces) {
        wholeOut += whole.Receive(piece.bytes, piece.atMs);
        for (const char c : piece.bytes)
            singleOut += single.Receive(std::string_view(&c, 1), piece.atMs);
        if (const auto deadline = whole.Deadline())
            FUZZ_CHECK(*deadline >= piece.atMs);
    }
    FUZZ_CHECK(wholeOut == singleOut);
    if (settings.silent)
        FUZZ_CHECK(wholeOut.empty());

    whole.Advance(now + 100000);
    single.Hangup();
    FUZZ_CHECK(!whole.ReceivingBody() && !single.ReceivingBody());
    const auto wholeRecords = whole.TakeRecords();
    const auto singleRecords = single.TakeRecords();
    // The hangup may end a body the long pause ended as a timeout; all else is the same.
    FUZZ_CHECK(wholeRecords.size() == singleRecords.size());
    for (std::size_t i = 0; i < wholeRecords.size(); ++i) {
        CheckRecord(wholeRecords[i]);
        CheckRecord(singleRecords[i]);
        UploadRecord expected = wholeRecords[i];
        if (i + 1 == wholeRecords.size() && expected.end == UploadEnd::Timeout &&
            singleRecords[i].end == UploadEnd::Hangup)
            expected.end = UploadEnd::Hangup;
        FUZZ_CHECK(Same(expected, singleRecords[i]));
    }
    FUZZ_CHECK(whole.TakeRecords().empty());
    return 0;
}
