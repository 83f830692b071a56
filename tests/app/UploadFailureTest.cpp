// The device's upload error text at every stage of a file, from its body to its second check,
// with the real main window and settings over a simulated line whose far end plays the device.
// Whenever the text comes, the file must fail with the upload error and the run end there.

#include "app/FrmLoadr.h"
#include "link/FrmS_comm.h"
#include "serial/SimulatedDevice.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

// Refusal: the device reads the whole body, then sends its error reply slowly, split in two.
enum class Stage { Body, AfterDrain, PostDelay, FirstCheck, SecondCheck, Refusal };
constexpr long FileLength = 1000;

// How a refusal is split: the first `split` bytes of "ERR\r\n>", a pause, then the rest.
struct Split {
    std::size_t split = 0;
    int pauseMs = 0;
};

// Plays the device: takes in each header and a body of FileLength bytes, and answers a lone
// carriage return with the upload prompt; at its stage it sends the upload error text.
class FarEnd
{
  public:
    FarEnd(serial::TSimulatedDevice &line, Stage stage, Split refusal = {})
        : line_(line), stage_(stage), refusal_(refusal)
    {
        thread_ = std::thread([this] { Serve(); });
    }
    ~FarEnd()
    {
        stop_ = true;
        thread_.join();
    }
    FarEnd(const FarEnd &) = delete;
    FarEnd &operator=(const FarEnd &) = delete;

    std::atomic<int> headers{0};

  private:
    void Serve()
    {
        std::string command;
        long body = 0;
        int checks = 0;
        while (!stop_) {
            if (!line_.WaitForSent(1, std::chrono::milliseconds(20)))
                continue;
            for (char c : line_.TakeSent()) {
                if (body > 0) {
                    --body;
                    if ((stage_ == Stage::Body && body == FileLength / 2) ||
                        (stage_ == Stage::AfterDrain && body == 0))
                        line_.Write("ERR\r\n");
                    if (stage_ == Stage::Refusal && body == 0)
                        Refuse();
                } else if (c != '\r') {
                    command += c;
                } else {
                    const bool header = command.rfind("LF ", 0) == 0;
                    headers += header;
                    body = header ? FileLength : 0;
                    checks = header ? 0 : checks + 1;
                    if (!header)
                        Answer(checks);
                    command.clear();
                }
            }
        }
    }

    void Answer(int check)
    {
        const bool error = (stage_ == Stage::FirstCheck && check == 1) ||
                           (stage_ == Stage::SecondCheck && check == 2);
        if (stage_ != Stage::SecondCheck || check != 1) // else busy: the first check goes unheard
            line_.Write(error ? "ERR\r\n>" : ">");
    }

    void Refuse()
    {
        const std::string reply = "ERR\r\n>";
        line_.Write(reply.substr(0, refusal_.split));
        std::this_thread::sleep_for(std::chrono::milliseconds(refusal_.pauseMs));
        line_.Write(reply.substr(refusal_.split));
    }

    serial::TSimulatedDevice &line_;
    Stage stage_;
    Split refusal_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct StageCase {
    const char *name;
    Stage stage;
    const char *postDelay;
};

// The real main window and settings over a simulated line, paced at 38400 baud.
class EngineOnSimulatedLine : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir.Enter();
        serial::InstallSimulatedDeviceLayer();
        line.SetPace(38400);
        dir.Write("loader.ini", "[RS232Settings]\nComm Port=COM1\n[Upload Settings]\nDelay=0\n");
        window = std::make_unique<loader::TFrmLoadr>();
        loader::FrmS_comm = new loader::TFrmS_comm(
            window->IniFileName, window.get(), window.get(), [](serial::TApdComPort &port) {
                port.SetDeviceLayer(serial::dlOther);
                port.CustomDeviceLayer = serial::InstallSimulatedDeviceLayer;
            });
        ASSERT_TRUE(loader::FrmS_comm->SCommOpen());
    }
    void TearDown() override { window.reset(); }

    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    serial::TSimulatedDevice line{"COM1"};
    std::unique_ptr<loader::TFrmLoadr> window;

    // The boxes shown, as "caption: text".
    std::vector<std::string> Shown() const
    {
        std::vector<std::string> shown;
        for (const auto &box : boxes.Shown())
            shown.push_back(box.caption + ": " + box.text);
        return shown;
    }
};

