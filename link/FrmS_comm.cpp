#include "link/FrmS_comm.h"

#include "platform/Glyphs.h"

#include "link/LoaderCallbacks.h"
#include "link/RadioGroup.h"

#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"
#include "serial/DeviceRoutines.h"
#include "serial/PosixDevice.h"
#include "serial/Triggers.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>
#include <array>
#include <charconv>
#include <exception>
#include <filesystem>

namespace loader
{

TFrmS_comm *FrmS_comm = nullptr;

namespace
{

const char *const Rs232Section = "RS232Settings";
const char *const TriggerSection = "Trigger";
const char *const UploadSection = "Upload Settings";

const std::string DirectPortPrefix = "Direct to COM";
// An entry's port name ("COM"+n) follows "Direct to ".
constexpr std::size_t PortNameOffset = 10;
constexpr uint16_t MaxProbedPort = 16;
// The port list's columns: the entry, and the device path it opens.
constexpr int PortListColumns = 2;
constexpr uint16_t MinBufferSize = 2078;

constexpr std::array<int32_t, 6> BaudRates = {1200, 9600, 19200, 38400, 57600, 115200};
const std::array<std::string, 6> BaudTexts = {"1200", "9600", "19200", "38400", "57600", "115200"};

// A port number written as decimal digits only, within 16 bits.
bool ParsePortNumber(const std::string &text, std::size_t from, uint16_t &number)
{
    if (from >= text.size())
        return false;
    const char *first = text.data() + from;
    const char *last = text.data() + text.size();
    unsigned value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || value > 0xFFFF)
        return false;
    number = static_cast<uint16_t>(value);
    return true;
}

// Writes a corrected value back to loader.ini. A file that cannot be written is reported once
// per load, and the settings already read stay in force.
class TWriteBack
{
  public:
    // A file that is there but cannot be read is left as it is, without a box of its own: the
    // main window has told why, and that the defaults are used.
    explicit TWriteBack(platform::TIniFile &ini) : ini_(ini), refused_(!ini.Refusal().empty()) {}

    void String(const char *section, const char *key, const std::string &value)
    {
        Guard([&] { ini_.WriteString(section, key, value); });
    }
    void Integer(const char *section, const char *key, int32_t value)
    {
        Guard([&] { ini_.WriteInteger(section, key, value); });
    }

  private:
    template <typename Write> void Guard(Write write)
    {
        if (refused_)
            return;
        try {
            write();
        } catch (const platform::EIniFileException &e) {
            if (!reported_)
                platform::ShowException(e);
            reported_ = true;
        }
    }

    platform::TIniFile &ini_;
    bool refused_;
    bool reported_ = false;
};

// The serial settings found in the file but not accepted, each with the value used instead. They
// are told in one box: the port would otherwise run with settings the operator never chose, and
// the run would fail with a device that does not answer.
class TReplacedSettings
{
  public:
    explicit TReplacedSettings(const platform::TIniFile &ini) : ini_(ini) {}

    // Notes `key` when the file holds a value for it; a missing key takes its default silently.
    void Note(const char *key, const std::string &used)
    {
        if (!ini_.ValueExists(Rs232Section, key))
            return;
        lines_ += std::string("\r\"") + key + "\" is \"" + ini_.ReadString(Rs232Section, key, "") +
                  "\"; " + used + " is used instead.";
    }

    void Show() const
    {
        if (lines_.empty())
            return;
        const std::string file = std::filesystem::path(ini_.FileName()).filename().string();
        platform::ShowMessage(platform::MsgType::Warning,
                              std::string("Invalid serial settings in section \"") + Rs232Section +
                                  "\" of " + file + " were replaced:" + lines_,
                              platform::MsgButtons::Ok);
    }

  private:
    const platform::TIniFile &ini_;
    std::string lines_;
};

// A prompt or error text the port can match: a data trigger holds at most kMaxMatchLength bytes,
// and an empty one never matches. Anything else would make the port fail to open, or leave the
// loader waiting for a reply it cannot recognise, so the key's default stands in for it.
std::string ReadTriggerText(platform::TIniFile &ini, const char *key, const std::string &fallback)
{
    const std::string text = ini.ReadString(TriggerSection, key, fallback);
    if (!text.empty() && text.size() <= serial::kMaxMatchLength)
        return text;
    const std::string file = std::filesystem::path(ini.FileName()).filename().string();
    const std::string fault =
        text.empty() ? "is empty"
                     : "is longer than " + std::to_string(serial::kMaxMatchLength) + " characters";
    platform::ShowMessage(platform::MsgType::Error,
                          std::string("Trigger text \"") + key + "\" in section \"" +
                              TriggerSection + "\" of " + file + " " + fault + "; the default \"" +
                              fallback + "\" is used instead.",
                          platform::MsgButtons::Ok);
    return fallback;
}

} // namespace

