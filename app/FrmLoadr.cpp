#include "app/FrmLoadr.h"

#include "app/FrmGang.h"
#include "app/Gauge.h"
#include "dialogs/FrmAboutLdr.h"
#include "dialogs/FrmSupportBox.h"
#include "lights/ApdSLController.h"
#include "lights/ApdStatusLight.h"
#include "link/FrmS_comm.h"
#include "platform/Glyphs.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"
#include "serial/ApdComPort.h"
#include "terminal/FrmTerminal.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>
#include <unistd.h>

namespace loader
{

TFrmLoadr *FrmLoadr = nullptr;
QPointer<TFrmAboutLdr> FrmAboutLdr;
QPointer<TFrmSupportBox> FrmSupportBox;
QPointer<terminal::TFrmTerminal> FrmTerminal;

namespace
{

constexpr int ToolTipDelayMs = 1000;

// The client area and the place of each control in it.
constexpr int ClientWidth = 344;
constexpr int ClientHeight = 166;
constexpr int SpeedBarHeight = 33;
constexpr int LightsPanelHeight = 32;
// The gang window opens at the right of this one, this far off.
constexpr int GangWindowGap = 8;

// Holds tool tips back for a second, the way the operator knows them from the original tool.
class ToolTipDelayStyle : public QProxyStyle
{
  public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay)
            return ToolTipDelayMs;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

void EnableToolTipHints()
{
    if (dynamic_cast<ToolTipDelayStyle *>(QApplication::style()))
        return;
    // A proxy built from the style's name, so the application's current style object (which the
    // application deletes when replaced) is not also owned by the proxy.
    QApplication::setStyle(new ToolTipDelayStyle(QApplication::style()->name()));
}

QFrame *RaisedPanel(QWidget *parent, const char *name)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

} // namespace

int HelpContextOf(const QObject *object)
{
    return object ? object->property(platform::HelpContextProperty).toInt()
                  : platform::NoHelpContext;
}

TFrmLoadr::TFrmLoadr(QWidget *parent)
    : QMainWindow(parent), Engine(new TUploadEngine(nullptr, this))
{
    FrmLoadr = this;
    setObjectName(QStringLiteral("FrmLoadr"));
    setWindowTitle(QStringLiteral("Tavrin Research, RS232 Flash File Loader"));
    setWindowIcon(LoaderWindowIcon());
    setProperty(platform::HelpContextProperty, platform::MainWindowHelpContext);

    CreateMenu();
    // The controls sit at fixed places in the client area; the status-light panel, when shown,
    // is added below it rather than covering the progress group.
    auto *frame = new QWidget(this);
    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *client = new QWidget(frame);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(ClientWidth, ClientHeight);
    column->addWidget(client);
    setCentralWidget(frame);
    CreateSpeedBar(client);
    CreateUploadControls(client);
    CreateProgressGroup(client);
    CreateOpenDialog();
    CreateLightsPanel();
    column->addWidget(PnlLights);

    Engine->setObjectName(QStringLiteral("Engine"));
    Engine->SetView(this);

    // The controls sit at fixed places, so the window keeps the size they need.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate();
}

TFrmLoadr::~TFrmLoadr()
{
    Engine->Close();
    Engine->SetView(nullptr);
    // The terminal window uses the settings object's port: it goes before the port does.
    if (FrmTerminal && FrmTerminal->parent() == this)
        delete FrmTerminal;
    // A settings object made for this window reports to it: it goes first, while this window can
    // still take its reports.
    if (FrmS_comm && FrmS_comm->parent() == this)
        delete FrmS_comm;
    if (FrmLoadr == this)
        FrmLoadr = nullptr;
}

QAction *TFrmLoadr::AddItem(QMenu *menu, const char *name, const char *caption, int helpContext)
{
    auto *item = new QAction(QString::fromLatin1(caption), this);
    item->setObjectName(QString::fromLatin1(name));
    item->setProperty(platform::HelpContextProperty, helpContext);
    menu->addAction(item);
    return item;
}

void TFrmLoadr::CreateMenu()
{
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    setMenuBar(MainMenu);

    Program1 = MainMenu->addMenu(QStringLiteral("&Program"));
    Program1->setObjectName(QStringLiteral("Program1"));
    MnuItmTermWin =
        AddItem(Program1, "MnuItmTermWin", "&Terminal Window", platform::TerminalHelpContext);
    MnuItmGang =
        AddItem(Program1, "MnuItmGang", "&Gang Upload...", platform::MainWindowHelpContext);
    MnuItmExit = AddItem(Program1, "MnuItmExit", "E&xit", platform::NoHelpContext);

    Configuration1 = MainMenu->addMenu(QStringLiteral("&Configuration"));
    Configuration1->setObjectName(QStringLiteral("Configuration1"));
    MnuItmStatusLght = AddItem(Configuration1, "MnuItmStatusLght", "&Status Lights",
                               platform::MainWindowHelpContext);
    MnuItmStatusLght->setCheckable(true);
    MnuItmRS232 =
        AddItem(Configuration1, "MnuItmRS232", "&RS232 Setup", platform::RS232HelpContext);
    MnuItmManualUl = AddItem(Configuration1, "MnuItmManualUl", "&Manual Upload",
                             platform::MainWindowHelpContext);
    MnuItmAutoUl = AddItem(Configuration1, "MnuItmAutoUl", "&Automatic Upload",
                           platform::MainWindowHelpContext);
    UploadMethodGroup = new QActionGroup(this);
    UploadMethodGroup->setObjectName(QStringLiteral("UploadMethodGroup"));
    UploadMethodGroup->setExclusive(true);
    for (QAction *item : {MnuItmManualUl, MnuItmAutoUl}) {
        item->setCheckable(true);
        UploadMethodGroup->addAction(item);
    }
    MnuItmAutoUl->setChecked(true);
    MnuItmLogging = AddItem(Configuration1, "MnuItmLogging", "&Logging", platform::NoHelpContext);
    MnuItmLogging->setCheckable(true);
    MnuItmLogging->setEnabled(false);

    Help1 = MainMenu->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    HelpTopics1 = AddItem(Help1, "HelpTopics1", "&Help Topics", platform::NoHelpContext);
    MnuItmSupport = AddItem(Help1, "MnuItmSupport", "&Support...", platform::AboutHelpContext);
    MnuItmAbout = AddItem(Help1, "MnuItmAbout", "&About...", platform::AboutHelpContext);

    for (QMenu *menu : {Program1, Configuration1, Help1})
        menu->installEventFilter(this);

    connect(MnuItmExit, &QAction::triggered, this, &TFrmLoadr::MnuItmExitClick);
    connect(MnuItmManualUl, &QAction::triggered, this, &TFrmLoadr::MnuItmManualUlClick);
    connect(MnuItmAutoUl, &QAction::triggered, this, &TFrmLoadr::MnuItmAutoUlClick);
    connect(HelpTopics1, &QAction::triggered, this, &TFrmLoadr::HelpTopics1Click);
    connect(MnuItmRS232, &QAction::triggered, this, &TFrmLoadr::MnuItmRS232Click);
    connect(MnuItmTermWin, &QAction::triggered, this, &TFrmLoadr::MnuItmTermWinClick);
    connect(MnuItmGang, &QAction::triggered, this, &TFrmLoadr::MnuItmGangClick);
    connect(MnuItmLogging, &QAction::triggered, this, &TFrmLoadr::MnuItmLoggingClick);
    connect(MnuItmStatusLght, &QAction::triggered, this, &TFrmLoadr::MnuItmStatusLghtClick);
    connect(MnuItmSupport, &QAction::triggered, this, &TFrmLoadr::MnuItmSupportClick);
    connect(MnuItmAbout, &QAction::triggered, this, &TFrmLoadr::MnuItmAboutClick);
}

// The caption at the left, then the four lamps, each under its label. The lamps show the port's
// lines once the controller watches them.
void TFrmLoadr::CreateLightsPanel()
{
    PnlLights = RaisedPanel(nullptr, "PnlLights");
    PnlLights->setFixedSize(ClientWidth, LightsPanelHeight);
    PnlLights->setToolTip(QStringLiteral("RS232 Status Lights"));
    auto *caption = new QLabel(QStringLiteral("Status Lights"), PnlLights);
    caption->setObjectName(QStringLiteral("LblStatusLights"));
    caption->setGeometry(8, 0, 120, LightsPanelHeight);
    caption->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);

