#include "serial/TraceLog.h"
#include "serial/ErrorCodes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace serial;

namespace
{

const std::string kLogTop = "Time      Type      SubType       Data  OtherData\r\n"
                            "----      ----      -------       ----  ---------\r\n";

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

std::vector<size_t> Lengths(const std::vector<std::string> &lines, size_t from, size_t to)
{
    std::vector<size_t> lengths;
    for (size_t i = from; i < to; ++i)
        lengths.push_back(lines[i].size());
    return lengths;
}

class TraceLogTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        tl.SetStartTick(1000);
        tl.SetClock([this] { return now; });
    }
    bool Exists(const std::string &name) const { return std::filesystem::exists(dir.File(name)); }
    std::string DumpTrace(const std::vector<std::pair<uint8_t, uint8_t>> &entries, bool hex,
                          int size = 1000)
    {
        EXPECT_EQ(tl.TraceCreate(size), 0);
        for (auto [kind, byte] : entries)
            tl.TraceAdd(kind, byte);
        EXPECT_EQ(tl.TraceWrite(dir.File("t.trc"), false, hex), 0);
        return dir.Read("t.trc");
    }
    std::string DumpRead(const std::string &bytes, bool hex)
    {
        EXPECT_EQ(tl.LogCreate(20000, 4096), 0);
        tl.LogAdd(ltDispatch, lsReadCom, static_cast<uint16_t>(bytes.size()),
                  reinterpret_cast<const uint8_t *>(bytes.data()),
                  static_cast<uint16_t>(bytes.size()));
        EXPECT_EQ(tl.LogWrite(dir.File("t.log"), false, hex), 0);
        return dir.Read("t.log");
    }
    static std::vector<std::pair<uint8_t, uint8_t>> Received(const std::string &bytes)
    {
        std::vector<std::pair<uint8_t, uint8_t>> entries;
        for (char c : bytes)
            entries.emplace_back(tkReceive, static_cast<uint8_t>(c));
        return entries;
    }

    testsupport::TempDir dir;
    TTraceLog tl;
    uint32_t now = 1000;
};

TEST_F(TraceLogTest, LogLinesOfAReadAndATriggerAreByteExact)
{
    now = 2234;
    ASSERT_EQ(tl.LogCreate(20000, 4096), 0);
    const uint8_t ok[] = {'O', 'K', '\r'};
    tl.LogAdd(ltDispatch, lsReadCom, 3, ok, 3);
    tl.LogAdd(ltTrigger, lsData, 2, nullptr, 0);
    ASSERT_EQ(tl.LogWrite(dir.File("COM.LOG"), false, true), 0);
    EXPECT_EQ(dir.Read("COM.LOG"), kLogTop + "00001234  dispatch  readcom       0003  OK[0D]\r\n"
                                             "00001234  trigger   data          0002  \r\n");
}

TEST_F(TraceLogTest, TraceBlocksSwitchWithDirection)
{
    EXPECT_EQ(DumpTrace({{tkReceive, 'a'},
                         {tkReceive, 'b'},
                         {tkReceive, 'c'},
                         {tkTransmit, 'd'},
                         {tkTransmit, 'e'},
                         {'X', 'z'}},
                        true),
              "Receive: \r\nabc\r\n\r\nTransmit: \r\nde");
}

TEST_F(TraceLogTest, BytesShowAsCharacterHexOrDecimal)
{
    struct Case {
        uint8_t byte;
        bool hex;
        const char *text;
    } cases[] = {{' ', true, "[20]"}, {' ', false, " "},    {200, false, "[200]"},
                 {200, true, "[C8]"}, {0, true, "[00]"},    {5, false, "[5]"},
                 {13, false, "[13]"}, {0x7F, true, "[7F]"}, {0x7F, false, "[127]"},
                 {'!', true, "!"},    {'~', false, "~"},    {255, true, "[FF]"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.byte) + (c.hex ? " hex" : " decimal"));
        EXPECT_EQ(DumpTrace({{tkReceive, c.byte}}, c.hex), std::string("Receive: \r\n") + c.text);
        EXPECT_EQ(Lines(DumpRead(std::string(1, static_cast<char>(c.byte)), c.hex))[2].substr(40),
                  c.text);
    }
}

struct WrapCase {
    std::string bytes;
    bool hex;
    std::vector<size_t> traceLines; // after the heading line
    std::vector<size_t> logLines;   // of the entry, prefix and indent included
};

