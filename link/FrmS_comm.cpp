#include "link/FrmS_comm.h"

#include "platform/Glyphs.h"

#include "link/LinkSettings.h"
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

const std::string DirectPortPrefix = "Direct to COM";
// An entry's port name ("COM"+n) follows "Direct to ".
constexpr std::size_t PortNameOffset = 10;
constexpr uint16_t MaxProbedPort = 16;
// The port list's columns: the entry, and the device path it opens.
constexpr int PortListColumns = 3;
const char *const Rs232Section = "RS232Settings";

} // namespace

TFrmS_comm::TFrmS_comm(std::string iniFileName, TLoaderCallbacks *callbacks, QWidget *parent,
                       TPortSetup portSetup)
    : QDialog(parent), Services(std::make_unique<TLinkServices>(callbacks)), Link(Services->Link),
      ApdComPort1(Services->ApdComPort1), IniFileName(std::move(iniFileName))
{
    BuildControls();
    if (portSetup)
        portSetup(*ApdComPort1);
    FormCreate();
}

TFrmS_comm::~TFrmS_comm()
{
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

    RdGrpBaudRate = new TRadioGroup(
        "Baud Rate", std::vector<std::string>(BaudItems.begin(), BaudItems.end()), 2, this);
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

void TFrmS_comm::FormCreate()
{
    Link.StopTransfer = false;
    BuildPortList();
    LoadRs232Ini();
    Services->ApplySettings();
    Services->OpenAndArm();
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
        // Its stable name, where one exists: what to write into [Devices] for an adapter that
        // may come back as another /dev/ttyUSBn.
        const QString stableName =
            QString::fromLatin1(serial::StableDeviceName(path.toStdString()).c_str());
        auto *stable = new QStandardItem(stableName);
        stable->setToolTip(stableName);
        name->setToolTip(path);
        device->setToolTip(path);
        model->appendRow({name, device, stable});
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
    const LinkSettingsRead read = ReadLinkSettings(IniFileName, Link);
    if (read.comPortNamed)
        SelectPortEntry(Link.CfgComNumber);
    else
        CmbBxComPort->setCurrentIndex(CmbBxComPort->count() > 0 ? 0 : -1);
    RdGrpBaudRate->SetItemIndex(read.baudIndex);
    RdGrpData->SetItemIndex(Link.CfgDataBits == 7 ? 0 : 1);
    RdGrpParity->SetItemIndex(Link.CfgParity);
    RdGrpStop->SetItemIndex(Link.CfgStopBits - 1);
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

    Services->Reopen();
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
