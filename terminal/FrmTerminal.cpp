#include "terminal/FrmTerminal.h"

#include "lights/ApdSLController.h"
#include "lights/ApdStatusLight.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"
#include "serial/ApdComPort.h"
#include "terminal/ApdEmulator.h"
#include "terminal/ApdKeyboardEmulator.h"
#include "terminal/TerminalFont.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <functional>
#include <strings.h>

namespace terminal
{

namespace
{

constexpr const char *IniSection = "Terminal";
constexpr const char *IniKey = "Emulation";
constexpr const char *EmulationNames[] = {"Plain", "ANSI", "VT100", "VT52"};

const char *ParityLetter(serial::TParity parity)
{
    static constexpr const char *letters[] = {"N", "O", "E", "M", "S"};
    return parity <= serial::pSpace ? letters[parity] : "?";
}

} // namespace

const char *EmulationName(TTerminalEmulation emulation)
{
    return EmulationNames[static_cast<int>(emulation)];
}

TTerminalEmulation EmulationFromName(const std::string &name)
{
    for (int i = 0; i < 4; ++i)
        if (strcasecmp(name.c_str(), EmulationNames[i]) == 0)
            return static_cast<TTerminalEmulation>(i);
    return TTerminalEmulation::Plain;
}

TFrmTerminal::TFrmTerminal(serial::TApdCustomComPort *port, TDataTriggerEnabled dataTriggerEnabled,
                           std::string iniFileName, QWidget *parent)
    : QMainWindow(parent), port_(port), dataTriggerEnabled_(std::move(dataTriggerEnabled)),
      iniFileName_(std::move(iniFileName))
{
    setObjectName(QStringLiteral("FrmTerminal"));
    setWindowTitle(QStringLiteral("RS232 Terminal"));
    setProperty(platform::HelpContextProperty, platform::TerminalHelpContext);

    ApdKeyboardEmulator1 = std::make_unique<TApdKeyboardEmulator>();
    ApdKeyboardEmulator1->SetMapFileName("AWKEYBRD.INI");
    ApdKeyboardEmulator1->SetProcessAllKeys(true);
    ApdKeyboardEmulator1->SetProcessExtended(true);

    auto *client = new QWidget(this);
    auto *column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    ApdTerminal1 = new TApdTerminal(client);
    ApdTerminal1->setObjectName(QStringLiteral("ApdTerminal1"));
    ApdTerminal1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    ApdTerminal1->SetScrollBars(ssBoth);
    ApdTerminal1->SetAutoScroll(asBoth);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamily(QStringLiteral("Terminal"));
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(12);
    ApdTerminal1->SetFont(font);
    ApdTerminal1->SetFontColor(0xC0C0C0);
    ApdTerminal1->SetDisplayRows(20);
    ApdTerminal1->SetDisplayColumns(80);
    ApdTerminal1->SetCaptureFile("APD.CAP");
    ApdTerminal1->SetBlinkTime(550);
    ApdTerminal1->SetPersistentMark(true);
    ApdTerminal1->SetHalfDuplex(false);
    ApdTerminal1->SetKeyBoardEmu(ApdKeyboardEmulator1.get());
    ApdTerminal1->SetComPort(port_);
    ApdTerminal1->OnTerminalStatus = [this](serial::TApdCustomComPort *, uint16_t row, uint16_t col,
                                            uint16_t, uint16_t) { TerminalStatus(row, col); };
    column->addWidget(ApdTerminal1, 1);
    column->addWidget(BuildLights());
    setCentralWidget(client);

    ApdSLController1 = new lights::TApdSLController(this, port_);
    lights::TLightSet set;
    set.RXDLight = Lights[0];
    set.TXDLight = Lights[1];
    set.CTSLight = Lights[2];
    set.DSRLight = Lights[3];
    set.DCDLight = Lights[4];
    set.BREAKLight = Lights[5];
    set.ERRORLight = Lights[6];
    ApdSLController1->SetLights(set);

    BuildMenus();
    BuildStatusLine();

    platform::TIniFile ini(iniFileName_);
    ApplyEmulation(EmulationFromName(ini.ReadString(IniSection, IniKey, "Plain")));

    resize(671, 341);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    qApp->installEventFilter(this);
    if (port_)
        port_->FreeNotification(this, [this](serial::TApdCustomComPort &) { port_ = nullptr; });

    FormCreate();
}

TFrmTerminal::~TFrmTerminal()
{
    qApp->removeEventFilter(this);
    if (port_)
        port_->RemoveFreeNotification(this);
    ApdTerminal1->SetEmulator(nullptr);
    ApdTerminal1->SetKeyBoardEmu(nullptr);
}

QWidget *TFrmTerminal::BuildLights()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("PnlLights"));
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(6, 3, 6, 3);
    static constexpr const char *captions[] = {"Rx", "Tx", "CTS", "DSR", "DCD", "BRK", "ERR"};
    for (size_t i = 0; i < Lights.size(); ++i) {
        Lights[i] = new lights::TApdStatusLight(panel);
        Lights[i]->setObjectName(QString::fromLatin1(captions[i]));
        row->addWidget(Lights[i]);
        row->addWidget(new QLabel(QString::fromLatin1(captions[i]), panel));
        row->addSpacing(8);
    }
    row->addStretch(1);
    return panel;
}

