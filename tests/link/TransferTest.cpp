// The link services that move data: sending with room to spare, the paced buffer upload with
// its gauge, the device's error text during and outside an upload, and the trigger switching.

#include "tests/link/LinkFixture.h"

#include <QTimer>

#include <numeric>
#include <thread>

using linktest::LinkTest;
using linktest::Settle;
using linktest::TriggersOf;
using linktest::TTriggerCount;
using linktest::WaitUntil;

namespace
{

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::string Text(const std::vector<uint8_t> &bytes, size_t from = 0, size_t count = SIZE_MAX)
{
    from = std::min(from, bytes.size());
    count = std::min(count, bytes.size() - from);
    return std::string(bytes.begin() + static_cast<long>(from),
                       bytes.begin() + static_cast<long>(from + count));
}

bool Contains(const std::vector<std::string> &calls, const std::string &call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// The port's line-error word holds the error (the dispatch thread has taken it in).
bool PendingError(serial::TApdCustomComPort &port, uint32_t error)
{
    serial::TPortView view{};
    return serial::InspectPort(port.PortSlot(), view) == 0 && (view.LineErrors & error) != 0;
}

// A dialog on COM1 with the given block size, in upload mode unless told otherwise.
class Transfer : public LinkTest
{
  protected:
    loader::TFrmS_comm &Start(const std::string &blockSize, bool uploadMode = true)
    {
        AddPort(1);
        WriteIni("[RS232Settings]\nComm Port=COM1\n[Upload Settings]\nBlock Size=" + blockSize +
                 "\n");
        loader::TFrmS_comm &form = Create();
        form.SetUploadMode(uploadMode);
        calls.calls.clear();
        return form;
    }

    // Waits until everything the port sent has reached the device.
    std::string Received(size_t count)
    {
        EXPECT_TRUE(Port(1).WaitForSent(count, std::chrono::seconds(10)));
        Settle(100);
        return Port(1).TakeSent();
    }
};

struct PumpCase {
    const char *name;
    const char *blockSize;
    size_t length;
    std::vector<int32_t> remaining; // bytes not yet queued after each block
    std::vector<int> gauge;
};

class Pump : public Transfer, public ::testing::WithParamInterface<PumpCase>
{
};

} // namespace

TEST_P(Pump, QueuesOneBlockPerFreeEventAndMovesTheGauge)
{
    const PumpCase &c = GetParam();
    loader::TFrmS_comm &form = Start(c.blockSize);
    std::vector<int32_t> remaining;
    calls.onProgress = [&](int) { remaining.push_back(form.Link.UploadRemaining); };

    const std::vector<uint8_t> buffer = Pattern(c.length);
    form.SendBuffer(buffer.data(), static_cast<int32_t>(buffer.size()));
    EXPECT_EQ(ComPort().Tag(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Contains(calls.calls, "Timer"); }));

    EXPECT_EQ(remaining, c.remaining);
    EXPECT_EQ(calls.progress, c.gauge);
    EXPECT_EQ(calls.calls, std::vector<std::string>{"Timer"});
    EXPECT_EQ(ComPort().Tag(), 0);
    EXPECT_EQ(Received(buffer.size()), Text(buffer));
}

// Block sizes that could never progress (0, or more than the 4096-byte output buffer) are
// brought to 1 and to the buffer's size.
INSTANTIATE_TEST_SUITE_P(
    Link, Pump,
    ::testing::Values(PumpCase{"ThreeBlocks", "50", 120, {70, 20, 0}, {42, 83, 100}},
                      PumpCase{"ExactlyOneBlock", "50", 50, {0}, {100}},
                      PumpCase{"HalfRoundsToEven",
                               "1",
                               8,
                               {7, 6, 5, 4, 3, 2, 1, 0},
                               {12, 25, 38, 50, 62, 75, 88, 100}},
                      PumpCase{"BlockSizeZero", "0", 3, {2, 1, 0}, {33, 67, 100}},
                      PumpCase{"BlockBeyondBuffer", "60000", 5000, {904, 0}, {82, 100}},
                      PumpCase{"WholeBuffer", "4096", 4100, {4, 0}, {100, 100}},
                      PumpCase{"EmptyBuffer", "50", 0, {0}, {100}}),
    linktest::ByName());