    const auto lamp = [this](const char *name, const char *label, int left) {
        auto *text = new QLabel(QString::fromLatin1(label), PnlLights);
        text->setObjectName(QStringLiteral("Lbl") + QString::fromLatin1(name + 2));
        text->setGeometry(left, 1, 36, 14);
        text->setAlignment(Qt::AlignCenter);
        QFont small = text->font();
        small.setPixelSize(10);
        text->setFont(small);
        auto *light = new lights::TApdStatusLight(PnlLights);
        light->setObjectName(QString::fromLatin1(name));
        light->move(left + (36 - lights::TApdStatusLight::DefaultSize) / 2, 16);
        return light;
    };
    SLCts = lamp("SLCts", "CTS", 160);
    SLDsr = lamp("SLDsr", "DSR", 204);
    SLDcd = lamp("SLDcd", "DCD", 248);
    SLDer = lamp("SLDer", "ERR", 292);
    PnlLights->setVisible(false);

    ApdSLController2 = new lights::TApdSLController(this);
    ApdSLController2->setObjectName(QStringLiteral("ApdSLController2"));
    lights::TLightSet set;
    set.CTSLight = SLCts;
    set.DSRLight = SLDsr;
    set.DCDLight = SLDcd;
    set.ERRORLight = SLDer;
    ApdSLController2->SetLights(set);
    ApdSLController2->SetRXDOffTimeout(5);
    ApdSLController2->SetTXDOffTimeout(5);
}