void TFrmTerminal::BuildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    // A capture that failed while writing is off by the time the menu opens again.
    connect(file, &QMenu::aboutToShow, this, [this] { UpdateCaptureItems(); });
    MnuClear = file->addAction(QStringLiteral("&Clear terminal"));
    connect(MnuClear, &QAction::triggered, this, [this] { ApdTerminal1->ClearBuffer(); });
    MnuScrollBack = file->addAction(QStringLiteral("Scroll Back"));
    MnuScrollBack->setCheckable(true);
    connect(MnuScrollBack, &QAction::triggered, this, [this] { ToggleScrollback(); });
    MnuCapture = file->addAction(QStringLiteral("Capture to file..."));
    connect(MnuCapture, &QAction::triggered, this, [this] { ChooseCaptureFile(); });
    MnuStopCapture = file->addAction(QStringLiteral("Stop capture"));
    connect(MnuStopCapture, &QAction::triggered, this, [this] { StopCapture(); });
    file->addSeparator();
    MnuExit = file->addAction(QStringLiteral("&Exit"));
    connect(MnuExit, &QAction::triggered, this, [this] { close(); });

    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    MnuCopy = edit->addAction(QStringLiteral("Copy"));
    connect(MnuCopy, &QAction::triggered, this, [this] { ApdTerminal1->CopyToClipboard(); });

    MnuFont = menuBar()->addAction(QStringLiteral("&Font"));
    connect(MnuFont, &QAction::triggered, this, [this] { ChooseFont(); });

    QMenu *emulation = menuBar()->addMenu(QStringLiteral("E&mulation"));
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    for (size_t i = 0; i < MnuEmulation.size(); ++i) {
        MnuEmulation[i] = emulation->addAction(QString::fromLatin1(EmulationNames[i]));
        MnuEmulation[i]->setCheckable(true);
        group->addAction(MnuEmulation[i]);
        connect(MnuEmulation[i], &QAction::triggered, this,
                [this, i] { SetEmulation(static_cast<TTerminalEmulation>(i)); });
    }
    UpdateCaptureItems();
}

void TFrmTerminal::BuildStatusLine()
{
    static constexpr const char *texts[] = {"COM? N81 19200", "01 01"};
    static constexpr int widths[] = {209, 45};
    for (size_t i = 0; i < sections_.size(); ++i) {
        sections_[i] = new QLabel(QString::fromLatin1(texts[i]), this);
        sections_[i]->setFixedWidth(widths[i]);
        statusBar()->addWidget(sections_[i]);
    }
    statusBar()->setSizeGripEnabled(true);
}

void TFrmTerminal::FormCreate()
{
    if (!port_)
        return;
    portFailure_.clear();
    try {
        port_->SetOpen(false);
        port_->SetOpen(true);
    } catch (const std::exception &e) {
        // Kept for whoever shows the window: a terminal on a closed port takes no keys.
        portFailure_ = e.what();
        return;
    }
    ApdTerminal1->SetActive(false);
    ApdSLController1->SetWatching(false);
}

void TFrmTerminal::FormShow()
{
    if (dataTriggerEnabled_)
        platform::ShowingFailures([&] { dataTriggerEnabled_(false); });
    if (!port_)
        return;
    platform::ShowingFailures([&] { ApdTerminal1->SetActive(true); });
    platform::ShowingFailures([&] { ApdSLController1->SetWatching(true); });
}

void TFrmTerminal::FormClose()
{
    if (dataTriggerEnabled_)
        platform::ShowingFailures([&] { dataTriggerEnabled_(true); });
    platform::ShowingFailures([&] { ApdTerminal1->SetActive(false); });
    platform::ShowingFailures([&] { ApdSLController1->SetWatching(false); });
}

void TFrmTerminal::FormActivate()
{
    // A port that is not open names no line.
    if (!port_ || !port_->Open()) {
        sections_[0]->setText(QString());
        return;
    }
    sections_[0]->setText(QStringLiteral(" COM%1 %2%3%4 %5")
                              .arg(port_->ComNumber())
                              .arg(port_->DataBits())
                              .arg(QString::fromLatin1(ParityLetter(port_->Parity())))
                              .arg(port_->StopBits())
                              .arg(port_->Baud()));
}

