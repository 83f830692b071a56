// The settings side of the dialog: loader.ini read with its write-backs, the list of ports, the
// first open, and what Save, Cancel and showing the dialog do to the file and the port.

#include "tests/link/LinkFixture.h"

#include "link/RadioGroup.h"
#include "platform/Help.h"
#include "platform/ProfileFile.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

using linktest::LinkTest;
using linktest::TriggersOf;
using linktest::TTriggerCount;
using loader::TRadioGroup;

namespace
{

std::string IniValue(const std::string &file, const std::string &section, const std::string &key)
{
    return platform::TIniFile(file).ReadString(section, key, "<missing>");
}

std::vector<std::string> Entries(const QComboBox &box)
{
    std::vector<std::string> entries;
    for (int i = 0; i < box.count(); ++i)
        entries.push_back(box.itemText(i).toStdString());
    return entries;
}

// Prompt and error; output free, output used and line error.
const TTriggerCount ArmedSet{2, 3, 0};

// The boxes that tell of serial settings replaced: none, or one listing `lines`.
std::vector<std::string> ReplacedBoxes(const char *lines)
{
    if (!lines)
        return {};
    return {std::string("Warning: Invalid serial settings in section \"RS232Settings\" of "
                        "loader.ini were replaced:\r") +
            lines};
}

} // namespace

TEST_F(LinkTest, FirstStartWithoutIniOpensCom1AtDefaultsAndWritesFourKeys)
{
    AddPort(1);
    loader::TFrmS_comm &form = Create();

    serial::TApdComPort &port = ComPort();
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.ComNumber(), 1);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.Parity(), serial::pNone);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.OutSize(), 4096);
    EXPECT_EQ(TriggersOf(port), ArmedSet);
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ComBtn on"});
    EXPECT_TRUE(boxes.Shown().empty());

    const std::string ini = dir.File("loader.ini");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Comm Port"), "COM1");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Data Bits"), "8");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Parity"), "0");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Stop Bit"), "1");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Baud Rate"), "<missing>");

    // The line really runs at those settings, with RTS/CTS flow control.
    const serial::TLineState line = Port(1).LineState();
    EXPECT_EQ(line.BaudRate, 19200u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, 0);
    EXPECT_TRUE(line.OutxCtsFlow);
    EXPECT_EQ(form.Link.CurrentPrompt, "#");
    EXPECT_EQ(form.Link.CurrentError, "?");
    EXPECT_FALSE(form.Link.StopTransfer);

    // The rest of the port's stored settings.
    EXPECT_FALSE(port.AutoOpen());
    EXPECT_EQ(port.BufferFull(), 3686);
    EXPECT_EQ(port.BufferResume(), 409);
    EXPECT_EQ(port.TraceName(), "COM.TRC");
    EXPECT_EQ(port.LogSize(), 20000);
    EXPECT_EQ(port.LogName(), "COM.LOG");
}

// A loader.ini that cannot be read (the main window has said so) is neither written nor reported
// again: the port opens at the defaults.
TEST_F(LinkTest, UnreadableIniOpensCom1AtDefaultsWithoutWriting)
{
    AddPort(1);
    std::filesystem::create_directory(dir.File("loader.ini"));
    Create();
    EXPECT_TRUE(ComPort().Open());
    EXPECT_EQ(ComPort().ComNumber(), 1);
    EXPECT_EQ(ComPort().Baud(), 19200);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("loader.ini")));
}

// One key of loader.ini, what the link makes of it, and what the file holds afterwards.
struct IniCase {
    const char *name;
    const char *ini;
    const char *section;
    const char *key;
    const char *fileAfter; // the key's text in the file after loading
    int32_t baud;
    uint16_t dataBits;
    uint8_t parity;
    uint16_t stopBits;
    uint16_t bufferSize;
    int baudIndex;
    const char *replaced = nullptr; // the lines of the box that tells of replaced values
};

class IniKeys : public LinkTest, public ::testing::WithParamInterface<IniCase>
{
};

