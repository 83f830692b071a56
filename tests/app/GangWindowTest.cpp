// The gang upload window in the real program's main window, offscreen, against three device
// simulators: the main window's port (COM1) and two gang ports (COM2, COM3).

#include "app/FrmGang.h"
#include "app/FrmLoadr.h"
#include "app/GangTile.h"
#include "app/Gauge.h"
#include "app/LoaderApplication.h"
#include "link/FrmS_comm.h"
#include "tests/app/RunFolder.h"
#include "tests/support/DevsimProcess.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace
{

using loader::TFrmGang;
using platform::MsgResult;
using testsupport::ProcessEventsUntil;

constexpr int Limit = 60000; // a hang, not a timing
const std::string Complete = "\"end\":\"complete\"";

enum class During {
    Nothing,
    MainWindowUploads,
    Cancel,
    CloseAnsweredYes,
    CloseAnsweredNo,
    MainWindowCloses
};

struct DeviceOutcome {
    bool green;
    const char *reasonStart; // of the tile's status line
    int completeUploads;
};
const DeviceOutcome Ok{true, "OK", 1};
const DeviceOutcome Failed{false, "Upload error encountered, script aborted! Reset remote system.",
                           0};
const DeviceOutcome Unended{}; // the runs never end: the program does

struct Case {
    const char *name;
    During during;
    bool paced;          // both gang devices at 9600 baud, for the runs to act during
    const char *com3Arg; // its device's one further argument, if any
    int fileSize;
    DeviceOutcome com2, com3;
    const char *status;
    const char *box; // the one box shown, if any
};

const Case kGang[] = {
    {"two good ports", During::Nothing, false, "", 700, Ok, Ok, "2 ports: 2 ok, 0 failed", ""},
    {"the main window uploads beside the gang", During::MainWindowUploads, false, "", 700, Ok, Ok,
     "2 ports: 2 ok, 0 failed", ""},
    {"one port's device refuses the file", During::Nothing, false, "--fail-after=100", 700, Ok,
     Failed, "2 ports: 1 ok, 1 failed", ""},
    {"cancel during the transfers", During::Cancel, true, "", 40000, Failed, Failed,
     "2 ports: 0 ok, 2 failed", ""},
    {"closing the window, answered Yes", During::CloseAnsweredYes, true, "", 40000, Failed, Failed,
     "2 ports: 0 ok, 2 failed", "Cancel the gang upload?"},
    {"closing the window, answered No", During::CloseAnsweredNo, true, "", 3000, Ok, Ok,
     "2 ports: 2 ok, 0 failed", "Cancel the gang upload?"},
    // No question, the ports closed.
    {"closing the main window", During::MainWindowCloses, true, "", 40000, Unended, Unended, "",
     ""},
};

struct Device {
    std::unique_ptr<testsupport::DevsimProcess> devsim;
    std::string report;
};

Device StartDevice(const testsupport::TempDir &dir, int n, std::vector<std::string> extra)
{
    const std::string name = "link" + std::to_string(n);
    Device device{nullptr, "report" + std::to_string(n) + ".jsonl"};
    std::vector<std::string> args = {
        "--link", dir.File(name), "--report", dir.File(device.report), "--mode", "UL"};
    args.insert(args.end(), extra.begin(), extra.end());
    device.devsim = std::make_unique<testsupport::DevsimProcess>(DEVSIM_BINARY, args);
    return device;
}

TEST(GangWindowTest, EveryCheckedPortRunsTheScriptOnItsOwnAndTheWindowCountsTheOutcomes)
{
    for (const Case &c : kGang) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        std::vector<std::string> gangArgs;
        if (c.paced)
            gangArgs = {"--baud", "9600"};
        std::vector<std::string> com3Args = gangArgs;
        if (*c.com3Arg)
            com3Args.push_back(c.com3Arg);
        const Device devices[] = {StartDevice(dir, 1, {}), StartDevice(dir, 2, gangArgs),
                                  StartDevice(dir, 3, com3Args)};
        dir.Write("loader.ini", "[Upload Settings]\nDelay=0\n[RS232Settings]\nComm Port=COM1\n"
                                "Baud Rate=115200\n[Devices]\nCOM1=" +
                                    dir.File("link1") + "\nCOM2=" + dir.File("link2") +
                                    "\nCOM3=" + dir.File("link3") + "\n");
        dir.Write("a.bin", std::string(c.fileSize, 'a'));
        dir.Write("loader.sld", "_LF a.bin\n_LA 1\n_LV x\n_LD\n");
        dir.Enter();
        testsupport::ScriptedBoxes boxes;
        loader::TFrmLoadr window;
        loader::CreateStartupWindows(window);
        window.show();
        ASSERT_TRUE(loader::FrmS_comm && loader::FrmS_comm->SCommOpen());

        window.MnuItmGang->trigger();
        TFrmGang *gang = window.FrmGang;
        ASSERT_TRUE(gang && gang->isVisible());
        // COM1 is the main window's: listed, not to be checked.
        std::vector<std::string> listed;
        for (int i = 0; i < gang->LstPorts->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = gang->LstPorts->topLevelItem(i);
            const std::string port = item->text(TFrmGang::PortColumn).toStdString();
            listed.push_back(port + (item->flags() & Qt::ItemIsEnabled ? "" : " disabled"));
            if (port == "COM2" || port == "COM3")
                item->setCheckState(TFrmGang::PortColumn, Qt::Checked);
        }
        ASSERT_GE(listed.size(), 3u);
        EXPECT_EQ(listed[0], "COM1 (main window) disabled");
        EXPECT_EQ(listed[1], "COM2");
        EXPECT_EQ(listed[2], "COM3");

        gang->BtnStart->click();
        ASSERT_EQ(gang->Tiles.size(), 2u);
        switch (c.during) {
        case During::Nothing:
            break;
        case During::MainWindowUploads:
            ASSERT_TRUE(window.BtnUpload->isEnabled());
            window.BtnUpload->click();
            ASSERT_TRUE(ProcessEventsUntil([&] { return !window.Running(); }, Limit));
            EXPECT_EQ(window.ComLamp(), loader::LampGreen());
            EXPECT_TRUE(std::filesystem::exists(dir.File("loader.log")));
            break;
        case During::Cancel:
        case During::CloseAnsweredYes:
        case During::CloseAnsweredNo:
        case During::MainWindowCloses:
            // Both transfers under way.
            ASSERT_TRUE(ProcessEventsUntil(
                [&] {
                    return gang->Tiles[0]->GgeUpload->Progress() > 0 &&
                           gang->Tiles[1]->GgeUpload->Progress() > 0;
                },
                Limit));
            if (c.during == During::Cancel) {
                gang->BtnCancel->click();
            } else if (c.during == During::MainWindowCloses) {
                window.close();
                EXPECT_FALSE(gang->isVisible());
                EXPECT_TRUE(boxes.Shown().empty());
                continue;
            } else {
                boxes.Answer(c.during == During::CloseAnsweredYes ? MsgResult::Yes : MsgResult::No);
                gang->close();
                EXPECT_EQ(gang->isVisible(), c.during == During::CloseAnsweredNo);
            }
            break;
        }
        ASSERT_TRUE(ProcessEventsUntil([&] { return !gang->Running(); }, Limit));

        EXPECT_EQ(gang->LblStatus->text().toStdString(), c.status);
        std::vector<std::string> shown;
        for (const auto &box : boxes.Shown())
            shown.push_back(box.text);
        EXPECT_EQ(shown, *c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
        const DeviceOutcome *outcomes[] = {&c.com2, &c.com3};
        for (int port = 0; port < 2; ++port) {
            SCOPED_TRACE("COM" + std::to_string(port + 2));
            const loader::TGangTile &tile = *gang->Tiles[port];
            const DeviceOutcome &expected = *outcomes[port];
            EXPECT_EQ(tile.Lamp(), expected.green ? loader::LampGreen() : loader::LampRed());
            EXPECT_EQ(tile.StatusText().rfind(expected.reasonStart, 0), 0u) << tile.StatusText();
            EXPECT_EQ(tile.LblFile->text().toStdString(), "File: a.bin");
            const std::string log = "loader-COM" + std::to_string(port + 2) + ".log";
            EXPECT_TRUE(runtest::Contains(dir.Read(log), "File Name: a.bin"));
            const std::string &report = devices[port + 1].report;
            EXPECT_TRUE(testsupport::WaitUntil([&] {
                return runtest::Count(dir.Read(report), Complete) == expected.completeUploads;
            }));
        }
        // The main window's device got the file only when its own Start was used.
        const int mainUploads = c.during == During::MainWindowUploads ? 1 : 0;
        EXPECT_TRUE(testsupport::WaitUntil(
            [&] { return runtest::Count(dir.Read(devices[0].report), Complete) == mainUploads; }));
        // The ports are free again: the next Start makes new runs.
        EXPECT_TRUE(gang->BtnStart->isEnabled());
    }
}

} // namespace