void TFrmLoadr::CreateSpeedBar(QWidget *client)
{
    PnlSpeedBar = RaisedPanel(client, "PnlSpeedBar");
    PnlSpeedBar->setGeometry(0, 0, ClientWidth, SpeedBarHeight);

    const auto speedButton = [this](const char *name, const QIcon &glyph, const char *hint,
                                    int left) {
        auto *button = new QToolButton(PnlSpeedBar);
        button->setObjectName(QString::fromLatin1(name));
        button->setIcon(glyph);
        button->setIconSize(QSize(16, 16));
        button->setToolTip(QString::fromLatin1(hint));
        button->setGeometry(left, 4, 25, 25);
        return button;
    };
    SpdBtnTerm = speedButton("SpdBtnTerm", TerminalGlyph(), "Terminal Window", 6);
    SpdBtnComSet = speedButton("SpdBtnComSet", ComSetupGlyph(), "Communications Setup", 31);
    connect(SpdBtnComSet, &QToolButton::clicked, this, &TFrmLoadr::SpdBtnComSetClick);
    connect(SpdBtnTerm, &QToolButton::clicked, this, &TFrmLoadr::SpdBtnTermClick);
}

void TFrmLoadr::CreateUploadControls(QWidget *client)
{
    BtnUpload = new QPushButton(QStringLiteral("Start File Upload"), client);
    BtnUpload->setObjectName(QStringLiteral("BtnUpload"));
    BtnUpload->setGeometry(8, 41, 161, 25);
    connect(BtnUpload, &QPushButton::clicked, this, &TFrmLoadr::BtnUploadClick);

    PnlComLamp = RaisedPanel(client, "PnlComLamp");
    PnlComLamp->setGeometry(177, 41, 33, 25);
    PnlComLamp->setToolTip(QStringLiteral("Communication / Upload Status"));
    PnlComLamp->setAutoFillBackground(true);
    SetComLamp(LampRed());

    BtnULCancel = new QPushButton(CancelGlyph(), QStringLiteral("Cancel Upload"), client);
    BtnULCancel->setObjectName(QStringLiteral("BtnULCancel"));
    BtnULCancel->setGeometry(218, 41, 118, 25);
    BtnULCancel->setEnabled(false);
    connect(BtnULCancel, &QPushButton::clicked, this, &TFrmLoadr::BtnULCancelClick);
}

