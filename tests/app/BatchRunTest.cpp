// The real program in batch mode against the device simulator over a pseudo terminal: what the
// device received, the boxes on standard error, loader.log and the exit status.

#include "platform/FileDate.h"
#include "platform/TextEncoding.h"
#include "tests/app/RunFolder.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

using platform::EncodeText;
using platform::TextForm;
using runtest::BatchResult;
using runtest::Contains;
using runtest::Count;
using runtest::Entry;
using runtest::Join;
using runtest::LogHeader;
using runtest::LogLines;
using runtest::Pattern;
using runtest::RunFolder;
using runtest::Sum16;
using testsupport::Clock;

// A generous bound on waiting for the program's progress; a run that needs longer is hanging.
constexpr auto GiveUpAfter = std::chrono::seconds(30);

TEST(BatchRunTest, EveryByteOfEveryFileArrivesBehindItsHeaderAndIsLogged)
{
    // Paced like a real line, so the device holds the loader's output back as it would.
    RunFolder run({"--mode", "UL", "--baud", "115200"});
    const std::string a = Pattern(3000);
    const std::string b(258, '\xFF');
    run.Write("a.bin", a);
    run.Write("b.bin", b);
    run.Write("empty.bin", "");
    run.Write("c.bin", std::string("\x01\x02\x03", 3));
    run.Write("loader.sld", "Three files and an empty one.\r\n"
                            "_TC \"VER^M\"\r\n"
                            "_LF a.bin\n_LA 0x00010000\n_LV 2.1\n_LD\n"
                            "_LF b.bin\n_LA 0x00020000\n_LV date\n_LD\n"
                            "_LF empty.bin\n_LA 0\n_LV v 0\n_LD\n"
                            "_LF c.bin\n_LD\n");
    const auto date = [&run](const char *file) {
        return platform::FileDateText(run.dir.File(file), "<unknown>");
    };
    const std::string bDate = date("b.bin");

    const BatchResult result = run.RunBatch();

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(Contains(result.err, "Error")) << result.err;
    for (const char *line : {"Uploading a.bin\n", "Uploading empty.bin\n", "Verifying Upload\n",
                             "Script progress: 100%\n", "Run ended normally.\n"})
        EXPECT_TRUE(Contains(result.out, line)) << line << "\n" << result.out;

    struct Expected {
        std::string header, length, checksum;
    };
    const std::vector<Expected> expected = {
        {"LF 0x00010000 3000 " + Sum16(a) + " 2.1", "3000", Sum16(a)},
        {"LF 0x00020000 258 00FE " + bDate, "258", "00FE"},
        {"LF 0 0 0000 v 0", "0", "0000"},
        {"LF 0 3 0006 v 0", "3", "0006"},
    };
    const auto uploads = run.Uploads(expected.size());
    ASSERT_EQ(uploads.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].header);
        EXPECT_EQ(uploads[i].header, expected[i].header);
        EXPECT_EQ(uploads[i].received, expected[i].length);
        EXPECT_EQ(uploads[i].receivedChecksum, expected[i].checksum);
        EXPECT_EQ(uploads[i].end, "complete");
    }

    EXPECT_EQ(run.MaskedLog(),
              LogLines(Join({LogHeader,
                             Entry("a.bin", 3000, Sum16(a), "2.1; " + date("a.bin"), "0x00010000"),
                             Entry("b.bin", 258, "00FE", "date; " + bDate, "0x00020000"),
                             Entry("empty.bin", 0, "0000", "v 0; " + date("empty.bin"), "0"),
                             Entry("c.bin", 3, "0006", "v 0; " + date("c.bin"), "0")})));
}

TEST(BatchRunTest, ErrorTextInReplyToATestCommandIsAScriptError)
{
    struct Case {
        const char *answer;
        int boxesAtLeast;
        bool restRuns;
    };
    for (const Case c : {Case{"abort", 1, false}, Case{"ignore", 1, true}}) {
        SCOPED_TRACE(c.answer);
        RunFolder run;
        run.Write("c.bin", "abc");
        run.Write("loader.sld", "_TC \"VER^M\"\n_TC \"BAD^M\"\n_LF c.bin\n_LD\n");

        const BatchResult result = run.RunBatch({"--answer", c.answer});

        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(Contains(result.err, "Error: Script error encountered! - System not "
                                         "responding or command error.\nFile Name: loader.sld\n"
                                         "Line Number: 2\n"))
            << result.err;
        EXPECT_GE(Count(result.err, "Script error encountered!"), c.boxesAtLeast);
        EXPECT_EQ(run.Uploads(c.restRuns ? 1 : 0).size(), c.restRuns ? 1u : 0u);
        EXPECT_EQ(Contains(result.out, "Script progress: 100%"), c.restRuns) << result.out;
    }
}

