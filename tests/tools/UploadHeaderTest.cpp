#include "tools/devsim/UploadHeader.h"

#include <gtest/gtest.h>

namespace devsim
{
namespace
{

struct HeaderCase {
    std::string line;
    std::string address;
    uint32_t length;
    std::string checksum;
    std::string version;
};

class WellFormedHeader : public ::testing::TestWithParam<HeaderCase>
{
};

TEST_P(WellFormedHeader, YieldsItsFields)
{
    const HeaderCase &c = GetParam();
    const auto header = ParseUploadHeader(c.line);
    ASSERT_TRUE(header) << c.line;
    EXPECT_EQ(header->address, c.address);
    EXPECT_EQ(header->length, c.length);
    EXPECT_EQ(header->checksumText, c.checksum);
    EXPECT_EQ(header->checksum, std::stoul(c.checksum, nullptr, 16));
    EXPECT_EQ(header->version, c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, WellFormedHeader,
    ::testing::Values(
        HeaderCase{"LF 0x10000 12 00FE 1.0", "0x10000", 12, "00FE", "1.0"},
        HeaderCase{"LF 0x10000 0 0000 6/19/92_10:20:30AM", "0x10000", 0, "0000",
                   "6/19/92_10:20:30AM"},
        // An empty address still has its separator.
        HeaderCase{"LF  3 0006 v", "", 3, "0006", "v"},
        // Free texts may hold blanks: the leftmost length/checksum pair splits them.
        HeaderCase{"LF 10 20 300 00FE v", "10 20", 300, "00FE", "v"},
        HeaderCase{"LF 300 1234 00FE v", "300", 1234, "00FE", "v"},
        HeaderCase{"LF 0x1 3 0006 two  words ", "0x1", 3, "0006", "two  words "},
        HeaderCase{"LF 0x1 3 0006  lead", "0x1", 3, "0006", " lead"},
        HeaderCase{"LF 0x1 3 0006", "0x1", 3, "0006", ""},
        HeaderCase{"LF 0x1 3 0006 ", "0x1", 3, "0006", ""},
        // Liberal: letter case, tabs, runs of blanks, leading zeros, a missing address field.
        HeaderCase{"lf 0x1 3 00fe v", "0x1", 3, "00fe", "v"},
        HeaderCase{"LF\t0x1\t3\t0006\tv", "0x1", 3, "0006", "v"},
        HeaderCase{"LF 0x1   3   0006 v", "0x1", 3, "0006", "v"},
        HeaderCase{"LF A 007 0006 v", "A", 7, "0006", "v"},
        HeaderCase{"LF 3 0006 v", "", 3, "0006", "v"},
        HeaderCase{"LF 0x1 4294967295 FFFF v", "0x1", 4294967295u, "FFFF", "v"}));

class MalformedHeader : public ::testing::TestWithParam<std::string>
{
};

TEST_P(MalformedHeader, IsRefused)
{
    EXPECT_FALSE(ParseUploadHeader(GetParam())) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Headers, MalformedHeader,
                         ::testing::Values("LF", "LF ", "LF 0x1", "LF 0x1 3", "LF 0x1 3 006 v",
                                           "LF 0x1 3 00G6 v", "LF 0x1 3 00065 v",
                                           "LF 0x1 abc 0006 v", "LF 0x1 -3 0006 v",
                                           "LF 0x1 4294967296 0006 v", "LFX 1 3 0006 v",
                                           "XLF 0x1 3 0006 v", "L F 0x1 3 0006 v"));

TEST(UploadHeader, RecognisesHeaderLinesByTheirStart)
{
    for (const char *line : {"LF", "LF x", "lf\tx", "Lf 1"})
        EXPECT_TRUE(LooksLikeUploadHeader(line)) << line;
    for (const char *line : {"", "L", "LFX", "LOAD", " LF x", "VER"})
        EXPECT_FALSE(LooksLikeUploadHeader(line)) << line;
}

TEST(UploadHeader, ChecksumIsTheSixteenBitByteSum)
{
    struct {
        std::string body;
        std::string text;
    } cases[] = {
        {"", "0000"},
        {std::string("\x01\x02\x03", 3), "0006"},
        {std::string(258, '\xFF'), "00FE"},
        {std::string(1, '\0'), "0000"},
        {"VER\r\r", "0107"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ChecksumText(AddToChecksum(0, c.body)), c.text);
        // Summing in pieces gives the same as summing at once.
        const std::size_t half = c.body.size() / 2;
        const uint16_t first = AddToChecksum(0, std::string_view(c.body).substr(0, half));
        EXPECT_EQ(ChecksumText(AddToChecksum(first, std::string_view(c.body).substr(half))),
                  c.text);
    }
    EXPECT_EQ(ChecksumText(0xABCD), "ABCD");
}

} // namespace
} // namespace devsim