TEST_F(TraceLogTest, LongRunsWrapAtTheirColumns)
{
    const std::string big(1, static_cast<char>(200));
    const WrapCase cases[] = {
        {std::string(37, 'x'), false, {37}, {77}},
        {std::string(38, 'x'), false, {38}, {77, 41}},
        {std::string(78, 'x'), false, {78}, {77, 77, 44}},
        {std::string(79, 'x'), false, {78, 1}, {77, 77, 45}},
        {std::string(157, 'x'), false, {78, 78, 1}, {77, 77, 77, 77, 49}},
        {std::string(26, '\3'), false, {78}, {76, 76, 46}},
        {std::string(27, '\3'), false, {78, 3}, {76, 76, 49}},
        {std::string(16, big[0]), false, {75, 5}, {75, 75, 50}},
        {std::string(20, big[0]), true, {76, 4}, {76, 76, 48}},
        {std::string(77, 'x') + big, false, {77, 5}, {77, 77, 48}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.size());
        const auto trace = Lines(DumpTrace(Received(c.bytes), c.hex));
        EXPECT_EQ(Lengths(trace, 1, trace.size()), c.traceLines);
        const auto log = Lines(DumpRead(c.bytes, c.hex));
        ASSERT_EQ(log.back(), "");
        EXPECT_EQ(Lengths(log, 2, log.size() - 1), c.logLines);
        for (size_t i = 3; i + 1 < log.size(); ++i)
            EXPECT_EQ(log[i].find_first_not_of(' '), 40u);
    }
}

TEST_F(TraceLogTest, WrappedTraceDumpsTheLastEntriesOldestFirst)
{
    struct Case {
        int size;
        std::vector<std::pair<uint8_t, uint8_t>> entries;
        std::string dump;
    } cases[] = {
        {5, Received("0123456789"), "Receive: \r\n56789"},
        {5, Received("0123456"), "Receive: \r\n23456"},
        {1, Received("ab"), "Receive: \r\nb"},
        {4,
         {{tkTransmit, 'a'},
          {tkTransmit, 'b'},
          {tkReceive, 'c'},
          {tkReceive, 'd'},
          {tkReceive, 'e'},
          {tkTransmit, 'f'}},
         "Receive: \r\ncde\r\n\r\nTransmit: \r\nf"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DumpTrace(c.entries, true, c.size), c.dump);
}

TEST_F(TraceLogTest, EmptyDumpsLeaveTheFileAlone)
{
    dir.Write("keep", "old");
    EXPECT_EQ(tl.TraceWrite(dir.File("keep"), false, true), 0);
    EXPECT_EQ(tl.LogWrite(dir.File("keep"), false, true), 0);
    ASSERT_EQ(tl.TraceCreate(10), 0);
    ASSERT_EQ(tl.LogCreate(100, 10), 0);
    EXPECT_EQ(tl.TraceWrite(dir.File("keep"), false, true), 0);
    EXPECT_EQ(tl.LogWrite(dir.File("keep"), false, true), 0);
    ASSERT_EQ(tl.TraceCreate(10), 0);
    tl.TraceAdd(tkReceive, 'a');
    tl.TraceClear();
    EXPECT_EQ(tl.TraceWrite(dir.File("keep"), false, true), 0);
    EXPECT_EQ(dir.Read("keep"), "old");
}

TEST_F(TraceLogTest, EntriesThatCannotFitLoseTheirBytesOrEverything)
{
    struct Case {
        int ring;
        size_t bytes;
        const char *line; // empty: nothing recorded
    } cases[] = {
        {0, 0, ""},
        {12, 0, ""},
        {13, 0, "00000000  dispatch  readcom       0000  "},
        {13, 1, "00000000  dispatch  readcom       0001  y"},
        {100, 88, nullptr}, // fills the ring exactly: kept whole
        {100, 89, "00000000  dispatch  readcom       0059  "},
        {100, 5000, "00000000  dispatch  readcom       1388  "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.ring) + "/" + std::to_string(c.bytes));
        now = 1000;
        ASSERT_EQ(tl.LogCreate(c.ring, 4096), 0);
        const std::string small(2, 's'), bytes(c.bytes, 'y');
        const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
        tl.LogAdd(ltDispatch, lsWriteCom, 2, reinterpret_cast<const uint8_t *>(small.data()), 2);
        tl.LogAdd(ltDispatch, lsReadCom, static_cast<uint16_t>(c.bytes), data,
                  static_cast<uint16_t>(c.bytes));
        std::remove(dir.File("t.log").c_str());
        ASSERT_EQ(tl.LogWrite(dir.File("t.log"), false, false), 0);
        if (c.line && !*c.line) {
            EXPECT_FALSE(Exists("t.log"));
            continue;
        }
        const auto lines = Lines(dir.Read("t.log"));
        if (c.line) {
            EXPECT_EQ(lines[lines.size() - 2], c.line);
            continue;
        }
        std::string shown; // the small entry before must have made room
        for (size_t i = 2; i + 1 < lines.size(); ++i)
            shown += lines[i].substr(40);
        EXPECT_EQ(shown, bytes);
    }
}

