// The status lamps watching the settings dialog's port beside the link services: both see their
// events, whichever leaves first, and the port's line errors reach the lamps.

#include "tests/link/LinkFixture.h"

#include "lights/ApdSLController.h"

using linktest::LinkTest;
using linktest::WaitUntil;

namespace
{

class LightsBesideLink : public LinkTest
{
  protected:
    void Watch(loader::TFrmS_comm &form)
    {
        controller = std::make_unique<lights::TApdSLController>(nullptr, form.ApdComPort1.get());
        lights::TLightSet set;
        set.CTSLight = &cts;
        set.ERRORLight = &error;
        controller->SetLights(set);
        controller->SetWatching(true);
    }

    lights::TApdStatusLight cts, error;
    std::unique_ptr<lights::TApdSLController> controller;
};

TEST_F(LightsBesideLink, LineErrorsLightTheErrorLampAndSaveKeepsBothWorking)
{
    AddPort(1);
    loader::TFrmS_comm &form = Create();
    Watch(form);
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(cts.Lit()) << round;
        Port(1).RaiseLineError(serial::ceFrame);
        EXPECT_TRUE(WaitUntil([&] { return error.Lit(); })) << round;
        Port(1).SetCTS(false);
        EXPECT_TRUE(WaitUntil([&] { return !cts.Lit(); })) << round;
        Port(1).SetCTS(true);
        // Save closes and reopens the port: the lamps follow, the link arms its triggers again.
        form.SaveRs232Ini();
        EXPECT_TRUE(controller->Watching());
    }
    // The link still learns of a line that failed for good.
    form.SetUploadMode(true);
    Port(1).Hangup();
    EXPECT_TRUE(WaitUntil([&] { return !calls.calls.empty() && calls.calls.back() == "ULError"; }));
}

TEST_F(LightsBesideLink, TheDialogGoesFirstWhileTheLampsWatch)
{
    AddPort(1);
    Watch(Create());
    dialog.reset();
    EXPECT_EQ(controller->ComPort(), nullptr);
    EXPECT_FALSE(controller->Watching());
}

} // namespace