TEST_P(IniKeys, AreReadCorrectedAndWrittenBack)
{
    const IniCase &c = GetParam();
    AddPort(1);
    WriteIni(std::string("[RS232Settings]\nComm Port=COM1\n") + c.ini);
    loader::TFrmS_comm &form = Create();

    EXPECT_EQ(IniValue(dir.File("loader.ini"), c.section, c.key), c.fileAfter);
    EXPECT_EQ(form.Link.CfgBaud, c.baud);
    EXPECT_EQ(form.Link.CfgDataBits, c.dataBits);
    EXPECT_EQ(form.Link.CfgParity, c.parity);
    EXPECT_EQ(form.Link.CfgStopBits, c.stopBits);
    EXPECT_EQ(form.Link.CfgBufferSize, c.bufferSize);
    EXPECT_EQ(form.RdGrpBaudRate->ItemIndex(), c.baudIndex);
    EXPECT_EQ(ComPort().Baud(), c.baud);
    EXPECT_EQ(ComPort().DataBits(), c.dataBits);
    EXPECT_EQ(ComPort().Parity(), c.parity);
    EXPECT_EQ(ComPort().StopBits(), c.stopBits);
    EXPECT_EQ(ComPort().OutSize(), c.bufferSize);
    EXPECT_TRUE(ComPort().Open());
    EXPECT_EQ(Shown(), ReplacedBoxes(c.replaced));
}

// Keys that are not named in a case are missing, so their defaults apply (8N1 at 19200).
INSTANTIATE_TEST_SUITE_P(
    Link, IniKeys,
    ::testing::Values(
        IniCase{"BaudAsShown", "Baud Rate=19.2\n", "RS232Settings", "Baud Rate", "19200", 19200, 8,
                0, 1, 4096, 2, "\"Baud Rate\" is \"19.2\"; 19200 is used instead."},
        IniCase{"BaudLeadingZero", "Baud Rate=09600\n", "RS232Settings", "Baud Rate", "19200",
                19200, 8, 0, 1, 4096, 2, "\"Baud Rate\" is \"09600\"; 19200 is used instead."},
        IniCase{"BaudKnown", "Baud Rate=57600\n", "RS232Settings", "Baud Rate", "57600", 57600, 8,
                0, 1, 4096, 4},
        IniCase{"BaudLowest", "Baud Rate=1200\n", "RS232Settings", "Baud Rate", "1200", 1200, 8, 0,
                1, 4096, 0},
        IniCase{"BaudFastAfterTheClassicSix", "Baud Rate=230400\n", "RS232Settings", "Baud Rate",
                "230400", 230400, 8, 0, 1, 4096, 6},
        IniCase{"BaudFastest", "Baud Rate=921600\n", "RS232Settings", "Baud Rate", "921600", 921600,
                8, 0, 1, 4096, 8},
        IniCase{"BaudFastAsShown", "Baud Rate=921.6\n", "RS232Settings", "Baud Rate", "19200",
                19200, 8, 0, 1, 4096, 2, "\"Baud Rate\" is \"921.6\"; 19200 is used instead."},
        IniCase{"DataBitsSevenKept", "Data Bits=0x7\n", "RS232Settings", "Data Bits", "0x7", 19200,
                7, 0, 1, 4096, 2},
        IniCase{"DataBitsEightKept", "Data Bits=0x8\n", "RS232Settings", "Data Bits", "0x8", 19200,
                8, 0, 1, 4096, 2},
        IniCase{"DataBitsNineRewritten", "Data Bits=9\n", "RS232Settings", "Data Bits", "8", 19200,
                8, 0, 1, 4096, 2, "\"Data Bits\" is \"9\"; 8 is used instead."},
        IniCase{"ParityThreeRewritten", "Parity=3\n", "RS232Settings", "Parity", "0", 19200, 8, 0,
                1, 4096, 2, "\"Parity\" is \"3\"; 0 is used instead."},
        IniCase{"ParityEvenKept", "Parity=0x2\n", "RS232Settings", "Parity", "0x2", 19200, 8, 2, 1,
                4096, 2},
        IniCase{"StopTwoKept", "Stop Bit=0x2\n", "RS232Settings", "Stop Bit", "0x2", 19200, 8, 0, 2,
                4096, 2},
        IniCase{"StopJunkRewritten", "Stop Bit=two\n", "RS232Settings", "Stop Bit", "1", 19200, 8,
                0, 1, 4096, 2, "\"Stop Bit\" is \"two\"; 1 is used instead."},
        IniCase{"AllButThePortRewritten", "Baud Rate=57000\nData Bits=9\nParity=7\nStop Bit=3\n",
                "RS232Settings", "Baud Rate", "19200", 19200, 8, 0, 1, 4096, 2,
                "\"Baud Rate\" is \"57000\"; 19200 is used instead.\r"
                "\"Data Bits\" is \"9\"; 8 is used instead.\r"
                "\"Parity\" is \"7\"; 0 is used instead.\r"
                "\"Stop Bit\" is \"3\"; 1 is used instead."},
        IniCase{"BufferRaised", "[Upload Settings]\nBuffer Size=1000\n", "Upload Settings",
                "Buffer Size", "1000", 19200, 8, 0, 1, 2078, 2},
        IniCase{"BufferLarge", "[Upload Settings]\nBuffer Size=16384\n", "Upload Settings",
                "Buffer Size", "16384", 19200, 8, 0, 1, 16384, 2}),
    linktest::ByName());