TFrmS_comm::TFrmS_comm(std::string iniFileName, TLoaderCallbacks *callbacks, QWidget *parent,
                       TPortSetup portSetup)
    : QDialog(parent), IniFileName(std::move(iniFileName)),
      ApdComPort1(std::make_unique<serial::TApdComPort>()), callbacks_(callbacks)
{
    BuildControls();
    ApplyStoredPortSettings();
    if (portSetup)
        portSetup(*ApdComPort1);
    FormCreate();
}

TFrmS_comm::~TFrmS_comm()
{
    // The port closes here; it must not call back into a dialog that is going away. The hooks
    // leave newest first, and whatever others hooked on top of them stays in place.
    waitCharHook_.Unlink();
    lineErrorHook_.Unlink();
    outUsedHook_.Unlink();
    outFreeHook_.Unlink();
    dataHook_.Unlink();
    ApdComPort1.reset();
    if (FrmS_comm == this)
        FrmS_comm = nullptr;
}

void TFrmS_comm::BuildControls()
{
    setObjectName("FrmS_comm");
    setWindowTitle("Communication Settings");
    setProperty(platform::HelpContextProperty, platform::RS232HelpContext);

    LblComPort = new QLabel("Serial Port", this);
    LblComPort->setObjectName("LblComPort");
    QFont bold = LblComPort->font();
    bold.setBold(true);
    LblComPort->setFont(bold);

    CmbBxComPort = new QComboBox(this);
    CmbBxComPort->setObjectName("CmbBxComPort");
    CmbBxComPort->setEditable(false);
    CmbBxComPort->setMaxVisibleItems(4);
    // The list has a second column with the device each entry opens; the entry itself, which
    // is what the box shows and what Save reads, stays the first column's text.
    CmbBxComPort->setModel(new QStandardItemModel(0, PortListColumns, CmbBxComPort));
    auto *portList = new QTreeView(CmbBxComPort);
    portList->setHeaderHidden(true);
    portList->setRootIsDecorated(false);
    portList->setItemsExpandable(false);
    portList->setAllColumnsShowFocus(true);
    portList->header()->setStretchLastSection(false);
    CmbBxComPort->setView(portList);
    LblComPort->setBuddy(CmbBxComPort);

    RdGrpBaudRate =
        new TRadioGroup("Baud Rate", {"1200", "9600", "19.2", "38.4", "57.6", "115.2"}, 2, this);
    RdGrpBaudRate->setObjectName("RdGrpBaudRate");
    RdGrpData = new TRadioGroup("&Data Bits", {"7", "8"}, 2, this);
    RdGrpData->setObjectName("RdGrpData");
    RdGrpData->setEnabled(false);
    RdGrpParity = new TRadioGroup("&Parity", {"None", "Odd", "Even"}, 3, this);
    RdGrpParity->setObjectName("RdGrpParity");
    RdGrpParity->setEnabled(false);
    RdGrpStop = new TRadioGroup("&Stop Bits", {"1", "2"}, 2, this);
    RdGrpStop->setObjectName("RdGrpStop");
    RdGrpStop->setEnabled(false);

    BtnOK = new QPushButton(SaveGlyph(), "Save", this);
    BtnOK->setObjectName("BtnOK");
    BtnOK->setDefault(true);
    BtnCancel = new QPushButton("Cancel", this);
    BtnCancel->setObjectName("BtnCancel");
    connect(BtnOK, &QPushButton::clicked, this, [this] { BtnOKClick(); });
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *grid = new QGridLayout(this);
    grid->addWidget(LblComPort, 0, 0);
    grid->addWidget(CmbBxComPort, 1, 0);
    grid->addWidget(RdGrpBaudRate, 2, 0, 2, 1);
    grid->addWidget(RdGrpData, 2, 1);
    grid->addWidget(RdGrpStop, 3, 1);
    grid->addWidget(RdGrpParity, 4, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtnOK);
    buttons->addWidget(BtnCancel);
    grid->addLayout(buttons, 5, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void TFrmS_comm::ApplyStoredPortSettings()
{
    serial::TApdComPort &port = *ApdComPort1;
    port.BeginLoading();
    port.SetComNumber(1);
    port.SetOutSize(16384);
    port.SetAutoOpen(false);
    port.SetHWFlowOptions({serial::hwfUseRTS, serial::hwfRequireCTS});
    port.SetBufferFull(3686);
    port.SetBufferResume(409);
    port.SetTraceName("COM.TRC");
    port.SetLogSize(20000);
    port.SetLogName("COM.LOG");
    // Hooked once, for the dialog's life: Save reopens the port without touching them, so a
    // component that hooked the same events later (the status lights) keeps its place.
    dataHook_.Install(port.OnTriggerData, [this](serial::TApdCustomComPort &cp, uint16_t handle) {
        ApdComPort1TriggerData(cp, handle);
    });
    outFreeHook_.Install(port.OnTriggerOutbuffFree, [this](serial::TApdCustomComPort &cp) {
        ApdComPort1TriggerOutbuffFree(cp);
    });
    outUsedHook_.Install(port.OnTriggerOutbuffUsed, [this](serial::TApdCustomComPort &cp) {
        ApdComPort1TriggerOutbuffUsed(cp);
    });
    lineErrorHook_.Install(port.OnTriggerLineError,
                           [this](serial::TApdCustomComPort &cp, uint16_t error, bool lineBreak) {
                               ApdComPort1TriggerLineError(cp, error, lineBreak);
                           });
    waitCharHook_.Install(port.OnWaitChar, [this](serial::TApdCustomComPort &cp, char c) {
        ApdComPort1WaitChar(cp, c);
    });
    port.EndLoading();
}

void TFrmS_comm::FormCreate()
{
    Link.StopTransfer = false;
    BuildPortList();
    LoadRs232Ini();

    serial::TApdComPort &port = *ApdComPort1;
    port.SetBaud(Link.CfgBaud);
    port.SetComNumber(Link.CfgComNumber);
    port.SetDataBits(Link.CfgDataBits);
    port.SetParity(static_cast<serial::TParity>(Link.CfgParity));
    port.SetStopBits(Link.CfgStopBits);
    port.SetOutSize(Link.CfgBufferSize);
    OpenAndArm();
}

void TFrmS_comm::BuildPortList()
{
    ComPortList.clear();
    for (uint16_t n = 1; n <= MaxProbedPort; ++n) {
        if (serial::ProbePort(n))
            ComPortList.push_back(DirectPortPrefix + std::to_string(n));
        QCoreApplication::processEvents();
    }
    CmbBxComPort->clear();
    auto *model = static_cast<QStandardItemModel *>(CmbBxComPort->model());
    for (const std::string &entry : ComPortList) {
        // The device behind the entry, for the operator who wonders which one it is.
        const QString path =
            QString::fromLatin1(serial::DevicePathFor(entry.substr(PortNameOffset)).c_str());
        auto *name = new QStandardItem(QString::fromLatin1(entry.c_str()));
        auto *device = new QStandardItem(path);
        name->setToolTip(path);
        device->setToolTip(path);
        model->appendRow({name, device});
    }
    // Wide enough for both columns: the popup is otherwise only as wide as the closed box.
    auto *portList = static_cast<QTreeView *>(CmbBxComPort->view());
    for (int column = 0; column < PortListColumns; ++column)
        portList->resizeColumnToContents(column);
    portList->setMinimumWidth(portList->header()->length() + 2 * portList->frameWidth() +
                              portList->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TFrmS_comm::SelectPortEntry(uint16_t comNumber)
{
    const std::string entry = DirectPortPrefix + std::to_string(comNumber);
    CmbBxComPort->setCurrentIndex(CmbBxComPort->findText(QString::fromLatin1(entry.c_str())));
}

void TFrmS_comm::LoadRs232Ini()
{
    platform::TIniFile ini(IniFileName);
    TWriteBack writeBack(ini);
    TReplacedSettings replaced(ini);

    // A port name whose number cannot be read is repaired like a missing one; "ERROR" stands for
    // missing.
    const std::string commPort = ini.ReadString(Rs232Section, "Comm Port", "ERROR");
    uint16_t comNumber = 0;
    if (commPort != "ERROR" && ParsePortNumber(commPort, 3, comNumber)) {
        Link.CfgComNumber = comNumber;
        SelectPortEntry(comNumber);
    } else {
        CmbBxComPort->setCurrentIndex(CmbBxComPort->count() > 0 ? 0 : -1);
        Link.CfgComNumber = 1;
        if (commPort != "ERROR")
            replaced.Note("Comm Port", "COM1");
        writeBack.String(Rs232Section, "Comm Port", "COM1");
    }

    const std::string baudText = ini.ReadString(Rs232Section, "Baud Rate", "19200");
    int baudIndex = -1;
    for (std::size_t i = 0; i < BaudTexts.size() && baudIndex < 0; ++i) {
        if (baudText == BaudTexts[i])
            baudIndex = static_cast<int>(i);
    }
    if (baudIndex < 0) {
        baudIndex = 2;
        replaced.Note("Baud Rate", "19200");
        writeBack.String(Rs232Section, "Baud Rate", "19200");
    }
    Link.CfgBaud = BaudRates[static_cast<std::size_t>(baudIndex)];
    RdGrpBaudRate->SetItemIndex(baudIndex);

    const int32_t dataBits = ini.ReadInteger(Rs232Section, "Data Bits", 0);
    Link.CfgDataBits = dataBits == 7 ? 7 : 8;
    RdGrpData->SetItemIndex(dataBits == 7 ? 0 : 1);
    if (dataBits != 7 && dataBits != 8) {
        replaced.Note("Data Bits", "8");
        writeBack.Integer(Rs232Section, "Data Bits", 8);
    }

    const int32_t parity = ini.ReadInteger(Rs232Section, "Parity", 9);
    const bool parityKnown = parity >= 0 && parity <= 2;
    Link.CfgParity = parityKnown ? static_cast<uint8_t>(parity) : 0;
    RdGrpParity->SetItemIndex(Link.CfgParity);
    if (!parityKnown) {
        replaced.Note("Parity", "0");
        writeBack.Integer(Rs232Section, "Parity", 0);
    }

    const int32_t stopBits = ini.ReadInteger(Rs232Section, "Stop Bit", 0);
    const bool stopKnown = stopBits == 1 || stopBits == 2;
    Link.CfgStopBits = stopKnown ? static_cast<uint16_t>(stopBits) : 1;
    RdGrpStop->SetItemIndex(Link.CfgStopBits - 1);
    if (!stopKnown) {
        replaced.Note("Stop Bit", "1");
        writeBack.Integer(Rs232Section, "Stop Bit", 1);
    }
    replaced.Show();

    Link.PromptText = ReadTriggerText(ini, "Prompt", "#");
    Link.ErrorText = ReadTriggerText(ini, "Error", "?");
    Link.ULPromptText = ReadTriggerText(ini, "UL Prompt", ">");
    Link.ULErrorText = ReadTriggerText(ini, "UL Error", "ERR");
    Link.ResultMarker = ini.ReadString(TriggerSection, "Result", "=");
    Link.CurrentPrompt = Link.PromptText;
    Link.CurrentError = Link.ErrorText;

    const auto bufferSize =
        static_cast<uint16_t>(ini.ReadInteger(UploadSection, "Buffer Size", 4096));
    Link.CfgBufferSize = bufferSize < MinBufferSize ? MinBufferSize : bufferSize;
    Link.CfgBlockSize = static_cast<uint16_t>(ini.ReadInteger(UploadSection, "Block Size", 50));
}

void TFrmS_comm::FormShow()
{
    Link.UploadMode = false;
    for (std::size_t i = 0; i < BaudRates.size(); ++i) {
        if (Link.CfgBaud == BaudRates[i])
            RdGrpBaudRate->SetItemIndex(static_cast<int>(i));
    }
    if (Link.CfgDataBits == 7 || Link.CfgDataBits == 8)
        RdGrpData->SetItemIndex(Link.CfgDataBits == 7 ? 0 : 1);
    if (Link.CfgParity <= 2)
        RdGrpParity->SetItemIndex(Link.CfgParity);
    if (Link.CfgStopBits == 1 || Link.CfgStopBits == 2)
        RdGrpStop->SetItemIndex(Link.CfgStopBits - 1);
}

void TFrmS_comm::SaveRs232Ini()
{
    std::string baudText = std::to_string(Link.CfgBaud);
    const int baudIndex = RdGrpBaudRate->ItemIndex();
    if (baudIndex >= 0 && baudIndex < static_cast<int>(BaudRates.size())) {
        Link.CfgBaud = BaudRates[static_cast<std::size_t>(baudIndex)];
        baudText = BaudTexts[static_cast<std::size_t>(baudIndex)];
    }

    const std::string entry = CmbBxComPort->currentText().toLatin1().toStdString();
    const std::size_t prefixAt = entry.find(DirectPortPrefix);
    uint16_t comNumber = 0;
    const bool direct = prefixAt != std::string::npos &&
                        ParsePortNumber(entry, prefixAt + DirectPortPrefix.size(), comNumber);
    if (direct) {
        Link.CfgComNumber = comNumber;
    } else {
        platform::ShowMessage(platform::MsgType::Error,
                              "Must Select a Direct Com. Port, Please Select Again.",
                              platform::MsgButtons::Ok);
    }

    if (RdGrpData->ItemIndex() >= 0)
        Link.CfgDataBits = RdGrpData->ItemIndex() == 0 ? 7 : 8;
    if (RdGrpParity->ItemIndex() >= 0)
        Link.CfgParity = static_cast<uint8_t>(RdGrpParity->ItemIndex());
    if (RdGrpStop->ItemIndex() >= 0)
        Link.CfgStopBits = static_cast<uint16_t>(RdGrpStop->ItemIndex() + 1);

    platform::TIniFile ini(IniFileName);
    if (direct)
        ini.WriteString(Rs232Section, "Comm Port", entry.substr(prefixAt + PortNameOffset));
    ini.WriteString(Rs232Section, "Baud Rate", baudText);
    ini.WriteInteger(Rs232Section, "Data Bits", Link.CfgDataBits);
    ini.WriteInteger(Rs232Section, "Parity", Link.CfgParity);
    ini.WriteInteger(Rs232Section, "Stop Bit", Link.CfgStopBits);

    serial::TApdComPort &port = *ApdComPort1;
    if (port.Open()) {
        // Dropped before closing, so the port does not keep them for its next open.
        DropOwnTrigger(Link.OutFreeTrigger);
        DropOwnTrigger(Link.OutUsedTrigger);
        DropOwnTrigger(Link.PromptTrigger);
        DropOwnTrigger(Link.ErrorTrigger);
        DropOwnTrigger(Link.LineErrorTrigger);
        port.SetOpen(false);
    }
    port.SetBaud(Link.CfgBaud);
    port.SetComNumber(Link.CfgComNumber);
    port.SetDataBits(Link.CfgDataBits);
    port.SetParity(static_cast<serial::TParity>(Link.CfgParity));
    port.SetStopBits(Link.CfgStopBits);
    OpenAndArm();
}

void TFrmS_comm::OpenAndArm()
{
    // Handles from an earlier arming are stale now; one that fails to arm must not keep one.
    Link.PromptTrigger = Link.ErrorTrigger = Link.OutFreeTrigger = Link.OutUsedTrigger = 0;
    Link.LineErrorTrigger = 0;
    Link.LineFailed = false;
    try {
        serial::TApdComPort &port = *ApdComPort1;
        port.SetOpen(true);
        Link.PromptTrigger = port.AddMatchTrigger(Link.PromptText, false);
        Link.ErrorTrigger = port.AddMatchTrigger(Link.ErrorText, true);
        Link.OutFreeTrigger = port.AddStateTrigger(serial::StatusOutFree);
        Link.OutUsedTrigger = port.AddStateTrigger(serial::StatusOutUsed);
        Link.LineErrorTrigger = port.AddStateTrigger(serial::StatusLineError);
        port.ArmStateTrigger(Link.LineErrorTrigger, LineFailureOnly, true);
        if (callbacks_)
            callbacks_->SetComBtnState(true);
    } catch (const std::exception &) {
        if (callbacks_)
            callbacks_->SetComBtnState(false);
        platform::ShowMessage(platform::MsgType::Error, "Error Opening Selected Comm Port !",
                              platform::MsgButtons::Ok);
    }
}

void TFrmS_comm::DropOwnTrigger(uint16_t &handle)
{
    if (handle != 0)
        ApdComPort1->DropTrigger(handle);
    handle = 0;
}

void TFrmS_comm::BtnOKClick()
{
    try {
        SaveRs232Ini();
    } catch (const std::exception &e) {
        platform::ShowException(e);
    }
    accept();
}

void TFrmS_comm::showEvent(QShowEvent *event)
{
    if (const QScreen *screen = this->screen()) {
        adjustSize();
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
    QDialog::showEvent(event);
}

void TFrmS_comm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        platform::OpenHelp(platform::HelpContext, platform::RS232HelpContext);
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace loader