TEST(BatchRunTest, MissingFlashFileAbortedOrIgnored)
{
    const std::string notFound =
        "Error: Script file error - File not found!\nFile Name: nothere.bin\nLine Number: 2\n"
        "nothere.bin: No such file or directory\n";
    const std::string scriptError = "Error: Script error encountered! - System not responding or "
                                    "command error.\nFile Name: loader.sld\nLine Number: 2\n"
                                    "Cause: the flash file of this line could not be opened.\n";
    struct Case {
        const char *answer;
        bool scriptErrorFollows;
        std::size_t uploads;
    };
    for (const Case c : {Case{"abort", true, 0}, Case{"ignore", false, 1}}) {
        SCOPED_TRACE(c.answer);
        RunFolder run;
        run.Write("c.bin", "abc");
        run.Write("loader.sld", "_LF nothere.bin\n_LD\n_LF c.bin\n_LA 0x40\n_LV 1\n_LD\n");

        const BatchResult result = run.RunBatch({"--answer", c.answer});

        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.find(notFound), result.err.find("Error: ")) << result.err;
        EXPECT_EQ(Contains(result.err, scriptError), c.scriptErrorFollows) << result.err;
        // The missing file sent nothing and logged nothing.
        const auto uploads = run.Uploads(c.uploads);
        ASSERT_EQ(uploads.size(), c.uploads);
        std::vector<std::vector<std::string>> log = {LogHeader};
        if (c.uploads) {
            EXPECT_EQ(uploads[0].header, "LF 0x40 3 0126 1");
            log.push_back(Entry("c.bin", 3, "0126",
                                "1; " + platform::FileDateText(run.dir.File("c.bin"), "?"),
                                "0x40"));
        }
        EXPECT_EQ(run.MaskedLog(), LogLines(Join(log)));
    }
}

TEST(BatchRunTest, DeviceErrorInTheMiddleOfABodyEndsTheRun)
{
    RunFolder run({"--mode", "UL", "--baud", "115200", "--fail-after", "100"});
    run.Write("a.bin", Pattern(3000));
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF a.bin\n_LD\n_LF c.bin\n_LD\n");

    const BatchResult result = run.RunBatch();

    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Count(result.err, "Error: "), 1) << result.err;
    EXPECT_TRUE(Contains(result.err, "Error: Upload error encountered, script aborted! Reset "
                                     "remote system.\nFile: a.bin\n"))
        << result.err;
    const auto uploads = run.Uploads(1);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].end, "failed");
    EXPECT_EQ(uploads[0].received, "100");
}

TEST(BatchRunTest, SilentDeviceFailsTheVerificationTwice)
{
    RunFolder run({"--silent"});
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF c.bin\n_LD\n_LF c.bin\n_LD\n");

    const BatchResult result = run.RunBatch();

    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.out, "Verifying Upload: no answer yet, trying once more\n"))
        << result.out;
    EXPECT_TRUE(Contains(result.err, "Error: Communication test failed. Upload of c.bin may have "
                                     "failed!\nScript Line: 2\nError: Upload error encountered, "
                                     "script aborted! Reset remote system.\nFile: c.bin\n"))
        << result.err;
    // The device received the one body whole; the second never went out.
    const auto uploads = run.Uploads(1);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].end, "complete");
}

TEST(BatchRunTest, InterruptDuringADelayCancelsTheRun)
{
    RunFolder run;
    run.Write("loader.sld", "_DY 6000\n_SC \"never^M\"\n");
    auto program = run.StartBatch();
    ASSERT_TRUE(program->WaitForOutput("Script progress: 50%", Clock::now() + GiveUpAfter))
        << program->Output();

    program->Signal(SIGINT);
    const BatchResult result = RunFolder::Finish(*program);

    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.out, "Interrupted: cancelling the run.\n")) << result.out;
    EXPECT_FALSE(Contains(result.out, "Script progress: 100%")) << result.out;
    EXPECT_TRUE(Contains(result.err, "Warning: Cancel current upload?\nError: Upload error "
                                     "encountered, script aborted! Reset remote system.\nFile: \n"))
        << result.err;
}