TEST_F(LinkTest, TriggerTextsAndBlockSizeAreReadWithDefaults)
{
    AddPort(1);
    WriteIni("[Trigger]\nPrompt=ok>\nUL Error=FAIL\n[Upload Settings]\nBlock Size=0x40\n");
    loader::TFrmS_comm &form = Create();
    const loader::LinkState &link = form.Link;
    EXPECT_EQ(link.PromptText, "ok>");
    EXPECT_EQ(link.ErrorText, "?");
    EXPECT_EQ(link.ULPromptText, ">");
    EXPECT_EQ(link.ULErrorText, "FAIL");
    EXPECT_EQ(link.ResultMarker, "=");
    EXPECT_EQ(link.CurrentPrompt, "ok>");
    EXPECT_EQ(link.CfgBlockSize, 64);
    // The section is only read: no default finds its way into the file.
    EXPECT_EQ(Ini().find("UL Prompt"), std::string::npos);
    EXPECT_EQ(Ini().find("Result"), std::string::npos);
}

TEST_F(LinkTest, ListHoldsPresentPortsAndShowsTheConfiguredOne)
{
    AddPort(1);
    AddPort(3);
    WriteIni("[RS232Settings]\nComm Port=COM3\n[Devices]\nCOM3=/dev/ttyUSB7\n");
    loader::TFrmS_comm &form = Create();

    EXPECT_EQ(Entries(*form.CmbBxComPort),
              (std::vector<std::string>{"Direct to COM1", "Direct to COM3"}));
    // Beside each entry, the device it opens: the built-in one, or the one loader.ini names.
    std::vector<std::string> shown;
    for (int row = 0; row < form.CmbBxComPort->count(); ++row)
        shown.push_back(form.CmbBxComPort->model()->index(row, 1).data().toString().toStdString());
    EXPECT_EQ(shown, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB7"}));
    EXPECT_EQ(form.ComPortList, Entries(*form.CmbBxComPort));
    EXPECT_EQ(form.CmbBxComPort->currentIndex(), 1);
    EXPECT_EQ(form.CmbBxComPort->maxVisibleItems(), 4);
    EXPECT_FALSE(form.CmbBxComPort->isEditable());
    EXPECT_EQ(ComPort().ComNumber(), 3);
    EXPECT_TRUE(Port(3).IsOpen());
    EXPECT_FALSE(Port(1).IsOpen());
}

// "Comm Port" values that name no usable port number.
struct CommPortCase {
    const char *name;
    const char *ini;
    int selected;          // list index shown
    uint16_t comNumber;    // number the port is given
    const char *fileAfter; // "Comm Port" in the file afterwards
    bool opens;
    const char *replaced = nullptr; // the lines of the box that tells of a replaced value
};

class CommPortKey : public LinkTest, public ::testing::WithParamInterface<CommPortCase>
{
};

TEST_P(CommPortKey, ChoosesTheEntryAndPort)
{
    const CommPortCase &c = GetParam();
    AddPort(2);
    AddPort(4);
    WriteIni(c.ini);
    loader::TFrmS_comm &form = Create();

    EXPECT_EQ(form.CmbBxComPort->currentIndex(), c.selected);
    EXPECT_EQ(form.Link.CfgComNumber, c.comNumber);
    EXPECT_EQ(ComPort().ComNumber(), c.comNumber);
    EXPECT_EQ(IniValue(dir.File("loader.ini"), "RS232Settings", "Comm Port"), c.fileAfter);
    EXPECT_EQ(ComPort().Open(), c.opens);
    std::vector<std::string> shown = ReplacedBoxes(c.replaced);
    if (!c.opens)
        shown.push_back("Error: Error Opening Selected Comm Port !");
    EXPECT_EQ(Shown(), shown);
    EXPECT_EQ(calls.calls, std::vector<std::string>{c.opens ? "ComBtn on" : "ComBtn off"});
}

// With no key the first entry is shown although COM1 is opened; a port that is not in the list
// leaves the list without a selection.
INSTANTIATE_TEST_SUITE_P(
    Link, CommPortKey,
    ::testing::Values(
        CommPortCase{"Missing", "", 0, 1, "COM1", false},
        CommPortCase{"LiteralError", "[RS232Settings]\nComm Port=ERROR\n", 0, 1, "COM1", false},
        CommPortCase{"Present", "[RS232Settings]\nComm Port=COM4\n", 1, 4, "COM4", true},
        CommPortCase{"Absent", "[RS232Settings]\nComm Port=COM3\n", -1, 3, "COM3", false},
        CommPortCase{"NotANumber", "[RS232Settings]\nComm Port=COMX\n", 0, 1, "COM1", false,
                     "\"Comm Port\" is \"COMX\"; COM1 is used instead."},
        CommPortCase{"TooLarge", "[RS232Settings]\nComm Port=COM70000\n", 0, 1, "COM1", false,
                     "\"Comm Port\" is \"COM70000\"; COM1 is used instead."}),
    linktest::ByName());

namespace
{

struct TriggerTextCase {
    const char *name;
    const char *line; // in section "Trigger"
    std::string loader::LinkState::*field;
    std::string expected;
    std::vector<std::string> shown;
};

class TriggerText : public LinkTest, public ::testing::WithParamInterface<TriggerTextCase>
{
};

std::string Refused(const std::string &key, const std::string &fault, const std::string &fallback)
{
    return "Error: Trigger text \"" + key + "\" in section \"Trigger\" of loader.ini " + fault +
           "; the default \"" + fallback + "\" is used instead.";
}

const std::string TooLong = "is longer than 21 characters";

} // namespace

TEST_P(TriggerText, UnmatchableTextIsRefusedAndThePortStaysUsable)
{
    const TriggerTextCase &c = GetParam();
    AddPort(1);
    WriteIni(std::string("[RS232Settings]\nComm Port=COM1\n[Trigger]\n") + c.line + "\n");
    loader::TFrmS_comm &form = Create();
    EXPECT_EQ(form.Link.*c.field, c.expected);
    EXPECT_EQ(Shown(), c.shown);
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ComBtn on"});
    EXPECT_EQ(TriggersOf(ComPort()), ArmedSet);
    // The upload texts are armed only for a run; they must be armable too.
    EXPECT_NO_THROW(form.SetUploadMode(true));
    EXPECT_EQ(TriggersOf(ComPort()), ArmedSet);
    EXPECT_NE(Ini().find(c.line), std::string::npos); // the section is never rewritten
}

INSTANTIATE_TEST_SUITE_P(Link, TriggerText,
                         ::testing::Values(TriggerTextCase{"ErrorTooLong",
                                                           "Error=0123456789012345678901",
                                                           &loader::LinkState::ErrorText,
                                                           "?",
                                                           {Refused("Error", TooLong, "?")}},
                                           TriggerTextCase{"ULPromptTooLong",
                                                           "UL Prompt=Ready for the next block >",
                                                           &loader::LinkState::ULPromptText,
                                                           ">",
                                                           {Refused("UL Prompt", TooLong, ">")}},
                                           TriggerTextCase{"PromptEmpty",
                                                           "Prompt=",
                                                           &loader::LinkState::PromptText,
                                                           "#",
                                                           {Refused("Prompt", "is empty", "#")}},
                                           TriggerTextCase{
                                               "ULErrorBlank",
                                               "UL Error=   ",
                                               &loader::LinkState::ULErrorText,
                                               "ERR",
                                               {Refused("UL Error", "is empty", "ERR")}},
                                           TriggerTextCase{"PromptOfTheLongestLength",
                                                           "Prompt=012345678901234567890",
                                                           &loader::LinkState::PromptText,
                                                           "012345678901234567890",
                                                           {}}),
                         linktest::ByName());

TEST_F(LinkTest, SaveWritesChoicesAndReopensWithExactlyTheArmedSet)
{
    AddPort(1);
    AddPort(3);
    WriteIni("[RS232Settings]\nComm Port=COM1\nData Bits=7\nParity=2\nStop Bit=2\n");
    loader::TFrmS_comm &form = Create();
    form.SetUploadMode(true); // a save arms the normal texts whatever the mode
    calls.calls.clear();

    form.CmbBxComPort->setCurrentIndex(1);
    form.RdGrpBaudRate->SetItemIndex(5);
    form.BtnOK->click();

    EXPECT_EQ(form.result(), QDialog::Accepted);
    const std::string ini = dir.File("loader.ini");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Comm Port"), "COM3");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Baud Rate"), "115200");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Data Bits"), "7");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Parity"), "2");
    EXPECT_EQ(IniValue(ini, "RS232Settings", "Stop Bit"), "2");

    EXPECT_FALSE(Port(1).IsOpen());
    EXPECT_TRUE(Port(3).IsOpen());
    EXPECT_EQ(ComPort().ComNumber(), 3);
    EXPECT_EQ(ComPort().Baud(), 115200);
    EXPECT_EQ(Port(3).LineState().BaudRate, 115200u);
    EXPECT_EQ(Port(3).LineState().ByteSize, 7);
    EXPECT_EQ(Port(3).LineState().Parity, 2);
    EXPECT_EQ(TriggersOf(ComPort()), ArmedSet);
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ComBtn on"});
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(form.Link.CurrentPrompt, ">"); // the mode's texts stay in force

    // The reopened port's prompt trigger is the normal one: "#" clears the input.
    form.Link.ReceivedText = "stale";
    Port(3).Write("xx>#");
    EXPECT_TRUE(linktest::WaitUntil([&] { return form.Link.ReceivedText.empty(); }));
    EXPECT_EQ(ComPort().InputCount(), 0);
}