void TFrmLoadr::CreateProgressGroup(QWidget *client)
{
    GrpBxProgress = new QGroupBox(QStringLiteral("Progress"), client);
    GrpBxProgress->setObjectName(QStringLiteral("GrpBxProgress"));
    GrpBxProgress->setGeometry(8, 72, 328, 90);
    GrpBxProgress->setVisible(false);

    // Each label lies over the left end of its gauge: bold, on a transparent ground.
    const auto gaugeWithLabel = [this](const char *gaugeName, const QColor &color,
                                       const char *labelName, const char *caption, int top,
                                       QLabel *&label) {
        auto *gauge = new TGauge(GrpBxProgress);
        gauge->setObjectName(QString::fromLatin1(gaugeName));
        gauge->setGeometry(8, top, 312, 25);
        gauge->SetForeColor(color);
        label = new TGaugeLabel(QString::fromLatin1(caption), gauge, GrpBxProgress);
        label->setObjectName(QString::fromLatin1(labelName));
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        label->setGeometry(14, top + 1, 150, 23);
        label->raise();
        return gauge;
    };
    GgeScript = gaugeWithLabel("GgeScript", QColor(0, 128, 128), "LblScript", "Script Progress", 24,
                               LblScript);
    GgeUpload = gaugeWithLabel("GgeUpload", QColor(0, 0, 255), "LblUpload", "Upload Progress", 56,
                               LblUpload);
}

void TFrmLoadr::CreateOpenDialog()
{
    OpnDlgULFile = new QFileDialog(this);
    OpnDlgULFile->setObjectName(QStringLiteral("OpnDlgULFile"));
    OpnDlgULFile->setAcceptMode(QFileDialog::AcceptOpen);
    OpnDlgULFile->setFileMode(QFileDialog::ExistingFile);
    // "All Files" is every file: on this system "*.*" would skip names without a dot.
    OpnDlgULFile->setNameFilters(
        {QStringLiteral("Upload Script File (*.sld)"), QStringLiteral("All Files (*)")});
    // Picking a script never changes anything, so the dialog itself may not rename or delete.
    OpnDlgULFile->setOption(QFileDialog::ReadOnly, true);
}

void TFrmLoadr::FormCreate()
{
    EnableToolTipHints();

    const LoaderSettings settings = ReadLoaderSettings();
    IniFileName = settings.iniFileName;
    IniRefusal = settings.iniRefusal;
    Engine->ScriptFileName = settings.scriptFileName;
    Engine->UploadDelayMs = settings.uploadDelayMs;
    Engine->PostDelayMs = 0;
    if (settings.loggingAllowed)
        MnuItmLogging->setEnabled(true);
    if (settings.manualUpload)
        MnuItmManualUlClick();
    Engine->LogOpen = false;
}

void TFrmLoadr::FormShow()
{
    // The list is made once; showing the window again must not drop a running script's lines.
    if (firstShowDone_)
        return;
    firstShowDone_ = true;
    Engine->ScriptLines.clear();
}

void TFrmLoadr::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmLoadr::MnuItmManualUlClick()
{
    BtnUpload->setText(QStringLiteral("Select Upload Script"));
    MnuItmManualUl->setChecked(true);
}

void TFrmLoadr::MnuItmAutoUlClick()
{
    BtnUpload->setText(QStringLiteral("Start File Upload"));
    MnuItmAutoUl->setChecked(true);
}

void TFrmLoadr::HelpTopics1Click()
{
    platform::OpenHelp(platform::HelpFinder, 0);
}

void TFrmLoadr::MnuItmExitClick()
{
    if (platform::ShowMessage(platform::MsgType::Confirm, "Exit now ?",
                              platform::MsgButtons::OkCancel) == platform::MsgResult::Ok)
        close();
}

void TFrmLoadr::SetComBtnState(bool enabled)
{
    BtnUpload->setEnabled(enabled);
    SpdBtnTerm->setEnabled(enabled);
    MnuItmTermWin->setEnabled(enabled);
}

void TFrmLoadr::SetUploadBtnState(bool idle)
{
    SpdBtnComSet->setEnabled(idle);
    MnuItmRS232->setEnabled(idle);
    BtnULCancel->setEnabled(!idle);
    SetComBtnState(idle);
}