// Uploads a.bin (200000 bytes), then c.bin. Once a fifth of a.bin has gone (more than the line's
// buffers hold, so the device has the header), the device gets `deviceSignal` and the loader
// `loaderSignal` (each unless 0).
BatchResult StrandMidBody(RunFolder &run, int deviceSignal, int loaderSignal)
{
    run.Write("a.bin", Pattern(200000));
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF a.bin\n_LD\n_LF c.bin\n_LD\n");
    auto program = run.StartBatch();
    program->WaitForOutput("Upload progress: 20%", Clock::now() + GiveUpAfter);
    if (deviceSignal) {
        EXPECT_TRUE(run.SignalDevice(deviceSignal));
    }
    if (loaderSignal)
        program->Signal(loaderSignal);
    BatchResult result = RunFolder::Finish(*program);
    run.SignalDevice(SIGCONT);
    EXPECT_TRUE(Contains(result.out, "Upload progress: 20%")) << result.out;
    EXPECT_FALSE(Contains(result.out, "Uploading c.bin")) << result.out;
    return result;
}

const std::string UploadErrorOfA =
    "Error: Upload error encountered, script aborted! Reset remote system.\nFile: a.bin\n";

TEST(BatchRunTest, InterruptDuringATransferThatCannotDrainEndsTheRun)
{
    // A frozen device takes nothing more, so the loader's output can never drain.
    RunFolder run({"--mode", "UL", "--baud", "115200"});
    const BatchResult result = StrandMidBody(run, SIGSTOP, SIGINT);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_FALSE(Contains(result.out, "Interrupted again")) << result.out;
    EXPECT_TRUE(Contains(result.err, "Warning: Cancel current upload?\n" + UploadErrorOfA))
        << result.err;
}

// The device's end of the line closes for good: the engine reports the hang-up as a failed line.
TEST(BatchRunTest, DeviceVanishingMidBodyEndsTheRunWithTheUploadError)
{
    RunFolder run({"--mode", "UL", "--baud", "115200"});
    const BatchResult result = StrandMidBody(run, SIGKILL, 0);
    EXPECT_EQ(result.status, 1) << result.err;
    // The upload error is the one box: no port error from a block sent after the line went.
    const std::size_t box = result.err.find("Error: ");
    EXPECT_EQ(box, result.err.find(UploadErrorOfA)) << result.err;
    EXPECT_EQ(result.err.find("Error: ", box + 1), std::string::npos) << result.err;
}

// A hang-up or a supervisor's stop ends the run at once, as two Ctrl-Cs do: the log is whole, and
// the port is closed with its exclusive mark cleared, so the next run on the same line gets it
// (as an unprivileged user; root passes the mark regardless).
TEST(BatchRunTest, TerminateAndHangUpEndTheRunAndFreeThePort)
{
    struct Case {
        int signal;
        const char *line;
    };
    for (const Case c : {Case{SIGTERM, "loader: SIGTERM received: the run is cancelled and the "
                                       "port closed\n"},
                         Case{SIGHUP, "loader: SIGHUP received: the run is cancelled and the port "
                                      "closed\n"}}) {
        SCOPED_TRACE(c.line);
        // Fast enough that the device is soon through the bytes it took before the port closed
        // (it ends the body only then), slow enough that the signal comes mid-body.
        RunFolder run({"--mode", "UL", "--baud", "460800"});
        const BatchResult result = StrandMidBody(run, 0, c.signal);

        EXPECT_EQ(result.status, 128 + c.signal) << result.err;
        EXPECT_EQ(result.err, c.line);
        auto uploads = run.Uploads(1);
        ASSERT_EQ(uploads.size(), 1u);
        EXPECT_EQ(uploads[0].end, "hangup");
        const std::string aDate = platform::FileDateText(run.dir.File("a.bin"), "?");
        EXPECT_EQ(run.MaskedLog(),
                  LogLines(Join({LogHeader, Entry("a.bin", 200000, Sum16(Pattern(200000)),
                                                  "; " + aDate, "")})));

        run.Write("loader.sld", "_LF c.bin\n_LD\n");
        const BatchResult next = run.RunBatch();
        EXPECT_EQ(next.status, 0) << next.err;
        uploads = run.Uploads(2);
        ASSERT_EQ(uploads.size(), 2u);
        EXPECT_EQ(uploads[1].end, "complete");
    }
}