TEST_F(LinkTest, SaveWithUnchangedSettingsStillClosesAndReopens)
{
    AddPort(1);
    loader::TFrmS_comm &form = Create();
    form.SaveRs232Ini();
    form.SaveRs232Ini();
    EXPECT_EQ(TriggersOf(ComPort()), ArmedSet);
    EXPECT_EQ(calls.calls, (std::vector<std::string>{"ComBtn on", "ComBtn on", "ComBtn on"}));
}

TEST_F(LinkTest, SaveWithoutADirectPortKeepsTheNumberAndSavesTheRest)
{
    AddPort(1);
    WriteIni("[RS232Settings]\nComm Port=COM5\n");
    loader::TFrmS_comm &form = Create();
    ASSERT_EQ(form.CmbBxComPort->currentIndex(), -1);
    boxes.Clear();
    calls.calls.clear();

    form.RdGrpBaudRate->SetItemIndex(1);
    form.SaveRs232Ini();

    EXPECT_EQ(Shown(), (std::vector<std::string>{
                           "Error: Must Select a Direct Com. Port, Please Select Again.",
                           "Error: Error Opening Selected Comm Port !"}));
    EXPECT_EQ(form.Link.CfgComNumber, 5);
    EXPECT_EQ(IniValue(dir.File("loader.ini"), "RS232Settings", "Comm Port"), "COM5");
    EXPECT_EQ(IniValue(dir.File("loader.ini"), "RS232Settings", "Baud Rate"), "9600");
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ComBtn off"});
}

