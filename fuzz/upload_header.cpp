// Fuzzes the simulator's reading of upload header lines.

#include "fuzz/FuzzCheck.h"
#include "tools/devsim/UploadHeader.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace devsim;

namespace
{

bool Same(const UploadHeader &a, const UploadHeader &b)
{
    return a.address == b.address && a.length == b.length && a.checksumText == b.checksumText &&
           a.checksum == b.checksum && a.version == b.version;
}

unsigned HexOf(std::string_view digits)
{
    unsigned value = 0;
    for (const char c : digits) {
        const unsigned d = c <= '9' ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
        value = value * 16 + d;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char *>(data), size);
    const bool looks = LooksLikeUploadHeader(line);
    const auto header = ParseUploadHeader(line);
    if (!looks)
        FUZZ_CHECK(!header);

    // The checksum helpers: the text is always four upper-case digits that read back as the sum.
    const uint16_t sum = AddToChecksum(static_cast<uint16_t>(size), line);
    const std::string sumText = ChecksumText(sum);
    FUZZ_CHECK(sumText.size() == 4 &&
               sumText.find_first_not_of("0123456789ABCDEF") == std::string::npos);
    FUZZ_CHECK(HexOf(sumText) == sum);

    if (!header)
        return 0;
    FUZZ_CHECK(header->checksumText.size() == 4);
    FUZZ_CHECK(header->checksumText.find_first_not_of("0123456789ABCDEFabcdef") ==
               std::string::npos);
    FUZZ_CHECK(HexOf(header->checksumText) == header->checksum);
    FUZZ_CHECK(header->address.size() + header->version.size() + 3 <= line.size());
    FUZZ_CHECK(line.find(header->address) != std::string_view::npos);
    FUZZ_CHECK(line.find(header->version) != std::string_view::npos);

    // Rendered again the way a host writes it, the header reads back field for field.
    std::string rendered = "LF " + header->address + " " + std::to_string(header->length) + " " +
                           header->checksumText;
    if (!header->version.empty())
        rendered += " " + header->version;
    const auto again = ParseUploadHeader(rendered);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(Same(*header, *again));
    return 0;
}
