// What a gang run writes: prefixed lines, the live block on a terminal, and the summary.

#include "app/GangReport.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using loader::TGangPortStatus;
using platform::MessageRequest;
using platform::MsgButtons;
using platform::MsgType;

TEST(GangReportTest, BoxTextsPrefixedAndAsOneLine)
{
    struct Case {
        const char *text;
        const char *prefixed; // PrefixLines("COM3: ", text)
        const char *reason;
    };
    const Case cases[] = {
        {"one", "COM3: one\n", "one"},
        {"a\r\nb\rc\nd", "COM3: a\r\nCOM3: b\rc\nCOM3: d\n", "a b c d"},
        {"a\r\n\r\nb\n", "COM3: a\r\nCOM3: \r\nCOM3: b\n", "a  b "},
        {"", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(loader::PrefixLines("COM3: ", c.text), c.prefixed);
        EXPECT_EQ(loader::ReasonOf(c.text), c.reason);
    }
}

TEST(GangReportTest, LiveLineFollowsTheGaugesAndCaptions)
{
    struct Case {
        std::vector<std::string> calls; // "s N" script, "u N" upload, "c TEXT" caption, "ok", "bad"
        const char *line;
    };
    const Case cases[] = {
        {{}, "COM3  ----  [....................]   0%  waiting"},
        {{"s 7", "s 12"}, "COM3  ----  [##..................]  12%  running"},
        {{"s 12", "c a.bin", "u 50", "s 30"},
         "COM3  a.bin  [##########..........]  50%  uploading"},
        {{"s 12", "c a.bin", "u 55", "c Verifying Upload", "u 70"},
         "COM3  a.bin  [####################] 100%  verifying"},
        {{"s 12", "c a.bin", "u 100", "c Upload Progress", "s 40", "u 0"},
         "COM3  a.bin  [########............]  40%  running"},
        {{"s 40", "c a.bin", "u 30", "bad", "s 100", "c Upload Progress"},
         "COM3  a.bin  [######..............]  30%  failed"},
        {{"s 40", "ok"}, "COM3  ----  [####################] 100%  ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        TGangPortStatus status;
        for (const std::string &call : c.calls) {
            const std::string argument = call.size() > 2 ? call.substr(2) : "";
            if (call[0] == 's')
                status.ScriptProgress(std::stoi(argument));
            else if (call[0] == 'u')
                status.UploadProgress(std::stoi(argument));
            else if (call[0] == 'c')
                status.UploadCaption(argument);
            else
                status.RunEnded(call == "ok");
        }
        std::string line = loader::LiveLine("COM3", status, 3, 4);
        if (status.File().empty())
            line.replace(6, 4, "----");
        EXPECT_EQ(line, c.line);
    }
}

const MessageRequest UploadError{MsgType::Error, "Error",
                                 "Upload error encountered, script aborted! Reset remote "
                                 "system.\rFile: a.bin",
                                 MsgButtons::Ok};
const MessageRequest PortError{MsgType::Error, "Error", "Error Opening Selected Comm Port !",
                               MsgButtons::Ok};
const MessageRequest Hello{MsgType::Information, "Information", "hello\r\nthere", MsgButtons::Ok};

// Four ports: one good, one whose upload fails, one that does not open, one still running.
void Drive(loader::TGangReport &report)
{
    report.Start("/w/loader.sld");
    report.ScriptProgress(0, 50);
    report.UploadCaption(1, "a.bin");
    report.UploadProgress(1, 20);
    report.Box(2, PortError);
    report.NotOpened(2, "/dev/x: No such file or directory");
    report.RunEnded(2, false);
    report.Box(0, Hello);
    report.UploadProgress(1, 25);
    report.Box(1, UploadError);
    report.RunEnded(1, false);
    report.ScriptProgress(0, 100);
    report.RunEnded(0, true);
    report.Note("Interrupted again: stopping now.");
}

const std::string Summary =
    "COM1: ok\n"
    "COM2: failed: Upload error encountered, script aborted! Reset remote system. File: a.bin\n"
    "/dev/x: failed: Error Opening Selected Comm Port ! /dev/x: No such file or directory\n"
    "COM4: failed: the run did not end\n"
    "4 ports: 1 ok, 3 failed\n";
const std::string Boxes = "/dev/x: Error: Error Opening Selected Comm Port !\n"
                          "/dev/x: /dev/x: No such file or directory\n"
                          "COM1: Information: hello\n"
                          "COM1: there\n"
                          "COM2: Error: Upload error encountered, script aborted! Reset remote "
                          "system.\n"
                          "COM2: File: a.bin\n";
const std::vector<std::string> Names = {"COM1", "COM2", "/dev/x", "COM4"};

TEST(GangReportTest, ScrollingLinesThenTheSummary)
{
    std::ostringstream out, err;
    loader::TGangScrollingReport report(Names, out, err);
    Drive(report);

    EXPECT_EQ(report.Summary(), 1);
    EXPECT_EQ(out.str(), "Script /w/loader.sld\n"
                         "COM1: Script progress: 50%\n"
                         "COM2: Uploading a.bin\n"
                         "COM2: Upload progress: 20%\n"
                         "COM1: Script progress: 100%\n"
                         "Interrupted again: stopping now.\n" +
                             Summary);
    EXPECT_EQ(err.str(), Boxes);
}

TEST(GangReportTest, LiveBlockRedrawnInPlaceAtMostTenTimesASecond)
{
    using namespace std::chrono_literals;
    std::ostringstream out, err;
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    // Lines stop short of the terminal's last column.
    loader::TGangLiveReport report({"COM1", "COM22"}, out, err,
                                   {true, [] { return 46; }, [&now] { return now; }});
    const auto take = [&out] {
        std::string text = out.str();
        out.str("");
        return text;
    };
    const auto block = [](const std::string &one, const std::string &two) {
        return "\x1b[2A\r" + one + "\x1b[K\n\r" + two + "\x1b[K\n";
    };
    const std::string uploading20 = block("COM1          [....................]   0%  wa",
                                          "COM22  a.bin  [####................]  20%  up");

    report.Start("/w/loader.sld");
    EXPECT_EQ(take(), "Script /w/loader.sld\n"
                      "\rCOM1     [....................]   0%  waiting\x1b[K\n"
                      "\rCOM22    [....................]   0%  waiting\x1b[K\n");
    // Changes within a tenth of a second of the last drawing wait for a later tick.
    now += 150ms;
    report.ScriptProgress(1, 10);
    EXPECT_EQ(take(), block("COM1     [....................]   0%  waiting",
                            "COM22    [##..................]  10%  running"));
    report.UploadCaption(1, "a.bin");
    now += 50ms;
    report.UploadProgress(1, 20);
    report.Tick();
    EXPECT_EQ(take(), "");
    now += 50ms;
    report.Tick();
    EXPECT_EQ(take(), uploading20);
    report.Tick();
    EXPECT_EQ(take(), "");
    // The block makes way for a box on the same terminal and comes back below it.
    report.Box(0, Hello);
    EXPECT_EQ(take(), "\x1b[2A\r\x1b[J" + uploading20.substr(4));
    EXPECT_EQ(err.str(), "COM1: Information: hello\nCOM1: there\n");
    // The last state stays above the summary.
    report.RunEnded(0, true);
    report.RunEnded(1, true);
    EXPECT_EQ(report.Summary(), 0);
    EXPECT_EQ(take(), block("COM1          [####################] 100%  ok",
                            "COM22  a.bin  [####################] 100%  ok") +
                          "COM1: ok\nCOM22: ok\n2 ports: 2 ok, 0 failed\n");
}

} // namespace