TEST_F(LinkTest, CancelChangesNothing)
{
    AddPort(1);
    AddPort(3);
    WriteIni("[RS232Settings]\nComm Port=COM1\n");
    loader::TFrmS_comm &form = Create();
    const std::string before = Ini();
    const int slot = ComPort().PortSlot();
    calls.calls.clear();

    form.CmbBxComPort->setCurrentIndex(1);
    form.RdGrpBaudRate->SetItemIndex(0);
    form.BtnCancel->click();

    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Ini(), before);
    EXPECT_EQ(form.Link.CfgBaud, 19200);
    EXPECT_EQ(form.Link.CfgComNumber, 1);
    EXPECT_EQ(ComPort().PortSlot(), slot);
    EXPECT_TRUE(Port(1).IsOpen());
    EXPECT_FALSE(Port(3).IsOpen());
    EXPECT_TRUE(calls.calls.empty());
}

TEST_F(LinkTest, ShowingClearsUploadModeWithoutRearmingAndResetsTheGroups)
{
    AddPort(1);
    WriteIni("[RS232Settings]\nComm Port=COM1\nBaud Rate=38400\n");
    loader::TFrmS_comm &form = Create();
    form.SetUploadMode(true);
    const uint16_t prompt = form.Link.PromptTrigger;
    const uint16_t error = form.Link.ErrorTrigger;
    form.RdGrpBaudRate->SetItemIndex(-1);
    form.RdGrpData->SetItemIndex(0);

    form.show();
    EXPECT_FALSE(form.Link.UploadMode);
    EXPECT_EQ(form.Link.PromptTrigger, prompt);
    EXPECT_EQ(form.Link.ErrorTrigger, error);
    EXPECT_EQ(form.Link.CurrentPrompt, ">");
    EXPECT_EQ(TriggersOf(ComPort()), ArmedSet);
    EXPECT_EQ(form.RdGrpBaudRate->ItemIndex(), 3);
    EXPECT_EQ(form.RdGrpData->ItemIndex(), 1);
    form.hide();
}