void TFrmTerminal::TerminalStatus(uint16_t row, uint16_t col)
{
    sections_[1]->setText(QString::asprintf("%2d %2d", int(row), int(col)));
    sections_[0]->setFixedWidth(155);
    sections_[1]->setFixedWidth(45);
}

QString TFrmTerminal::StatusText(int section) const
{
    return sections_.at(size_t(section))->text();
}

int TFrmTerminal::StatusWidth(int section) const
{
    return sections_.at(size_t(section))->maximumWidth();
}

void TFrmTerminal::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmTerminal::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

bool TFrmTerminal::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(event);
}

bool TFrmTerminal::eventFilter(QObject *watched, QEvent *event)
{
    // Insert toggles the scrollback and F1 opens this window's help, wherever the focus is in
    // this window (the terminal itself would send either key to the device).
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Insert) {
            ToggleScrollback();
            return true;
        }
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
            platform::OpenHelp(platform::HelpContext, platform::TerminalHelpContext);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrmTerminal::ToggleScrollback()
{
    ApdTerminal1->SetScrollback(!ApdTerminal1->Scrollback());
    MnuScrollBack->setChecked(ApdTerminal1->Scrollback());
}

void TFrmTerminal::ChooseFont()
{
    // Preset with the face in use: the family asked for may be one this system lacks. The dialog
    // lists only the families the font database marks fixed pitch; a face in use that is fixed
    // pitch without that mark (Noto Sans Mono) would not be there, and the dialog would open at
    // another family's first style instead, so then it lists every family. A proportional face
    // chosen there is refused like any other.
    const QFont current = ResolvedFont(ApdTerminal1->Font());
    const QFontDialog::FontDialogOptions options = QFontDatabase::isFixedPitch(current.family())
                                                       ? QFontDialog::MonospacedFonts
                                                       : QFontDialog::FontDialogOptions();
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, current, this, QString(), options);
    if (ok)
        ApdTerminal1->SetFont(font);
}

void TFrmTerminal::ApplyEmulation(TTerminalEmulation emulation)
{
    static constexpr uint8_t types[] = {etNone, etAnsi, etVt100, etVt52};
    std::unique_ptr<TApdCustomEmulator> next;
    if (emulation != TTerminalEmulation::Plain) {
        next = std::make_unique<TApdCustomEmulator>();
        next->SetEmulationType(types[static_cast<int>(emulation)]);
    }
    ApdTerminal1->SetEmulator(next.get());
    emulator_ = std::move(next);
    // A VT100 has 24 lines, and hosts that talk to one assume them (terminfo's vt100): on a page
    // of 25 their last line would be one row above ours, and a line feed there would not
    // scroll. The other emulations keep the page of 25.
    const uint16_t page = emulation == TTerminalEmulation::Vt100 ? 24 : 25;
    if (ApdTerminal1->PageHeight() != page)
        ApdTerminal1->SetPageHeight(page);
    emulation_ = emulation;
    MnuEmulation[static_cast<size_t>(emulation)]->setChecked(true);
}

void TFrmTerminal::SetEmulation(TTerminalEmulation emulation)
{
    ApplyEmulation(emulation);
    try {
        platform::TIniFile ini(iniFileName_);
        if (ini.ReadString(IniSection, IniKey, "") != EmulationName(emulation))
            ini.WriteString(IniSection, IniKey, EmulationName(emulation));
    } catch (const platform::EIniFileException &e) {
        platform::ShowException(e);
    }
}

void TFrmTerminal::ChooseCaptureFile()
{
    const QString name =
        QFileDialog::getSaveFileName(this, QStringLiteral("Capture to file"),
                                     QString::fromStdString(ApdTerminal1->CaptureFile()));
    if (!name.isEmpty())
        CaptureTo(name.toStdString());
}

void TFrmTerminal::CaptureTo(const std::string &fileName)
{
    platform::ShowingFailures([&] {
        ApdTerminal1->SetCaptureFile(fileName);
        ApdTerminal1->SetCapture(cmOn);
    });
    UpdateCaptureItems();
}

void TFrmTerminal::StopCapture()
{
    platform::ShowingFailures([&] { ApdTerminal1->SetCapture(cmOff); });
    UpdateCaptureItems();
}

void TFrmTerminal::UpdateCaptureItems()
{
    const bool capturing = ApdTerminal1->Capture() != cmOff;
    MnuCapture->setEnabled(!capturing);
    MnuStopCapture->setEnabled(capturing);
}

} // namespace terminal