TEST_F(TraceLogTest, FullLogKeepsTheNewestWholeEntriesAcrossTheRingEnd)
{
    // Entries of 15 bytes in rings of every size from one entry to four: the ring end falls
    // inside headers and bytes alike, and exactly the newest size/15 entries survive.
    for (int ring = 15; ring <= 60; ++ring) {
        SCOPED_TRACE(ring);
        ASSERT_EQ(tl.LogCreate(ring, 2), 0);
        for (uint16_t i = 0; i < 10; ++i) {
            const uint8_t bytes[] = {static_cast<uint8_t>('a' + i), 'x', 'y'};
            tl.LogAdd(ltDispatch, lsReadCom, i, bytes, 3);
        }
        ASSERT_EQ(tl.LogWrite(dir.File("t.log"), false, true), 0);
        std::string expected = kLogTop;
        for (int i = 10 - ring / 15; i < 10; ++i)
            expected += "00000000  dispatch  readcom       000" + std::to_string(i) + "  " +
                        char('a' + i) + "xy\r\n";
        EXPECT_EQ(dir.Read("t.log"), expected);
    }
}

TEST_F(TraceLogTest, DumpingFreesBuffersUntilCreatedAgain)
{
    ASSERT_EQ(tl.TraceCreate(10), 0);
    ASSERT_EQ(tl.LogCreate(100, 10), 0);
    tl.TraceAdd(tkReceive, 'a');
    tl.LogAdd(ltTrigger, lsAvail, 1, nullptr, 0);
    ASSERT_EQ(tl.TraceWrite(dir.File("1.trc"), false, true), 0);
    ASSERT_EQ(tl.LogWrite(dir.File("1.log"), false, true), 0);
    tl.TraceResume();
    tl.LogResume();
    EXPECT_FALSE(tl.Tracing());
    EXPECT_FALSE(tl.Logging());
    tl.TraceAdd(tkReceive, 'b');
    tl.LogAdd(ltTrigger, lsAvail, 2, nullptr, 0);
    EXPECT_EQ(tl.TraceWrite(dir.File("2.trc"), false, true), 0);
    EXPECT_EQ(tl.LogWrite(dir.File("2.log"), false, true), 0);
    EXPECT_FALSE(Exists("2.trc"));
    EXPECT_FALSE(Exists("2.log"));
    EXPECT_EQ(DumpTrace({{tkReceive, 'c'}}, true), "Receive: \r\nc");
}

TEST_F(TraceLogTest, PauseKeepsEntriesAndCreateOnAnExistingRingRestarts)
{
    ASSERT_EQ(tl.TraceCreate(10), 0);
    ASSERT_EQ(tl.LogCreate(1000, 10), 0);
    tl.TraceAdd(tkReceive, 'a');
    tl.LogAdd(ltTrigger, lsTimer, 0xA, nullptr, 0);
    tl.TracePause();
    tl.LogPause();
    tl.TraceAdd(tkReceive, 'b');
    tl.LogAdd(ltTrigger, lsTimer, 0xB, nullptr, 0);
    tl.TraceResume();
    tl.LogResume();
    tl.TraceAdd(tkReceive, 'c');
    tl.LogAdd(ltTrigger, lsTimer, 0xC, nullptr, 0);
    EXPECT_EQ(tl.TraceWrite(dir.File("t.trc"), false, true), 0);
    EXPECT_EQ(dir.Read("t.trc"), "Receive: \r\nac");
    EXPECT_EQ(tl.LogWrite(dir.File("t.log"), false, true), 0);
    EXPECT_EQ(dir.Read("t.log"), kLogTop + "00000000  trigger   timer         000A  \r\n"
                                           "00000000  trigger   timer         000C  \r\n");

    // A ring that exists is emptied and switched on, whatever size is asked for.
    ASSERT_EQ(tl.TraceCreate(10), 0);
    tl.TraceAdd(tkReceive, 'a');
    tl.TracePause();
    EXPECT_EQ(tl.TraceCreate(0), 0);
    EXPECT_TRUE(tl.Tracing());
    tl.TraceAdd(tkTransmit, 'z');
    EXPECT_EQ(tl.TraceWrite(dir.File("t.trc"), false, true), 0);
    EXPECT_EQ(dir.Read("t.trc"), "Transmit: \r\nz");
    ASSERT_EQ(tl.LogCreate(1000, 10), 0);
    tl.LogAdd(ltTrigger, lsTimer, 1, nullptr, 0);
    tl.LogPause();
    EXPECT_EQ(tl.LogCreate(-1, -1), 0);
    EXPECT_TRUE(tl.Logging());
    tl.LogAdd(ltTrigger, lsTimer, 2, nullptr, 0);
    EXPECT_EQ(tl.LogWrite(dir.File("t.log"), false, true), 0);
    EXPECT_EQ(dir.Read("t.log"), kLogTop + "00000000  trigger   timer         0002  \r\n");
}

