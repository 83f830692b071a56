#include "app/BatchBoxes.h"

#include <gtest/gtest.h>
#include <sstream>

using loader::BatchPolicy;
using platform::MsgButtons;
using platform::MsgResult;
using platform::MsgType;

TEST(BatchBoxes, RendersCaptionAndTextWithLineBreaks)
{
    struct Case {
        platform::MessageRequest request;
        const char *rendered;
    } cases[] = {
        {{MsgType::Error, "Error",
          "Upload error encountered, script aborted! Reset remote "
          "system.\rFile: app.bin",
          MsgButtons::Ok},
         "Error: Upload error encountered, script aborted! Reset remote system.\nFile: app.bin"},
        {{MsgType::Information, "Information", "a\r\nb\r\rc\n", MsgButtons::Ok},
         "Information: a\nb\n\nc\n"},
        {{MsgType::Warning, "Warning", "", MsgButtons::YesNo}, "Warning: "},
        {{MsgType::Confirm, "Confirm", "Exit now ?\r", MsgButtons::OkCancel},
         "Confirm: Exit now ?\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::RenderBatchMessage(c.request), c.rendered);
}

TEST(BatchBoxes, AnswersByPolicy)
{
    struct Case {
        MsgButtons buttons;
        MsgResult onAbort;
        MsgResult onIgnore;
    } cases[] = {
        {MsgButtons::Ok, MsgResult::Ok, MsgResult::Ok},
        {MsgButtons::AbortIgnore, MsgResult::Abort, MsgResult::Ignore},
        {MsgButtons::AbortRetryIgnore, MsgResult::Abort, MsgResult::Ignore},
        {MsgButtons::OkCancel, MsgResult::Cancel, MsgResult::Cancel},
        {MsgButtons::YesNo, MsgResult::No, MsgResult::No},
        {MsgButtons::YesNoCancel, MsgResult::Cancel, MsgResult::Cancel},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(loader::BatchAnswer(c.buttons, BatchPolicy::Abort), c.onAbort);
        EXPECT_EQ(loader::BatchAnswer(c.buttons, BatchPolicy::Ignore), c.onIgnore);
    }
}

TEST(BatchBoxes, ParsesThePolicy)
{
    EXPECT_EQ(loader::ParseBatchPolicy("abort"), BatchPolicy::Abort);
    EXPECT_EQ(loader::ParseBatchPolicy("IGNORE"), BatchPolicy::Ignore);
    EXPECT_EQ(loader::ParseBatchPolicy("Ignore"), BatchPolicy::Ignore);
    EXPECT_EQ(loader::ParseBatchPolicy(""), std::nullopt);
    EXPECT_EQ(loader::ParseBatchPolicy("retry"), std::nullopt);
    EXPECT_EQ(loader::ParseBatchPolicy("abort "), std::nullopt);
}

TEST(BatchBoxes, InstalledResponderWritesAndRecordsErrors)
{
    std::ostringstream out;
    loader::TBatchBoxes boxes(out, BatchPolicy::Ignore);
    auto previous = platform::SetMessageResponder(boxes.Responder());

    EXPECT_EQ(platform::ShowMessage(MsgType::Information, "Power on\rnow", MsgButtons::Ok),
              MsgResult::Ok);
    EXPECT_FALSE(boxes.ErrorShown());
    EXPECT_EQ(platform::ShowMessage(MsgType::Warning, "Cancel current upload?", MsgButtons::YesNo),
              MsgResult::No);
    EXPECT_FALSE(boxes.ErrorShown());
    EXPECT_EQ(platform::ShowMessage(MsgType::Error, "Script error\rLine Number: 3",
                                    MsgButtons::AbortIgnore),
              MsgResult::Ignore);
    EXPECT_TRUE(boxes.ErrorShown());

    platform::SetMessageResponder(std::move(previous));
    EXPECT_EQ(out.str(), "Information: Power on\nnow\n"
                         "Warning: Cancel current upload?\n"
                         "Error: Script error\nLine Number: 3\n");
}
