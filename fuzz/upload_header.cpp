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

    // Rendered again the way a host writes it, the header reads back field for field. The length
    // keeps its digits as sent: with blanks in the address, "x 12 0034 5678" read with its
    // leading zeros dropped would become a different, equally valid header.
    std::size_t digits = 3 + header->address.size();
    while (digits < line.size() && (line[digits] == ' ' || line[digits] == '\t'))
        ++digits;
    const std::size_t digitsEnd = line.find_first_not_of("0123456789", digits);
    const std::string_view lengthText = line.substr(digits, digitsEnd - digits);
    FUZZ_CHECK(!lengthText.empty() && std::stoull(std::string(lengthText)) == header->length);
    const bool plainAddress = header->address.find_first_of(" \t") == std::string::npos;
    for (const bool canonical : {false, true}) {
        if (canonical && !plainAddress)
            continue;
        std::string rendered =
            "LF " + header->address + " " +
            (canonical ? std::to_string(header->length) : std::string(lengthText)) + " " +
            header->checksumText;
        if (!header->version.empty())
            rendered += " " + header->version;
        const auto again = ParseUploadHeader(rendered);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(Same(*header, *again));
    }
    return 0;
}