TEST_F(Transfer, BlocksWaitInTheOutputBufferWhileTheDeviceHoldsCts)
{
    loader::TFrmS_comm &form = Start("50");
    Port(1).SetCTS(false);
    linktest::TFigures queued;
    calls.onProgress = [&](int) { queued.Add(ComPort().OutputCount()); };

    const std::vector<uint8_t> buffer = Pattern(120);
    form.SendBuffer(buffer.data(), 120);
    ASSERT_TRUE(WaitUntil([&] { return queued.size() == 3; }));
    Settle();
    EXPECT_EQ(queued, (std::vector<int>{50, 100, 120}));
    EXPECT_TRUE(calls.calls.empty()); // nothing drained yet

    Port(1).SetCTS(true);
    ASSERT_TRUE(WaitUntil([&] { return Contains(calls.calls, "Timer"); }));
    EXPECT_EQ(Received(120), Text(buffer));
}

TEST_F(Transfer, DrainedUploadOutsideUploadModeDoesNotStartTheTimer)
{
    loader::TFrmS_comm &form = Start("50", false);
    const std::vector<uint8_t> buffer = Pattern(60);
    form.SendBuffer(buffer.data(), 60);
    ASSERT_TRUE(WaitUntil([&] { return ComPort().Tag() == 0; }));
    Settle();
    EXPECT_TRUE(calls.calls.empty());
    EXPECT_EQ(calls.progress, (std::vector<int>{83, 100}));
}

TEST_F(Transfer, StopRequestEndsTheUploadAfterTheBlockBeingQueued)
{
    loader::TFrmS_comm &form = Start("50");
    const std::vector<uint8_t> buffer = Pattern(1000);
    form.Link.StopTransfer = true;
    form.SendBuffer(buffer.data(), 1000);
    ASSERT_TRUE(WaitUntil([&] { return Contains(calls.calls, "Timer"); }));
    EXPECT_FALSE(form.Link.StopTransfer);
    EXPECT_EQ(calls.progress, std::vector<int>{100});
    EXPECT_EQ(Received(50), Text(buffer, 0, 50));
}

struct UploadErrorCase {
    const char *name;
    size_t length;
    size_t blocksBeforeError; // blocks that fit the held output buffer
    size_t blocksAfterError;
    size_t wireFrom, wireCount; // what reaches the device once CTS rises
    int errorTexts;             // how often the device sends its error text
};

class UploadError : public Transfer, public ::testing::WithParamInterface<UploadErrorCase>
{
};

TEST_P(UploadError, DiscardsQueuedOutputAndReportsOnceDrained)
{
    const UploadErrorCase &c = GetParam();
    loader::TFrmS_comm &form = Start("50");
    Port(1).SetCTS(false);
    const std::vector<uint8_t> buffer = Pattern(c.length);
    form.SendBuffer(buffer.data(), static_cast<int32_t>(buffer.size()));
    ASSERT_TRUE(WaitUntil([&] { return calls.progress.size() == c.blocksBeforeError; }));
    Settle();
    ASSERT_EQ(calls.progress.size(), c.blocksBeforeError);

    // Each reply ends with the prompt, whose handler shows that the reply was seen.
    for (int i = 0; i < c.errorTexts; ++i) {
        form.Link.ReceivedText = "stale";
        Port(1).Write("err\r\n>");
        ASSERT_TRUE(WaitUntil([&] { return form.Link.ReceivedText.empty(); }));
        EXPECT_EQ(ComPort().Tag(), 2);
    }
    Settle();
    EXPECT_EQ(calls.progress.size(), c.blocksBeforeError + c.blocksAfterError);

    Port(1).SetCTS(true);
    ASSERT_TRUE(WaitUntil([&] { return Contains(calls.calls, "ULError"); }));
    EXPECT_EQ(Received(c.wireCount), Text(buffer, c.wireFrom, c.wireCount));
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ULError"});
    EXPECT_EQ(ComPort().Tag(), 0);
}