// "loader --batch | head -1": the reader has gone, the progress lines go nowhere, and the run
// goes on to its end with the exit status of the upload.
TEST(BatchRunTest, ClosedStandardOutputStopsTheProgressNotTheRun)
{
    RunFolder run;
    const std::string a = Pattern(30000);
    run.Write("a.bin", a);
    run.Write("loader.sld", "_LF a.bin\n_LD\n_LF a.bin\n_LD\n");
    const BatchResult result = RunFolder::Finish(*run.StartBatch({}, /*closedOutput=*/true));

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto uploads = run.Uploads(2);
    ASSERT_EQ(uploads.size(), 2u);
    for (const auto &upload : uploads) {
        EXPECT_EQ(upload.end, "complete");
        EXPECT_EQ(upload.receivedChecksum, Sum16(a));
    }
}

TEST(BatchRunTest, ExitStatusSaysHowTheRunWent)
{
    using namespace std::string_literals;
    struct Case {
        const char *what;
        std::string script; // loader.sld; empty string: an empty script
        bool portOpen;
        std::vector<std::string> args;
        int status;
        std::string err;            // a box expected on standard error
        std::string log;            // expected loader.log, masked; empty: not checked
        const char *fifo = nullptr; // a FIFO made in the folder under this name
        std::string ini;            // loader.ini's bytes; empty: the folder's own
    };
    const std::string iniBox = "Error: Settings file error - ";
    const std::string headerOnly = LogLines(LogHeader);
    const Case cases[] = {
        {"empty script", "", true, {}, 0, "", headerOnly},
        {"comments only", "nothing to do\r\n\r\n", true, {}, 0, "", headerOnly},
        {"message box only",
         "_DM \"hello^Mthere\"\n",
         true,
         {},
         0,
         "Information: hello\nthere\n",
         headerOnly},
        {"file that cannot be read",
         "_LF /proc/self/mem\n_LD\n",
         true,
         {},
         1,
         "Error: Insufficient Memory Resources - Script Terminated !\n",
         headerOnly},
        {"script missing", "", true, {"--script", "missing.sld"}, 2, "Error: Script file \"", ""},
        // It may not hold the run up waiting for a writer.
        {"script that is a FIFO",
         "",
         true,
         {"--script", "pipe.sld"},
         2,
         "/pipe.sld\" not found !\n/",
         "",
         "pipe.sld"},
        // A script read only in part, or with characters it cannot hold, is not run at all.
        {"UTF-16 script beyond 8 bits",
         "\xFF\xFE_\0D\0M\0 \0\"\0\xAC\x20\"\0"s,
         true,
         {},
         2,
         "Error: Script file error - UTF-16 character U+20AC in line 1 has no 8-bit form!\n"
         "File Name: loader.sld\nThe script was not run.\n",
         ""},
        {"script cut short by a zero byte",
         "_DM \"first\"\r\n\0_LF c.bin\r\n_LD\r\n"s,
         true,
         {},
         2,
         "Error: Script file error - zero byte in line 2 cuts the text short!\n",
         ""},
        // Nothing is opened or run on defaults in its place, and the run ends at once.
        {"loader.ini that is a FIFO",
         "",
         true,
         {},
         2,
         iniBox + "not a regular file!\nFile Name: ",
         "",
         "loader.ini"},
        {"loader.ini in UTF-16 beyond 8 bits",
         "",
         true,
         {},
         2,
         iniBox + "UTF-16 character U+0100 in line 1 has no 8-bit form!\n",
         "",
         nullptr,
         "\xFF\xFE[\0\x00\x01"s},
        {"port not open", "", false, {}, 2, "Error: Error Opening Selected Comm Port !\n", ""},
        {"bad answer policy",
         "",
         true,
         {"--answer", "maybe"},
         2,
         "--answer takes abort or ignore",
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunFolder run;
        run.Write("loader.sld", c.script);
        if (!c.portOpen)
            run.WriteIni("", run.dir.File("no-such-device"));
        if (c.fifo) {
            std::filesystem::remove(run.dir.File(c.fifo));
            ASSERT_EQ(::mkfifo(run.dir.File(c.fifo).c_str(), 0600), 0);
        }
        if (!c.ini.empty())
            run.Write("loader.ini", c.ini);

        const BatchResult result = run.RunBatch(c.args);

        EXPECT_EQ(result.status, c.status) << result.err;
        if (!c.err.empty()) {
            EXPECT_TRUE(Contains(result.err, c.err)) << result.err;
        }
        if (c.status == 0) {
            EXPECT_TRUE(Contains(result.out, "Run ended normally.\n")) << result.out;
        }
        if (!c.log.empty()) {
            EXPECT_EQ(run.MaskedLog(), c.log);
        }
        EXPECT_TRUE(run.Uploads(0).empty());
    }
}

// What a Windows editor saves as "Unicode", or as UTF-8 with a mark, is read as written: the
// script's first line and loader.ini's first section count, and loader.ini keeps its form.
TEST(BatchRunTest, FilesSavedWithAByteOrderMarkRunAsWritten)
{
    for (TextForm form : {TextForm::Utf8Mark, TextForm::Utf16LE, TextForm::Utf16BE}) {
        SCOPED_TRACE(static_cast<int>(form));
        RunFolder run({"--mode", "UL"}, "Default Script=boot.sld");
        run.Write("loader.ini", EncodeText(run.dir.Read("loader.ini"), form));
        run.Write("boot.sld", EncodeText("_LF c.bin\r\n_LD\r\n", form));
        run.Write("c.bin", "abc");
        run.Write("loader.sld", "_LF wrong.bin\r\n_LD\r\n");
        run.Write("wrong.bin", "the wrong file");

        const BatchResult result = run.RunBatch();

        EXPECT_EQ(result.status, 0) << result.err;
        const auto uploads = run.Uploads(1);
        ASSERT_EQ(uploads.size(), 1u);
        EXPECT_EQ(uploads[0].length, "3");
        EXPECT_EQ(platform::DecodeText(run.dir.Read("loader.ini")).form, form);
    }
}

TEST(BatchRunTest, ScriptOnTheCommandLineIsTakenFromTheStartFolder)
{
    RunFolder run({"--mode", "UL"}, "Default Path=work");
    std::filesystem::create_directories(run.dir.File("work"));
    std::filesystem::create_directories(run.dir.File("scripts/deep"));
    std::filesystem::create_directory_symlink("scripts/deep", run.dir.File("lnk"));
    run.Write("work/c.bin", "abc");
    run.Write("scripts/one.sld", "_LF c.bin\n_LD\n");

    // "lnk/.." is the parent of the link's target to the system, and so in the name shown.
    const BatchResult result = run.RunBatch({"--script=./lnk/../one.sld"});

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(run.Uploads(1).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(run.dir.File("work/loader.log")));
    const std::string folder = std::filesystem::canonical(run.dir.Path()).string();
    EXPECT_TRUE(Contains(result.out, "Script " + folder + "/scripts/one.sld\n")) << result.out;
}

// Standard error is the operator's message channel: the boxes, and after a box the line that
// says what the system found, nothing else (no toolkit chatter).
TEST(BatchRunTest, StandardErrorHoldsTheBoxesAndTheirReasons)
{
    struct Case {
        const char *what;
        std::function<void(RunFolder &)> setup;
        std::string err; // "<dir>" stands for the start folder
        bool whole;      // the whole of standard error; else its beginning
        std::optional<int> status = std::nullopt;
        bool unprivileged = false; // root writes regardless of permissions: skipped as root
    };
    const std::string portBox = "Error: Error Opening Selected Comm Port !\n";
    const auto script = [](const std::string &text) {
        return [text](RunFolder &run) {
            run.Write("c.bin", "abc");
            run.Write("loader.sld", text);
        };
    };
    const Case cases[] = {
        {"a message box", [](RunFolder &) {}, "Information: hello\n", true},
        {"no such device", [](RunFolder &run) { run.WriteIni("", run.dir.File("ttyUSB9")); },
         portBox + "<dir>/ttyUSB9: No such file or directory\n", true},
        {"port without a device",
         [](RunFolder &run) { run.Write("loader.ini", "[RS232Settings]\nComm Port=COM20\n"); },
         portBox + "COM20: no device for this port (add COM20=/dev/... to section [Devices] of "
                   "loader.ini)\n",
         true},
        // Told before the run, which goes on with the values used.
        {"invalid serial settings",
         [](RunFolder &run) {
             run.Write("loader.ini", "[Upload Settings]\nDelay=0\n[RS232Settings]\nComm Port=COM1\n"
                                     "Baud Rate=115200\nData Bits=9\nParity=7\n[Devices]\nCOM1=" +
                                         run.Link() + "\n");
         },
         "Warning: Invalid serial settings in section \"RS232Settings\" of loader.ini were "
         "replaced:\n\"Data Bits\" is \"9\"; 8 is used instead.\n\"Parity\" is \"7\"; 0 is used "
         "instead.\nInformation: hello\n",
         true},
        // What follows depends on the machine's first serial port.
        {"no loader.ini",
         [](RunFolder &run) { std::filesystem::remove(run.dir.File("loader.ini")); },
         "no loader.ini in <dir>: using defaults and creating it\n", false},
        // The log fails loudly; the run still goes on.
        {"loader.log on a full disk",
         [](RunFolder &run) {
             std::filesystem::create_symlink("/dev/full", run.dir.File("loader.log"));
         },
         "Error: Unable to write to <dir>/loader.log\nNo space left on device\n"
         "The log of this run is incomplete.\nInformation: hello\n",
         true, 1},
        {"loader.log in a folder that cannot be written",
         [](RunFolder &run) {
             run.WriteIni("Default Path=work", run.Link());
             std::filesystem::create_directory(run.dir.File("work"));
             run.Write("work/loader.sld", "_DM \"hello\"\n");
             run.Write("work/loader.log", "earlier run");
             std::filesystem::permissions(run.dir.File("work/loader.log"),
                                          std::filesystem::perms::owner_read);
             std::filesystem::permissions(run.dir.File("work"),
                                          std::filesystem::perms::owner_read |
                                              std::filesystem::perms::owner_exec);
         },
         "Error: Unable to write to <dir>/work/loader.log\nPermission denied\n"
         "The file there is the log of an earlier run.\nInformation: hello\n",
         true, 1, true},
        // At a file's lines, past a file size limit; the body still goes out whole.
        {"loader.log at the file size limit",
         [](RunFolder &run) {
             // A long name makes the file's lines outgrow a limit that loader.ini and the header
             // stay well within.
             const std::string name(240, 'c');
             run.Write("loader.ini", "[Devices]\nCOM1=" + run.Link() + "\n");
             run.Write(name, "abc");
             run.Write("loader.sld", "_LF " + name + "\n_LD\n");
             const rlimit limit{400, RLIM_INFINITY};
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         "Error: Unable to write to <dir>/loader.log\nFile too large\n"
         "The log of this run is incomplete.\n",
         true, 1},
        // The reason follows the box, as for every file that could not be read.
        {"flash file over 2 GiB",
         [](RunFolder &run) {
             run.Write("loader.sld", "_LF big.bin\n_LD\n");
             run.Write("big.bin", "");
             std::filesystem::resize_file(run.dir.File("big.bin"), 1ull << 31);
         },
         "Error: Insufficient Memory Resources - Script Terminated !\nFile Name: big.bin\n"
         "big.bin: longer than 2147483647 bytes\n",
         true, 1},
        {"blank default script",
         [](RunFolder &run) { run.WriteIni("Default Script=", run.Link()); },
         "Error: Script file \"\" not found !\n\"\": ", false, 2},
        {"no flash file named", script("_LD\n"),
         "Error: Script file error - File not found!\nFile Name: \nLine Number: 1\n"
         "No flash file was named: no _LF line comes before this _LD.\nError: Script error",
         false, 1},
        {"flash file name with a blank at its end", script("_LF c.bin \n_LD\n"),
         "Error: Script file error - File not found!\nFile Name: c.bin \nLine Number: 2\n"
         "The name in quotes: \"c.bin \"\n\"c.bin \": No such file or directory\nError: Script "
         "error",
         false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.unprivileged && ::geteuid() == 0)
            continue;
        RunFolder run;
        run.Write("loader.sld", "_DM \"hello\"\n");
        rlimit sizeLimit{};
        ::getrlimit(RLIMIT_FSIZE, &sizeLimit);
        c.setup(run);
        std::string expected = c.err;
        if (const std::size_t at = expected.find("<dir>"); at != std::string::npos)
            expected.replace(at, 5, std::filesystem::canonical(run.dir.Path()).string());

        const BatchResult result = run.RunBatch();
        ::setrlimit(RLIMIT_FSIZE, &sizeLimit);

        EXPECT_EQ(c.whole ? result.err : result.err.substr(0, expected.size()), expected);
        EXPECT_TRUE(std::filesystem::exists(run.dir.File("loader.ini")));
        if (c.status) {
            EXPECT_EQ(result.status, *c.status);
        }
        if (std::filesystem::exists(run.dir.File("work/loader.log"))) {
            EXPECT_EQ(run.dir.Read("work/loader.log"), "earlier run");
            std::filesystem::permissions(run.dir.File("work"), std::filesystem::perms::owner_all);
        }
    }
}

} // namespace