void TFrmLoadr::SpdBtnTermClick()
{
    // A terminal on a port that is not open takes no keys and shows nothing: the operator is
    // told instead, also when the window exists from an earlier request.
    const std::string unavailable = "Com port not available, can not open terminal.";
    if (!FrmS_comm || !FrmS_comm->SCommOpen()) {
        platform::ShowMessage(platform::MsgType::Error, unavailable, platform::MsgButtons::Ok);
        return;
    }
    if (!FrmTerminal) {
        platform::ShowingFailures([&] {
            FrmTerminal = new terminal::TFrmTerminal(
                FrmS_comm->ApdComPort1.get(),
                // A closed port has no triggers to arm; its next open arms them.
                [](bool on) {
                    if (FrmS_comm && (!on || FrmS_comm->SCommOpen()))
                        FrmS_comm->DataTriggerEnabled(on);
                },
                IniFileName, this);
        });
        if (!FrmTerminal)
            return;
        // Its own top-level window, freed with this one.
        FrmTerminal->setWindowFlag(Qt::Window);
        // Releasing the hold gives the line back to the terminal only while its window is
        // shown: a closed terminal window keeps its terminal off the line.
        SetTerminalActive = [](bool active) {
            if (FrmTerminal && (!active || FrmTerminal->isVisible()))
                platform::ShowingFailures([&] { FrmTerminal->ApdTerminal1->SetActive(active); });
        };
        // Creating the window reopens the port; one that did not open again says why.
        if (!FrmS_comm->SCommOpen()) {
            const std::string &reason = FrmTerminal->PortFailure();
            platform::ShowMessage(platform::MsgType::Error,
                                  reason.empty() ? unavailable : unavailable + "\r" + reason,
                                  platform::MsgButtons::Ok);
            return;
        }
    }
    FrmTerminal->show();
    if (FrmTerminal->isMinimized())
        FrmTerminal->showNormal();
    FrmTerminal->raise();
    FrmTerminal->activateWindow();
    TerminalCreated = true;
}

void TFrmLoadr::MnuItmTermWinClick()
{
    SpdBtnTermClick();
}

void TFrmLoadr::MnuItmGangClick()
{
    if (!FrmGang) {
        // A gang takes what this window uses now; reading loader.ini again would move the working
        // directory and could show boxes.
        FrmGang = new TFrmGang(
            [this] {
                LoaderSettings settings;
                settings.iniFileName = IniFileName;
                settings.scriptFileName = Engine->ScriptFileName;
                settings.uploadDelayMs = Engine->UploadDelayMs;
                return settings;
            },
            this);
        FrmGang->move(frameGeometry().topRight() + QPoint(GangWindowGap, 0));
    }
    FrmGang->show();
    if (FrmGang->isMinimized())
        FrmGang->showNormal();
    FrmGang->raise();
    FrmGang->activateWindow();
}

void TFrmLoadr::SpdBtnComSetClick()
{
    if (!FrmS_comm)
        return;
    FrmS_comm->exec();
    // A port the settings reopened armed the link's prompt and error triggers.
    LineBackToTerminal();
    // The port this window uses may have changed: the gang window may not offer it.
    if (FrmGang)
        FrmGang->FillPortList();
}

void TFrmLoadr::MnuItmRS232Click()
{
    SpdBtnComSetClick();
}

// Qt has already toggled the check mark when the item is triggered, so the mark tells the new
// state. The log goes before the trace when switching on and off alike.
void TFrmLoadr::MnuItmLoggingClick()
{
    if (!FrmS_comm)
        return;
    serial::TApdComPort &port = *FrmS_comm->ApdComPort1;
    platform::ShowingFailures([&] {
        if (MnuItmLogging->isChecked()) {
            port.SetLogging(serial::tlOn);
            port.SetTracing(serial::tlOn);
        } else {
            port.SetLogging(serial::tlDump);
            port.SetLogging(serial::tlOff);
            port.SetTracing(serial::tlDump);
            port.SetTracing(serial::tlOff);
        }
    });
}

// Qt has already toggled the check mark; the panel and the controller follow it.
void TFrmLoadr::MnuItmStatusLghtClick()
{
    const bool on = MnuItmStatusLght->isChecked();
    PnlLights->setVisible(on);
    // The window takes the panel's height, or gives it back, at once.
    centralWidget()->layout()->activate();
    layout()->activate();
    platform::ShowingFailures([&] { ApdSLController2->SetWatching(on); });
}

void TFrmLoadr::MnuItmSupportClick()
{
    if (FrmSupportBox)
        FrmSupportBox->exec();
}

void TFrmLoadr::MnuItmAboutClick()
{
    if (FrmAboutLdr)
        FrmAboutLdr->exec();
}