// With blocks left, the emptied buffer takes one more block before the upload ends; with the
// last block queued, nothing more goes out.
INSTANTIATE_TEST_SUITE_P(Link, UploadError,
                         ::testing::Values(UploadErrorCase{"BlocksLeft", 10000, 81, 1, 4050, 50, 1},
                                           UploadErrorCase{"LastBlockQueued", 120, 3, 0, 0, 0, 1},
                                           UploadErrorCase{"ErrorRepeated", 10000, 81, 1, 4050, 50,
                                                           2}),
                         linktest::ByName());

struct ReplyCase {
    const char *name;
    bool uploadMode;
    const char *text; // ends with the prompt of the mode, which clears the input
    std::vector<std::string> calls;
};

class DeviceReply : public Transfer, public ::testing::WithParamInterface<ReplyCase>
{
};

TEST_P(DeviceReply, OutsideAnUploadReachesTheLoaderOnlyInUploadMode)
{
    const ReplyCase &c = GetParam();
    loader::TFrmS_comm &form = Start("50", c.uploadMode);
    form.Link.ReceivedText = "stale";
    Port(1).Write(c.text);
    ASSERT_TRUE(WaitUntil([&] { return form.Link.ReceivedText.empty(); }));
    EXPECT_TRUE(WaitUntil([&] { return ComPort().InputCount() == 0; }));
    Settle();
    EXPECT_EQ(calls.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Link, DeviceReply,
    ::testing::Values(ReplyCase{"NormalError", false, "bad?\r\n#", {}},
                      ReplyCase{"UploadError", true, "ERR\r\n>", {"ScriptError"}},
                      ReplyCase{"UploadErrorOtherCase", true, "Err\r\n>", {"ScriptError"}},
                      ReplyCase{"NormalTextsInUploadMode", true, "?\r\n#>", {}},
                      ReplyCase{"UploadTextsInNormalMode", false, "ERR\r\n>#", {}}),
    linktest::ByName());

struct BlockCase {
    const char *name;
    size_t prefill;
    uint32_t length;
    bool sent;
};

class SendBlock : public Transfer, public ::testing::WithParamInterface<BlockCase>
{
};

TEST_P(SendBlock, SendsOnlyWhatIsSmallerThanTheRoom)
{
    const BlockCase &c = GetParam();
    loader::TFrmS_comm &form = Start("50");
    Port(1).SetCTS(false);
    const std::vector<uint8_t> bytes = Pattern(c.prefill + c.length);
    if (c.prefill > 0)
        ComPort().SendBytes(bytes.data(), static_cast<uint16_t>(c.prefill));
    EXPECT_EQ(form.SendBlock(bytes.data() + c.prefill, c.length), c.sent);
    EXPECT_EQ(ComPort().OutputCount(), c.prefill + (c.sent ? c.length : 0));
}

INSTANTIATE_TEST_SUITE_P(Link, SendBlock,
                         ::testing::Values(BlockCase{"EqualToRoom", 0, 4096, false},
                                           BlockCase{"OneBelowRoom", 0, 4095, true},
                                           BlockCase{"EqualToSmallRoom", 4000, 96, false},
                                           BlockCase{"BelowSmallRoom", 4000, 95, true},
                                           BlockCase{"Beyond16Bits", 0, 70000, false}),
                         linktest::ByName());

struct StringCase {
    const char *name;
    size_t length;
    bool waits; // with 35 bytes free, a string needs its length plus 10
};

class SendString : public Transfer, public ::testing::WithParamInterface<StringCase>
{
};

TEST_P(SendString, WaitsForRoomWhileTheGuiRuns)
{
    const StringCase &c = GetParam();
    loader::TFrmS_comm &form = Start("50");
    Port(1).SetCTS(false);
    const std::vector<uint8_t> prefill = Pattern(4096 - 35);
    ComPort().SendBytes(prefill.data(), static_cast<uint16_t>(prefill.size()));
    ASSERT_EQ(ComPort().OutputRoom(), 35);

    bool returned = false;
    bool ranInside = false;
    int queuedInside = -1;
    QTimer::singleShot(0, [&] {
        ranInside = !returned;
        queuedInside = ComPort().OutputCount();
        Port(1).SetCTS(true);
    });
    const std::string text(c.length, 'S');
    form.SendDataString(text);
    returned = true;

    EXPECT_EQ(ranInside, c.waits);
    if (c.waits) {
        EXPECT_EQ(queuedInside, static_cast<int>(prefill.size()));
    }
    ASSERT_TRUE(WaitUntil([&] { return queuedInside >= 0; }));
    EXPECT_EQ(Received(prefill.size() + text.size()), Text(prefill) + text);
}

INSTANTIATE_TEST_SUITE_P(Link, SendString,
                         ::testing::Values(StringCase{"NeedsForty", 30, true},
                                           StringCase{"NeedsThirtyFive", 25, false}),
                         linktest::ByName());

TEST_F(Transfer, SendDataByteWaitsForTenBytesOfRoom)
{
    loader::TFrmS_comm &form = Start("50");
    Port(1).SetCTS(false);
    const std::vector<uint8_t> prefill = Pattern(4096 - 5);
    ComPort().SendBytes(prefill.data(), static_cast<uint16_t>(prefill.size()));
    const int slot = ComPort().PortSlot();

    int queuedWhileWaiting = -1;
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        queuedWhileWaiting = serial::OutputCount(slot);
        Port(1).SetCTS(true);
    });
    form.SendDataByte('Z');
    device.join();

    EXPECT_EQ(queuedWhileWaiting, static_cast<int>(prefill.size()));
    EXPECT_EQ(Received(prefill.size() + 1), Text(prefill) + "Z");
}

