#include "tools/devsim/Report.h"

#include "tests/support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <system_error>

namespace devsim
{
namespace
{

UploadRecord Record(std::string line, std::optional<UploadHeader> header, uint32_t received,
                    uint16_t sum, UploadEnd end)
{
    UploadRecord record;
    record.headerLine = std::move(line);
    record.header = std::move(header);
    record.received = received;
    record.receivedChecksum = sum;
    record.end = end;
    return record;
}

TEST(Report, LinesCarryHeaderFieldsAndOutcome)
{
    const UploadHeader header{"0x100", 3, "0006", 6, "1.0"};
    struct {
        UploadRecord record;
        std::string line;
    } cases[] = {
        {Record("LF 0x100 3 0006 1.0", header, 3, 6, UploadEnd::Complete),
         R"({"header":"LF 0x100 3 0006 1.0","valid":true,"address":"0x100","length":3,)"
         R"("checksum":"0006","version":"1.0","received":3,"received_checksum":"0006",)"
         R"("length_ok":true,"checksum_ok":true,"end":"complete"})"
         "\n"},
        {Record("LF 0x100 3 0006 1.0", header, 3, 7, UploadEnd::Complete),
         R"({"header":"LF 0x100 3 0006 1.0","valid":true,"address":"0x100","length":3,)"
         R"("checksum":"0006","version":"1.0","received":3,"received_checksum":"0007",)"
         R"("length_ok":true,"checksum_ok":false,"end":"complete"})"
         "\n"},
        // A short body with a matching partial sum still does not match.
        {Record("LF 0x100 3 0006 1.0", UploadHeader{"0x100", 3, "0006", 6, "1.0"}, 2, 6,
                UploadEnd::Timeout),
         R"({"header":"LF 0x100 3 0006 1.0","valid":true,"address":"0x100","length":3,)"
         R"("checksum":"0006","version":"1.0","received":2,"received_checksum":"0006",)"
         R"("length_ok":false,"checksum_ok":false,"end":"timeout"})"
         "\n"},
        // Body bytes that came are timed.
        {[&header] {
             UploadRecord timed = Record("LF 0x100 3 0006 1.0", header, 3, 6, UploadEnd::Complete);
             timed.firstByteMs = 1000;
             timed.lastByteMs = 1250;
             return timed;
         }(),
         R"({"header":"LF 0x100 3 0006 1.0","valid":true,"address":"0x100","length":3,)"
         R"("checksum":"0006","version":"1.0","received":3,"received_checksum":"0006",)"
         R"("length_ok":true,"checksum_ok":true,"first_byte_ms":1000,"last_byte_ms":1250,)"
         R"("end":"complete"})"
         "\n"},
        {Record("LF junk", std::nullopt, 0, 0, UploadEnd::Rejected),
         R"({"header":"LF junk","valid":false,"end":"rejected"})"
         "\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatReportLine(c.record), c.line);
}

TEST(Report, EveryOutcomeHasItsName)
{
    const std::pair<UploadEnd, std::string> names[] = {
        {UploadEnd::Complete, "complete"}, {UploadEnd::Failed, "failed"},
        {UploadEnd::Timeout, "timeout"},   {UploadEnd::Hangup, "hangup"},
        {UploadEnd::Shutdown, "shutdown"}, {UploadEnd::Rejected, "rejected"},
    };
    for (const auto &[end, name] : names)
        EXPECT_EQ(UploadEndName(end), name);
}

TEST(Report, StringsAreEscapedToAscii)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", R"("plain")"},
        {"a\"b", R"("a\"b")"},
        {"back\\slash", R"("back\\slash")"},
        {"\r\n\t", R"("\u000D\u000A\u0009")"},
        {std::string("\0z", 2), R"("\u0000z")"},
        {"\x7F\xE9\xFF", R"("\u007F\u00E9\u00FF")"},
    };
    for (const auto &[text, json] : cases)
        EXPECT_EQ(JsonString(text), json);
}

TEST(Report, FileCarriesBodyTimesOnlyWhenAskedTo)
{
    testsupport::TempDir dir;
    UploadRecord timed =
        Record("LF 0 1 0001 v", UploadHeader{"0", 1, "0001", 1, "v"}, 1, 1, UploadEnd::Complete);
    timed.firstByteMs = timed.lastByteMs = 7;
    for (bool times : {false, true}) {
        ReportFile(dir.File("report.jsonl"), times).Append(timed);
        const std::string line = dir.Read("report.jsonl");
        EXPECT_EQ(line.find("\"first_byte_ms\":7,\"last_byte_ms\":7") != std::string::npos, times)
            << line;
        std::remove(dir.File("report.jsonl").c_str());
    }
}

TEST(Report, FileCollectsOneLinePerUpload)
{
    testsupport::TempDir dir;
    dir.Write("report.jsonl", "earlier\n");
    {
        ReportFile file(dir.File("report.jsonl"));
        file.Append(Record("LF a", std::nullopt, 0, 0, UploadEnd::Rejected));
        file.Append(Record("LF b", std::nullopt, 0, 0, UploadEnd::Rejected));
    }
    EXPECT_EQ(dir.Read("report.jsonl"),
              "earlier\n" +
                  FormatReportLine(Record("LF a", std::nullopt, 0, 0, UploadEnd::Rejected)) +
                  FormatReportLine(Record("LF b", std::nullopt, 0, 0, UploadEnd::Rejected)));
    EXPECT_THROW(ReportFile(dir.File("missing/report.jsonl")), std::system_error);
}

} // namespace
} // namespace devsim
