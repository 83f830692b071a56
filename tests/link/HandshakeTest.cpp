// The command handshake: what goes on the wire, how the reply is classified, the hourglass,
// and the failures.

#include "tests/link/LinkFixture.h"

#include <QCursor>
#include <QGuiApplication>

#include <thread>

using linktest::LinkTest;

namespace
{

// Plays the device: once the command has arrived, answers with the reply (if any).
class TResponder
{
  public:
    TResponder(serial::TSimulatedDevice &device, size_t commandLength, std::string reply)
        : thread_([&device, commandLength, reply = std::move(reply)] {
              if (device.WaitForSent(commandLength, std::chrono::seconds(10)) && !reply.empty())
                  device.Write(reply);
          })
    {
    }
    ~TResponder() { thread_.join(); }
    TResponder(const TResponder &) = delete;
    TResponder &operator=(const TResponder &) = delete;

  private:
    std::thread thread_;
};

struct HandshakeCase {
    const char *name;
    const char *trigger; // lines of the "Trigger" section
    bool uploadMode;
    const char *reply;
    const char *expected;
};

class Handshake : public LinkTest, public ::testing::WithParamInterface<HandshakeCase>
{
};

} // namespace

TEST_P(Handshake, SendsTheCommandAndClassifiesTheReply)
{
    const HandshakeCase &c = GetParam();
    serial::TSimulatedDevice &device = AddPort(1);
    WriteIni(std::string("[RS232Settings]\nComm Port=COM1\n[Trigger]\n") + c.trigger);
    loader::TFrmS_comm &form = Create();
    form.SetUploadMode(c.uploadMode);

    // Every byte the wait consumes is seen under the hourglass.
    std::vector<int> cursorShapes;
    auto waitChar = ComPort().OnWaitChar;
    ComPort().OnWaitChar = [&](serial::TApdCustomComPort &cp, char ch) {
        const QCursor *cursor = QGuiApplication::overrideCursor();
        cursorShapes.push_back(cursor ? cursor->shape() : -1);
        waitChar(cp, ch);
    };

    const std::string command = "ver 1\r";
    std::string reply = "unset";
    {
        TResponder responder(device, command.size(), c.reply);
        form.SendInitCmd(command, reply);
    }
    EXPECT_EQ(reply, c.expected);
    EXPECT_EQ(device.TakeSent(), command);
    EXPECT_FALSE(cursorShapes.empty());
    EXPECT_EQ(cursorShapes, std::vector<int>(cursorShapes.size(), Qt::WaitCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(boxes.Shown().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Link, Handshake,
    ::testing::Values(HandshakeCase{"Ok", "", false, "OK\r\n#", "OK"},
                      HandshakeCase{"Value", "", false, "=1234\r\n#", "1234"},
                      HandshakeCase{"ErrorText", "", false, "bad?\r\n#", "ERROR"},
                      HandshakeCase{"ValueBeatsError", "", false, "?=5\r\n#", "5"},
                      HandshakeCase{"WaitEndsAtPrompt", "", false, "OK\r\n#?", "OK"},
                      HandshakeCase{"PromptInOtherCase", "Prompt=rdy\n", false, "RDY", "ERROR"},
                      HandshakeCase{"MarkerWithoutValue", "", false, "=\r\n#", ""},
                      HandshakeCase{"ReplyShorterThanLineEnd", "", false, "=#", ""},
                      HandshakeCase{"LongMarker", "Result=VAL:\n", false, "VAL:42\r\n#", "42"},
                      HandshakeCase{"LongPrompt", "Prompt=ok>\n", false, "=7\r\nok>", "7"},
                      HandshakeCase{"UploadTexts", "", true, "ERR\r\n>", "ERROR"},
                      HandshakeCase{"UploadErrorCaseCounts", "", true, "err\r\n>", "OK"},
                      HandshakeCase{"NormalPromptInUploadMode", "", true, "OK\r\n#>", "OK"}),
    linktest::ByName());

TEST_F(LinkTest, HandshakeWithoutAnswerGivesErrorAndRestoresTheCursor)
{
    serial::TSimulatedDevice &device = AddPort(1);
    loader::TFrmS_comm &form = Create();
    std::string reply;
    form.SendInitCmd("\r", reply);
    EXPECT_EQ(reply, "ERROR");
    EXPECT_EQ(device.TakeSent(), "\r");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(LinkTest, HandshakeOnClosedPortReportsAccessError)
{
    AddPort(1);
    loader::TFrmS_comm &form = Create();
    ComPort().SetOpen(false);
    std::string reply;
    form.SendInitCmd("ver\r", reply);
    EXPECT_EQ(reply, "ERROR");
    EXPECT_EQ(Shown(), std::vector<std::string>{"Error: Error Accessing Comm Port !"});
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(LinkTest, PromptTriggerAfterHandshakeDiscardsInputAndReply)
{
    serial::TSimulatedDevice &device = AddPort(1);
    loader::TFrmS_comm &form = Create();
    std::string reply;
    {
        TResponder responder(device, 4, "=9\r\n#tail");
        form.SendInitCmd("ver\r", reply);
    }
    ASSERT_EQ(reply, "9");
    EXPECT_EQ(form.Link.ReceivedText, "=9\r\n#");
    // The wait held the trigger scan; the next bytes that arrive let the dispatcher show the
    // whole reply to the triggers, and the prompt among it clears input and reply.
    device.Write("x");
    EXPECT_TRUE(linktest::WaitUntil([&] { return form.Link.ReceivedText.empty(); }));
    // The reply's rest is gone; the "x" may have reached the port only after the discard.
    EXPECT_LE(ComPort().InputCount(), 1);
}