TEST_F(Transfer, ReadingServicesReportShortInput)
{
    loader::TFrmS_comm &form = Start("50", false);
    Port(1).Write("abc");
    ASSERT_TRUE(WaitUntil([&] { return ComPort().InputCount() == 3; }));

    struct Peek {
        uint16_t index;
        char expected;
    };
    for (const Peek &p : {Peek{1, 'a'}, Peek{3, 'c'}, Peek{4, '\0'}})
        EXPECT_EQ(form.PreviewChar(p.index), p.expected) << p.index;

    char buffer[8] = {};
    EXPECT_FALSE(form.GetBuffer(buffer, 4));
    EXPECT_EQ(ComPort().InputCount(), 3); // nothing consumed by a short read
    EXPECT_TRUE(form.GetBuffer(buffer, 3));
    EXPECT_EQ(std::string(buffer), "abc");

    ComPort().SetOpen(false);
    EXPECT_FALSE(form.GetBuffer(buffer, 1));
    EXPECT_EQ(form.PreviewChar(1), '\0');
}

TEST_F(Transfer, FlushAllDiscardsBothDirections)
{
    loader::TFrmS_comm &form = Start("50", false);
    Port(1).SetCTS(false);
    ComPort().SendText("queued");
    Port(1).Write("abc");
    ASSERT_TRUE(WaitUntil([&] { return ComPort().InputCount() == 3; }));
    form.FlushInput();
    EXPECT_EQ(ComPort().InputCount(), 0);
    EXPECT_EQ(ComPort().OutputCount(), 6);
    Port(1).Write("abc");
    ASSERT_TRUE(WaitUntil([&] { return ComPort().InputCount() == 3; }));
    form.FlushAll();
    EXPECT_EQ(ComPort().InputCount(), 0);
    EXPECT_EQ(ComPort().OutputCount(), 0);
}

