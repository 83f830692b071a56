#include "tools/devsim/Device.h"

#include <functional>
#include <gtest/gtest.h>

namespace devsim
{
namespace
{

// One step of a conversation: bytes in at a time and the reply expected, or an event.
struct Step {
    enum Kind { Bytes, Advance, Hangup, Shutdown } kind = Bytes;
    std::string in;
    std::string out;
    int64_t atMs = 0;
};

Step Say(std::string in, std::string out, int64_t atMs = 0)
{
    return {Step::Bytes, std::move(in), std::move(out), atMs};
}
Step WaitUntil(int64_t atMs, std::string out = "")
{
    return {Step::Advance, "", std::move(out), atMs};
}
Step HangUp()
{
    return {Step::Hangup, "", "", 0};
}
Step Stop()
{
    return {Step::Shutdown, "", "", 0};
}

struct Conversation {
    std::string name;
    std::vector<Step> steps;
    // Each ended upload as "end received lengthOk checksumOk", e.g. "complete 3 1 1".
    std::vector<std::string> records = {};
    std::function<void(DeviceSettings &)> configure = [](DeviceSettings &) {};
};

std::string Summary(const UploadRecord &r)
{
    return std::string(UploadEndName(r.end)) + " " + std::to_string(r.received) + " " +
           (r.LengthMatches() ? "1" : "0") + " " + (r.ChecksumMatches() ? "1" : "0");
}

std::string NameOf(const ::testing::TestParamInfo<Conversation> &param)
{
    return param.param.name;
}

class DeviceConversation : public ::testing::TestWithParam<Conversation>
{
};

TEST_P(DeviceConversation, RepliesAndReports)
{
    const Conversation &c = GetParam();
    DeviceSettings settings;
    settings.bodyIdleMs = 1000;
    c.configure(settings);
    Device device(settings);
    std::vector<std::string> records;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step &step = c.steps[i];
        switch (step.kind) {
        case Step::Bytes:
            EXPECT_EQ(device.Receive(step.in, step.atMs), step.out) << "step " << i;
            break;
        case Step::Advance:
            EXPECT_EQ(device.Advance(step.atMs), step.out) << "step " << i;
            break;
        case Step::Hangup:
            device.Hangup();
            break;
        case Step::Shutdown:
            device.Shutdown();
            break;
        }
        for (const UploadRecord &record : device.TakeRecords())
            records.push_back(Summary(record));
    }
    EXPECT_EQ(records, c.records);
}

const std::string Bytes123("\x01\x02\x03", 3);

INSTANTIATE_TEST_SUITE_P(
    Commands, DeviceConversation,
    ::testing::Values(
        Conversation{"LoneCarriageReturnGivesPrompt", {Say("\r", "#")}},
        Conversation{"LineFeedsAreIgnored", {Say("\n\r\n", "#")}},
        Conversation{"VersionIsAValue", {Say("VER\r", "=1.0\r\n#")}},
        Conversation{"CommandsIgnoreCaseAndBlanks", {Say("  ver \t\r", "=1.0\r\n#")}},
        Conversation{"EchoReturnsItsText", {Say("ECHO two  words\r", "=two  words\r\n#")}},
        Conversation{"BadIsRejected", {Say("BAD\r", "?\r\n#")}},
        Conversation{"UnknownIsRejected", {Say("HELLO WORLD\r", "?\r\n#")}},
        Conversation{"LinesMaySpanReads", {Say("V", ""), Say("E", ""), Say("R\r", "=1.0\r\n#")}},
        Conversation{"SeveralLinesInOneRead", {Say("\rVER\rX\r", "#=1.0\r\n#?\r\n#")}},
        Conversation{"ModeSwitchesReplyTexts",
                     {Say("MODE UL\r", ">"), Say("BAD\r", "ERR\r\n>"), Say("VER\r", "=1.0\r\n>"),
                      Say("mode n\r", "#"), Say("BAD\r", "?\r\n#")}},
        Conversation{"ModeNeedsAKnownArgument",
                     {Say("MODE\r", "?\r\n#"), Say("MODE X\r", "?\r\n#")}},
        Conversation{"ResetReturnsToStartTexts", {Say("MODE UL\r", ">"), Say("RESET\r", "#")}},
        Conversation{"QuietAnswersNothing", {Say("QUIET\r", ""), Say("\r", "#")}},
        Conversation{"CaseSwapsThePromptsLetters",
                     {Say("CASE\r", "rEADY>"), Say("\r", "Ready>")},
                     {},
                     [](DeviceSettings &s) { s.texts.prompt = "Ready>"; }},
        Conversation{"OwnTexts",
                     {Say("VER\r", ": 1.0\r\nOK"), Say("X\r", "NAK\r\nOK"), Say("MODE UL\r", "UL"),
                      Say("X\r", "UERR\r\nUL")},
                     {},
                     [](DeviceSettings &s) {
                         s.texts = {"OK", "NAK", "UL", "UERR", ": "};
                     }},
        Conversation{"StartInUploadTexts",
                     {Say("\r", ">")},
                     {},
                     [](DeviceSettings &s) { s.startWithUploadTexts = true; }},
        Conversation{"SilentNeverAnswers",
                     {Say("VER\r", ""), Say("BAD\r", ""), Say("LF 0 1 0009 v\r\x01", "")},
                     {"complete 1 1 0"},
                     [](DeviceSettings &s) { s.silent = true; }},
        Conversation{"EchoRepeatsCommandsNotBodies",
                     {Say("VER\r", "VER\r\n=1.0\r\n#"), Say("LF 0 3 0006 v\r", "LF 0 3 0006 v\r\n"),
                      Say(Bytes123, ""), Say("\n\r", "\r\n#")},
                     {"complete 3 1 1"},
                     [](DeviceSettings &s) { s.echo = true; }},
        Conversation{"OverlongLineIsRejectedWhole",
                     {Say(std::string(MaxLineLength + 10, 'A') + "\r", "?\r\n#"),
                      Say("VER\r", "=1.0\r\n#")}}),
    NameOf);

INSTANTIATE_TEST_SUITE_P(
    Uploads, DeviceConversation,
    ::testing::Values(
        Conversation{"GoodUploadThenPrompt",
                     {Say("MODE UL\r", ">"), Say("LF 0x100 3 0006 1.0\r" + Bytes123 + "\r", ">")},
                     {"complete 3 1 1"}},
        Conversation{"BodyMayHoldLineEndsAndCommands",
                     {Say("LF 0 5 0107 v\r", ""), Say("VER\r\r", ""), Say("\r", "#")},
                     {"complete 5 1 1"}},
        Conversation{"BodyTakesLineFeeds",
                     {Say("LF 0 2 0014 v\r\n\n", ""), Say("\r", "#")},
                     {"complete 2 1 1"}},
        Conversation{"EmptyBody", {Say("LF 0 0 0000 v\r\r", "#")}, {"complete 0 1 1"}},
        Conversation{"BadChecksumIsAnUploadError",
                     {Say("LF 0 3 0007 v\r" + Bytes123, "ERR\r\n#")},
                     {"complete 3 1 0"}},
        Conversation{"MalformedHeaderIsRejected",
                     {Say("LF 0x100 x 0006 v\r", "?\r\n#"), Say(Bytes123 + "\r", "?\r\n#")},
                     {"rejected 0 0 0"}},
        Conversation{"OverlongHeaderIsRejected",
                     {Say("LF 0 3 0006 " + std::string(MaxLineLength, 'v') + "\r", "?\r\n#")},
                     {"rejected 0 0 0"}},
        Conversation{"FailAfterDiscardsTheRest",
                     {Say("MODE UL\r", ">"), Say("LF 0 5 000F v\r\x01\x02", "ERR\r\n"),
                      Say("\x03\x04\x05", ""), Say("\r", ">"),
                      // Only the next upload fails.
                      Say("LF 0 3 0006 v\r" + Bytes123, "")},
                     {"failed 2 0 0", "complete 3 1 1"},
                     [](DeviceSettings &s) { s.failAfter = 2; }},
        Conversation{"FailAfterZeroFailsAtTheHeader",
                     {Say("LF 0 2 0003 v\r", "ERR\r\n"), Say("\x01\x02\r", "#")},
                     {"failed 0 0 0"},
                     [](DeviceSettings &s) { s.failAfter = 0; }},
        Conversation{"FailAfterBeyondTheBodyLetsItPass",
                     {Say("LF 0 3 0006 v\r" + Bytes123, "")},
                     {"complete 3 1 1"},
                     [](DeviceSettings &s) { s.failAfter = 3; }},
        Conversation{"FailCommandArmsAndDisarms",
                     {Say("FAIL 1\r", "#"), Say("LF 0 3 0006 v\r" + Bytes123, "ERR\r\n"),
                      Say("FAIL 1\r", "#"), Say("FAIL OFF\r", "#"),
                      Say("LF 0 3 0006 v\r" + Bytes123, ""), Say("FAIL x\r", "?\r\n#")},
                     {"failed 1 0 0", "complete 3 1 1"}},
        Conversation{
            "RejectedHeaderKeepsTheArmedFailure",
            {Say("FAIL 1\rLF x\r", "#?\r\n#"), Say("LF 0 3 0006 v\r" + Bytes123, "ERR\r\n")},
            {"rejected 0 0 0", "failed 1 0 0"}},
        Conversation{"ResetDisarmsFailure",
                     {Say("FAIL 1\rRESET\r", "##"), Say("LF 0 3 0006 v\r" + Bytes123, "")},
                     {"complete 3 1 1"}},
        Conversation{
            "FailAtEndRefusesTheWholeBodyOnce",
            {Say("LF 0 3 0006 v\r" + Bytes123, "ERR\r\n#"), Say("LF 0 3 0006 v\r" + Bytes123, "")},
            {"failed 3 1 1", "complete 3 1 1"},
            [](DeviceSettings &s) { s.failAtEnd = true; }},
        Conversation{"SlowErrorPausesAfterItsSplitAndHoldsLaterReplies",
                     {Say("LF 0 3 0006 v\r" + Bytes123, "ER", 100), Say("VER\r", "", 200),
                      WaitUntil(399), WaitUntil(400, "R\r\n#=1.0\r\n#"), Say("\r", "#", 500)},
                     {"failed 3 1 1"},
                     [](DeviceSettings &s) {
                         s.failAtEnd = true;
                         s.errorSplit = 2;
                         s.errorPauseMs = 300;
                     }},
        Conversation{"SlowErrorOfAFailureMidBody",
                     {Say("LF 0 3 0006 v\r\x01", "E", 0), WaitUntil(50, "RR\r\n")},
                     {"failed 1 0 0"},
                     [](DeviceSettings &s) {
                         s.failAfter = 1;
                         s.errorPauseMs = 50;
                     }}),
    NameOf);

INSTANTIATE_TEST_SUITE_P(
    Time, DeviceConversation,
    ::testing::Values(Conversation{"StalledBodyEndsAfterIdleTime",
                                   {Say("LF 0 3 0006 v\r", "", 0), Say("\x01", "", 500),
                                    WaitUntil(1499), WaitUntil(1500),
                                    Say("VER\r", "=1.0\r\n#", 1600)},
                                   {"timeout 1 0 0"}},
                      Conversation{"BytesAfterTheStallAreCommands",
                                   {Say("LF 0 3 0006 v\r", "", 0), Say("VER\r", "=1.0\r\n#", 5000)},
                                   {"timeout 0 0 0"}},
                      Conversation{"DiscardEndsWhenTheLineIsQuiet",
                                   {Say("LF 0 10 0000 v\r\x01", "ERR\r\n", 0), Say("\r\r", "", 400),
                                    Say("\r", "", 899), Say("\r", "#", 1399)},
                                   {"failed 1 0 0"},
                                   [](DeviceSettings &s) { s.failAfter = 1; }},
                      Conversation{"HangupEndsTheBodyAndDropsHalfLines",
                                   {Say("LF 0 3 0006 v\r\x01\x02", ""), HangUp(), Say("VE", ""),
                                    HangUp(), Say("R\r", "?\r\n#")},
                                   {"hangup 2 0 0"}},
                      Conversation{"ShutdownEndsTheBody",
                                   {Say("LF 0 3 0006 v\r\x01", ""), Stop(), Stop()},
                                   {"shutdown 1 0 0"}}),
    NameOf);

TEST(Device, DeadlineFollowsTheBody)
{
    DeviceSettings settings;
    settings.bodyIdleMs = 200;
    settings.failAfter = 2;
    Device device(settings);
    EXPECT_FALSE(device.Deadline());
    device.Receive("LF 0 4 0000 v\r", 100);
    EXPECT_TRUE(device.ReceivingBody());
    EXPECT_EQ(device.Deadline(), 300);
    device.Receive("\x01", 250);
    EXPECT_EQ(device.Deadline(), 450);
    device.Receive("\x01", 260);
    EXPECT_EQ(device.Deadline(), 260 + DiscardQuietMs);
    device.Receive("\x01\x01", 270);
    EXPECT_FALSE(device.ReceivingBody());
    EXPECT_FALSE(device.Deadline());
}

TEST(Device, BodyBytesAreTimedFromFirstToLast)
{
    Device device(DeviceSettings{});
    device.Receive("LF 0 3 0006 v\r", 100);
    device.Receive("\x01", 140);
    device.Receive("\x02\x03VER\r", 190);
    const auto records = device.TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].firstByteMs, 140);
    EXPECT_EQ(records[0].lastByteMs, 190);

    // A header with no body has nothing to time.
    device.Receive("LF 0 0 0000 v\r", 300);
    EXPECT_FALSE(device.TakeRecords().at(0).firstByteMs);
}

} // namespace
} // namespace devsim