TEST_F(LinkTest, DialogCarriesItsControls)
{
    AddPort(1);
    loader::TFrmS_comm &form = Create();
    EXPECT_EQ(form.windowTitle().toStdString(), "Communication Settings");
    EXPECT_EQ(form.property(platform::HelpContextProperty).toInt(), platform::RS232HelpContext);
    EXPECT_TRUE(form.LblComPort->font().bold());
    EXPECT_EQ(form.LblComPort->text().toStdString(), "Serial Port");
    EXPECT_EQ(form.BtnOK->text().toStdString(), "Save");
    EXPECT_FALSE(form.BtnOK->icon().isNull());

    struct Group {
        const char *name;
        const char *title;
        std::vector<std::string> items;
        bool enabled;
    };
    const std::vector<Group> groups = {
        {"RdGrpBaudRate",
         "Baud Rate",
         {"1200", "9600", "19.2", "38.4", "57.6", "115.2", "230.4", "460.8", "921.6"},
         true},
        {"RdGrpData", "&Data Bits", {"7", "8"}, false},
        {"RdGrpParity", "&Parity", {"None", "Odd", "Even"}, false},
        {"RdGrpStop", "&Stop Bits", {"1", "2"}, false},
    };
    for (const Group &g : groups) {
        SCOPED_TRACE(g.name);
        auto *group = form.findChild<TRadioGroup *>(g.name);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->title().toStdString(), g.title);
        EXPECT_EQ(group->isEnabled(), g.enabled);
        ASSERT_EQ(group->Count(), static_cast<int>(g.items.size()));
        for (int i = 0; i < group->Count(); ++i)
            EXPECT_EQ(group->Button(i)->text().toStdString(), g.items[static_cast<size_t>(i)]);
    }
    for (const char *name : {"LblComPort", "CmbBxComPort", "BtnOK", "BtnCancel"})
        EXPECT_NE(form.findChild<QWidget *>(name), nullptr) << name;
}

TEST_F(LinkTest, UnwritableIniIsReportedOnceAndTheDefaultsStillApply)
{
    AddPort(1);
    dir.Write("loader.ini", "");
    // Past a one-byte file size limit nothing can be written, for every user (file permissions
    // do not stop root). A directory in the file's place would be refused as unreadable instead.
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 1;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    loader::TFrmS_comm &form = Create();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");
    EXPECT_NE(boxes.Shown()[0].text.find("Unable to write to"), std::string::npos);
    EXPECT_EQ(form.Link.CfgComNumber, 1);
    EXPECT_TRUE(ComPort().Open());
    EXPECT_EQ(calls.calls, std::vector<std::string>{"ComBtn on"});
}