TEST_F(Transfer, ModeSwitchReplacesTheDataTriggers)
{
    loader::TFrmS_comm &form = Start("50", false);
    const TTriggerCount armed{2, 3, 0};
    // The prompt handler empties the reply buffer; a stale one shows when it ran.
    auto promptSeen = [&](const std::string &text) {
        form.Link.ReceivedText = "stale";
        Port(1).Write(text);
        return WaitUntil([&] { return form.Link.ReceivedText.empty(); });
    };

    form.SetUploadMode(true);
    EXPECT_EQ(TriggersOf(ComPort()), armed);
    EXPECT_EQ(form.Link.CurrentPrompt, ">");
    EXPECT_EQ(form.Link.CurrentError, "ERR");
    EXPECT_TRUE(promptSeen("#?x>"));
    EXPECT_EQ(ComPort().InputCount(), 0);
    EXPECT_TRUE(calls.calls.empty());

    form.DataTriggerEnabled(false);
    EXPECT_EQ(TriggersOf(ComPort()), (TTriggerCount{0, 3, 0}));
    Port(1).Write("ERR>");
    ASSERT_TRUE(WaitUntil([&] { return ComPort().InputCount() == 4; }));
    Settle();
    EXPECT_EQ(ComPort().InputCount(), 4);
    EXPECT_TRUE(calls.calls.empty());

    form.FlushInput();
    form.DataTriggerEnabled(true);
    EXPECT_EQ(TriggersOf(ComPort()), armed);
    // Armed already: asked again, the same pair stays (no slot is taken twice).
    const uint16_t prompt = form.Link.PromptTrigger, error = form.Link.ErrorTrigger;
    form.DataTriggerEnabled(true);
    EXPECT_EQ(TriggersOf(ComPort()), armed);
    EXPECT_EQ(std::make_pair(form.Link.PromptTrigger, form.Link.ErrorTrigger),
              std::make_pair(prompt, error));
    EXPECT_TRUE(promptSeen("ERR>"));
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ScriptError"});

    form.SetUploadMode(false);
    EXPECT_EQ(TriggersOf(ComPort()), armed);
    EXPECT_EQ(form.Link.CurrentPrompt, "#");
    EXPECT_EQ(form.Link.CurrentError, "?");
    EXPECT_TRUE(promptSeen("ERR>?#"));
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ScriptError"});
}

TEST_F(Transfer, ModeSwitchOnAClosedPortOnlyChangesTheTexts)
{
    loader::TFrmS_comm &form = Start("50", false);
    ComPort().SetOpen(false);
    EXPECT_FALSE(form.SCommOpen());
    form.SetUploadMode(true);
    EXPECT_TRUE(form.Link.UploadMode);
    EXPECT_EQ(form.Link.CurrentPrompt, ">");
    EXPECT_EQ(form.Link.CurrentError, "ERR");
}

namespace
{

struct LineFailureCase {
    const char *name;
    bool uploadMode;
    bool transfer;  // a buffer upload runs
    bool fileWatch; // a file lies between its header and the end of its verification
    uint16_t error;
    std::vector<std::string> calls;
    bool failed;
};

class LineFailure : public Transfer, public ::testing::WithParamInterface<LineFailureCase>
{
};

} // namespace