class UploadErrorText : public EngineOnSimulatedLine,
                        public ::testing::WithParamInterface<StageCase>
{
};

} // namespace

TEST_P(UploadErrorText, FailsTheFileWithTheUploadErrorAndEndsTheRun)
{
    const StageCase &c = GetParam();
    dir.Write("a.bin", std::string(FileLength, 'a'));
    dir.Write("b.bin", "bb");
    dir.Write("loader.sld",
              std::string("_LP ") + c.postDelay + "\n_LF a.bin\n_LA 1\n_LD\n_LF b.bin\n_LD\n");
    FarEnd device(line, c.stage);
    // During the pause after the drain the GUI thread sleeps past the port's delivery limit.
    bool injected = false;
    window->Engine->OnUploadCaption = [&](const std::string &caption) {
        if (c.stage == Stage::PostDelay && caption == "Verifying Upload" && !injected) {
            line.Write("ERR\r\n");
            injected = true;
        }
    };

    window->BtnUploadClick();
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return !window->Running(); }, 60000));

    EXPECT_EQ(Shown(), std::vector<std::string>{"Error: Upload error encountered, script aborted! "
                                                "Reset remote system.\rFile: a.bin"});
    EXPECT_EQ(window->ComLamp(), loader::LampRed());
    EXPECT_EQ(device.headers, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, UploadErrorText,
    ::testing::Values(StageCase{"DuringTheBody", Stage::Body, "0"},
                      StageCase{"JustAfterTheDrain", Stage::AfterDrain, "0"},
                      StageCase{"DuringALongPostDelay", Stage::PostDelay, "2"},
                      StageCase{"DuringTheFirstCheck", Stage::FirstCheck, "0"},
                      StageCase{"DuringTheSecondCheck", Stage::SecondCheck, "0"}),
    [](const ::testing::TestParamInfo<StageCase> &param) { return param.param.name; });

namespace
{

struct SplitCase {
    Split refusal;
    const char *postDelay; // the script's _LP, or none
};

class SlowUploadError : public EngineOnSimulatedLine,
                        public ::testing::WithParamInterface<SplitCase>
{
};

std::vector<SplitCase> SplitCases()
{
    std::vector<SplitCase> cases;
    for (const char *postDelay : {"", "1"})
        for (int pauseMs : {0, 300, 1000})
            for (std::size_t split = 1; split < 6; ++split)
                cases.push_back({{split, pauseMs}, postDelay});
    return cases;
}

} // namespace

// However the refusal is split and paced, from the header to the end of the verification it
// fails the file; the next file is never sent.
TEST_P(SlowUploadError, FailsTheFileHoweverTheReplyIsSplit)
{
    const SplitCase &c = GetParam();
    dir.Write("a.bin", std::string(FileLength, 'a'));
    dir.Write("b.bin", "bb");
    // A handshake first, as scripts do: its prompt is the last thing seen before the header.
    dir.Write("loader.sld", std::string("_TC \"^M\"\n") + (*c.postDelay ? "_LP " : "") +
                                c.postDelay + "\n_LF a.bin\n_LD\n_LF b.bin\n_LD\n");
    FarEnd device(line, Stage::Refusal, c.refusal);

    window->BtnUploadClick();
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return !window->Running(); }, 60000));

    EXPECT_EQ(Shown(), std::vector<std::string>{"Error: Upload error encountered, script aborted! "
                                                "Reset remote system.\rFile: a.bin"});
    EXPECT_EQ(device.headers, 1);
}

INSTANTIATE_TEST_SUITE_P(Engine, SlowUploadError, ::testing::ValuesIn(SplitCases()),
                         [](const ::testing::TestParamInfo<SplitCase> &param) {
                             const SplitCase &c = param.param;
                             return "Split" + std::to_string(c.refusal.split) + "Pause" +
                                    std::to_string(c.refusal.pauseMs) + "ms" +
                                    (*c.postDelay ? "WithPostDelay" : "");
                         });