void TFrmLoadr::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    // First of all: no engine step may start once anything it uses goes away.
    Engine->Close();
    if (FrmGang)
        FrmGang->CloseRuns();

    if (MnuItmStatusLght->isChecked())
        platform::ShowingFailures([&] { ApdSLController2->SetWatching(false); });
    if (FrmS_comm) {
        serial::TApdComPort &port = *FrmS_comm->ApdComPort1;
        if (MnuItmLogging->isChecked())
            platform::ShowingFailures([&] {
                port.SetLogging(serial::tlDump);
                port.SetTracing(serial::tlDump);
            });
        platform::ShowingFailures([&] { FrmS_comm->SetUploadMode(false); });
        platform::ShowingFailures([&] {
            if (FrmS_comm->SCommOpen())
                port.SetOpen(false);
        });
    }
}

void TFrmLoadr::closeEvent(QCloseEvent *event)
{
    FormClose();
    QMainWindow::closeEvent(event);
}

void TFrmLoadr::BindLink()
{
    Engine->SetLink(FrmS_comm ? FrmS_comm->Services.get() : nullptr);
}

void TFrmLoadr::BtnUploadClick()
{
    if (Engine->Running() || closed_)
        return;
    BindLink();
    try {
        Engine->PrepareRun(UploadLogFile);
        if (MnuItmAutoUl->isChecked()) {
            Engine->ProcessScript(Engine->ScriptFileName);
            return;
        }
        if (OpnDlgULFile->exec() != QDialog::Accepted)
            return;
        const QStringList picked = OpnDlgULFile->selectedFiles();
        if (picked.isEmpty())
            return;
        Engine->ProcessScript(picked.front().toLocal8Bit().toStdString());
    } catch (const std::exception &e) {
        platform::ShowException(e);
    }
}

void TFrmLoadr::BtnULCancelClick()
{
    if (platform::ShowMessage(platform::MsgType::Warning, "Cancel current upload?",
                              platform::MsgButtons::YesNo) == platform::MsgResult::Yes)
        CancelRun();
}

void TFrmLoadr::CancelRun()
{
    Engine->CancelRun();
}

void TFrmLoadr::AbandonTransfer()
{
    Engine->AbandonTransfer();
}

void TFrmLoadr::ShowLamp(bool green)
{
    SetComLamp(green ? LampGreen() : LampRed());
}

void TFrmLoadr::ShowProgressGroup(bool visible)
{
    GrpBxProgress->setVisible(visible);
}

void TFrmLoadr::ShowScriptProgress(int percent)
{
    GgeScript->SetProgress(percent);
}

void TFrmLoadr::ShowUploadProgress(int percent)
{
    GgeUpload->SetProgress(percent);
}

void TFrmLoadr::ShowUploadCaption(const std::string &caption)
{
    LblUpload->setText(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
}

void TFrmLoadr::PaintNow()
{
    // The engine is about to block the GUI thread: what it set so far is painted first, or the
    // operator would never see the stages that last exactly as long as the wait.
    if (!isVisible())
        return;
    PnlComLamp->repaint();
    if (GrpBxProgress->isVisible())
        GrpBxProgress->repaint();
}

void TFrmLoadr::HoldTerminal(bool hold)
{
    if (TerminalCreated && SetTerminalActive)
        SetTerminalActive(!hold);
}

void TFrmLoadr::LineBackToTerminal()
{
    if (FrmS_comm && FrmS_comm->SCommOpen() && TerminalCreated && FrmTerminal &&
        FrmTerminal->isVisible())
        platform::ShowingFailures([] { FrmS_comm->DataTriggerEnabled(false); });
}

void TFrmLoadr::SetComLamp(const QColor &color)
{
    QPalette palette = PnlComLamp->palette();
    palette.setColor(QPalette::Window, color);
    PnlComLamp->setPalette(palette);
}

QColor TFrmLoadr::ComLamp() const
{
    return PnlComLamp->palette().color(QPalette::Window);
}

void TFrmLoadr::OpenHelpContext(int context)
{
    platform::OpenHelp(platform::HelpContext, context);
}

void TFrmLoadr::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OpenHelpContext(HelpContextOf(this));
        return;
    }
    QMainWindow::keyPressEvent(event);
}

// F1 in an open menu asks for the help of the highlighted item; an item without a context of its
// own, or no item at all, falls back to the window's.
bool TFrmLoadr::eventFilter(QObject *watched, QEvent *event)
{
    auto *menu = qobject_cast<QMenu *>(watched);
    if (menu && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F1) {
        int context = HelpContextOf(menu->activeAction());
        if (context == platform::NoHelpContext)
            context = HelpContextOf(this);
        menu->close();
        OpenHelpContext(context);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace loader