TEST_P(LineFailure, EndsWhatIsUnderWayAtOnceAndTheSettingsReopenThePort)
{
    const LineFailureCase &c = GetParam();
    loader::TFrmS_comm &form = Start("50", c.uploadMode);
    Port(1).SetPace(9600);
    auto buffer = std::make_unique<std::vector<uint8_t>>(Pattern(20000));
    if (c.fileWatch)
        form.BeginFileWatch();
    if (c.transfer) {
        form.SendBuffer(buffer->data(), static_cast<int32_t>(buffer->size()));
        ASSERT_TRUE(WaitUntil([&] { return !calls.progress.empty(); }));
    }
    int reports = 0;
    const auto handler = ComPort().OnTriggerLineError;
    ComPort().OnTriggerLineError = [&](serial::TApdCustomComPort &port, uint16_t error, bool brk) {
        ++reports;
        handler(port, error, brk);
    };
    // The device's end goes away for good, or the line shows a lesser error.
    const bool hangup = c.error == serial::ceIoError;
    if (hangup)
        Port(1).Hangup();
    else
        Port(1).RaiseLineError(c.error);
    // A lesser error does not reach the link; it waits for whoever watches it.
    ASSERT_TRUE(WaitUntil([&] { return hangup ? reports > 0 : PendingError(ComPort(), c.error); }));
    EXPECT_EQ(reports, hangup ? 1 : 0);
    EXPECT_EQ(calls.calls, c.calls);
    EXPECT_EQ(form.FileUploadFailed(), c.failed);

    // The buffer is the loader's again; no block may be taken from it any more.
    const std::size_t blocks = calls.progress.size();
    buffer.reset();
    Settle();
    EXPECT_EQ(calls.progress.size(), blocks);
    EXPECT_EQ(calls.calls, c.calls);

    // A handshake on a failed line ends at once, whatever is still in the input; on a sound one
    // the device's prompt, sent once the command is out, answers it.
    if (c.failed)
        Port(1).Write(form.Link.CurrentPrompt);
    else
        QTimer::singleShot(20, [&] { Port(1).Write(form.Link.CurrentPrompt); });
    std::string reply;
    form.SendInitCmd("\r", reply);
    EXPECT_EQ(reply, c.failed ? "ERROR" : "OK");

    form.EndFileWatch();
    // Once the device is back, Save reopens the port.
    if (hangup)
        Port(1).Reconnect();
    form.SaveRs232Ini();
    EXPECT_TRUE(ComPort().Open());
    EXPECT_FALSE(form.FileUploadFailed());
    EXPECT_EQ(TriggersOf(ComPort()), (TTriggerCount{2, 3, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Link, LineFailure,
    ::testing::Values(
        LineFailureCase{"DuringATransfer", true, true, true, serial::ceIoError, {"ULError"}, true},
        LineFailureCase{
            "WhileAFileIsChecked", true, false, true, serial::ceIoError, {"ULError"}, true},
        LineFailureCase{
            "BetweenFilesOfARun", true, false, false, serial::ceIoError, {"ULError"}, true},
        LineFailureCase{"OutsideARun", false, false, false, serial::ceIoError, {}, true},
        LineFailureCase{"ParityErrorOnAFile", true, false, true, serial::ceRxParity, {}, false}),
    linktest::ByName());

TEST_F(Transfer, OtherLineErrorsAreLeftPendingForOthers)
{
    Start("50");
    int seen = 0;
    const auto handler = ComPort().OnTriggerLineError;
    ComPort().OnTriggerLineError = [&](serial::TApdCustomComPort &port, uint16_t error, bool brk) {
        ++seen;
        handler(port, error, brk);
    };
    Port(1).RaiseLineError(serial::ceFrame);
    ASSERT_TRUE(WaitUntil([&] { return PendingError(ComPort(), serial::ceFrame); }));
    Settle();
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(ComPort().PendingLineError(), 4); // framing, still there to be taken
    EXPECT_TRUE(calls.calls.empty());
}

// A device unplugged while an engine step holds the port's deliveries (the upload delay): the
// held report cannot tell the link yet, but the file is failed before its body is sent.
TEST_F(Transfer, ALineThatFailsWhileDeliveriesAreHeldFailsTheFile)
{
    loader::TFrmS_comm &form = Start("50", true);
    form.BeginFileWatch();
    const serial::TDeliveryHold hold(ComPort());
    Port(1).Hangup();
    ASSERT_TRUE(WaitUntil([&] { return ComPort().LineFailed(); }));
    EXPECT_TRUE(form.FileUploadFailed());
}

// The prompt handler discards the input. When its delivery is late, the device's upload error
// may already wait in the driver behind the prompt: the discard must not take it before the
// error trigger has seen it, or the file would pass as uploaded.
TEST_F(Transfer, ErrorTextWaitingBehindALatePromptStillFailsTheFile)
{
    loader::TFrmS_comm &form = Start("50", true);
    form.BeginFileWatch();
    Port(1).Write(form.Link.CurrentPrompt);
    // Read by the dispatch thread, whose delivery now waits for this (busy) GUI thread.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Port(1).PendingInput() == 0; }));
    Port(1).Write(form.Link.CurrentError + "\r\n");
    EXPECT_TRUE(WaitUntil([&] { return form.FileUploadFailed(); }));
    form.EndFileWatch();
}