TEST_F(TraceLogTest, SizesOutsideTheirRangeAreRejected)
{
    struct Case {
        int trace, log, scratch, result;
    } cases[] = {{0, -1, 0, ecBadArgument},
                 {-1, 65536, 1, ecBadArgument},
                 {32761, 10, -1, ecBadArgument},
                 {32760, 65535, 65535, ecOK},
                 {1, 0, 0, ecOK}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trace);
        TTraceLog fresh;
        EXPECT_EQ(fresh.TraceCreate(c.trace), c.result);
        EXPECT_EQ(fresh.LogCreate(c.log, c.scratch), c.result);
        EXPECT_EQ(fresh.Tracing(), c.result == ecOK);
        EXPECT_EQ(fresh.Logging(), c.result == ecOK);
    }
}

TEST_F(TraceLogTest, LogPrefixShowsTimeNamesAndData)
{
    struct Case {
        int32_t start;
        uint32_t now;
        uint8_t type, subtype;
        uint16_t data;
        const char *line;
    } cases[] = {
        {0, 0, ltNoEvent, lsNone, 0, "00000000  no event                0000  "},
        {5, 123456794, ltError, lsLineStatus, 0xBEEF, "123456789  error     line status   BEEF  "},
        {0x7FFFFF00, 0x80000010, ltThread, lsModemStatus, 1,
         "00000272  thread    modem status  0001  "},
        {0, 7, ltThread, lsWake, 0xFFFF, "00000007  thread    wake          FFFF  "},
        {0, 7, 9, 13, 0, "00000007  9         13            0000  "},
    };
    for (const auto &c : cases) {
        tl.SetStartTick(c.start);
        now = c.now;
        ASSERT_EQ(tl.LogCreate(1000, 10), 0);
        tl.LogAdd(c.type, c.subtype, c.data, nullptr, 5);
        ASSERT_EQ(tl.LogWrite(dir.File("t.log"), false, true), 0);
        EXPECT_EQ(Lines(dir.Read("t.log"))[2], c.line);
    }
}

TEST_F(TraceLogTest, AppendKeepsWhatTheFileHeld)
{
    for (bool append : {false, true}) {
        const std::string before = append ? "old\r\n" : "";
        dir.Write("t.trc", "old\r\n");
        dir.Write("t.log", "old\r\n");
        ASSERT_EQ(tl.TraceCreate(10), 0);
        ASSERT_EQ(tl.LogCreate(100, 10), 0);
        tl.TraceAdd(tkTransmit, 'q');
        tl.LogAdd(ltTrigger, lsStatus, 3, nullptr, 0);
        EXPECT_EQ(tl.TraceWrite(dir.File("t.trc"), append, true), 0);
        EXPECT_EQ(tl.LogWrite(dir.File("t.log"), append, true), 0);
        EXPECT_EQ(dir.Read("t.trc"), before + "Transmit: \r\nq");
        EXPECT_EQ(dir.Read("t.log"),
                  before + kLogTop + "00000000  trigger   status        0003  \r\n");
    }
    ASSERT_EQ(tl.TraceCreate(10), 0);
    tl.TraceAdd(tkTransmit, 'n');
    EXPECT_EQ(tl.TraceWrite(dir.File("new.trc"), true, true), 0);
    EXPECT_EQ(dir.Read("new.trc"), "Transmit: \r\nn");
}

TEST_F(TraceLogTest, UnwritableFilesReportRuntimeErrors)
{
    struct Case {
        std::string name;
        int result;
        bool logKept; // the log stays for a retry only when the file could not be opened
    } cases[] = {{dir.File("missing/t.out"), ecPathNotFound, true},
                 {"", ecFileNotFound, true},
                 {dir.Path(), ecAccessDenied, true},
                 {"/dev/full", -101, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(tl.TraceCreate(10), 0);
        ASSERT_EQ(tl.LogCreate(100, 10), 0);
        tl.TraceAdd(tkReceive, 'r');
        tl.LogAdd(ltTrigger, lsAvail, 1, nullptr, 0);
        EXPECT_EQ(tl.TraceWrite(c.name, false, true), c.result);
        EXPECT_EQ(tl.LogWrite(c.name, false, true), c.result);
        EXPECT_FALSE(tl.Tracing());
        EXPECT_FALSE(tl.Logging());
        EXPECT_EQ(tl.TraceWrite(dir.File("retry.trc"), false, true), 0);
        EXPECT_FALSE(Exists("retry.trc"));
        EXPECT_EQ(tl.LogWrite(dir.File("retry.log"), false, true), 0);
        EXPECT_EQ(Exists("retry.log"), c.logKept);
        std::remove(dir.File("retry.log").c_str());
    }
}

} // namespace
