#include "app/FrmGang.h"

#include "app/BatchBoxes.h"
#include "app/GangTile.h"
#include "app/PortRun.h"
#include "link/FrmS_comm.h"
#include "link/LinkSettings.h"
#include "platform/Glyphs.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "serial/PosixDevice.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace loader
{
namespace
{

// "Direct to COM3" names port "COM3".
constexpr std::size_t PortNameOffset = 10;
constexpr int PortListHeight = 130;
constexpr int TileRowsShown = 2;
constexpr int TileSpacing = 6;
// Room for two tiles side by side and a row of them.
constexpr int InitialWidth = 600;
constexpr int InitialHeight = 400;

QString Latin1(const std::string &text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The main window's port, or 0 while it has none open.
uint16_t MainWindowPort()
{
    return FrmS_comm && FrmS_comm->SCommOpen() ? FrmS_comm->Link.CfgComNumber : 0;
}

// Few tiles side by side, many in rows of four, as far as the screen is wide enough.
int ColumnsFor(std::size_t tiles, int fit)
{
    return std::max(1, std::min(tiles <= 1 ? 1 : tiles <= 4 ? 2 : 4, fit));
}

} // namespace

TFrmGang::TFrmGang(TSettingsSource settings, QWidget *parent)
    : QWidget(parent, Qt::Window), settings_(std::move(settings))
{
    setObjectName(QStringLiteral("FrmGang"));
    setWindowTitle(QStringLiteral("Gang Upload"));
    setWindowIcon(LoaderWindowIcon());
    setProperty(platform::HelpContextProperty, platform::MainWindowHelpContext);

    LstPorts = new QTreeWidget(this);
    LstPorts->setObjectName(QStringLiteral("LstPorts"));
    LstPorts->setColumnCount(2);
    LstPorts->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Device")});
    LstPorts->setRootIsDecorated(false);
    LstPorts->setFixedHeight(PortListHeight);
    LstPorts->header()->setSectionResizeMode(PortColumn, QHeaderView::ResizeToContents);
    connect(LstPorts, &QTreeWidget::itemChanged, this, &TFrmGang::UpdateButtons);

    BtnStart = new QPushButton(QStringLiteral("Start"), this);
    BtnStart->setObjectName(QStringLiteral("BtnStart"));
    connect(BtnStart, &QPushButton::clicked, this, &TFrmGang::BtnStartClick);
    BtnCancel = new QPushButton(CancelGlyph(), QStringLiteral("Cancel"), this);
    BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
    connect(BtnCancel, &QPushButton::clicked, this, &TFrmGang::BtnCancelClick);
    LblStatus = new QLabel(this);
    LblStatus->setObjectName(QStringLiteral("LblStatus"));

    pnlTiles_ = new QWidget;
    pnlTiles_->setObjectName(QStringLiteral("PnlTiles"));
    tileGrid_ = new QGridLayout(pnlTiles_);
    tileGrid_->setSpacing(TileSpacing);
    tileGrid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    ScrTiles = new QScrollArea(this);
    ScrTiles->setObjectName(QStringLiteral("ScrTiles"));
    ScrTiles->setWidget(pnlTiles_);
    ScrTiles->setWidgetResizable(true);
    ScrTiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BtnStart);
    buttons->addWidget(BtnCancel);
    buttons->addSpacing(TileSpacing);
    buttons->addWidget(LblStatus, 1);
    auto *column = new QVBoxLayout(this);
    column->addWidget(LstPorts);
    column->addLayout(buttons);
    column->addWidget(ScrTiles, 1);

    FillPortList();
    resize(InitialWidth, InitialHeight);
}

TFrmGang::~TFrmGang()
{
    // The runs show on the tiles: they go first.
    runs_.clear();
}

void TFrmGang::FillPortList()
{
    std::vector<QString> checked;
    for (int i = 0; i < LstPorts->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = LstPorts->topLevelItem(i);
        if (item->checkState(PortColumn) == Qt::Checked)
            checked.push_back(item->data(PortColumn, Qt::UserRole).toString());
    }
    {
        const QSignalBlocker quiet(LstPorts);
        FillPorts(checked);
    }
    UpdateButtons();
}

void TFrmGang::FillPorts(const std::vector<QString> &checked)
{
    LstPorts->clear();
    if (!FrmS_comm)
        return;
    const uint16_t mainPort = MainWindowPort();
    for (const std::string &entry : FrmS_comm->ComPortList) {
        const std::string name = entry.substr(PortNameOffset);
        const auto number = static_cast<uint16_t>(std::stoi(name.substr(3)));
        const QString device = Latin1(serial::DevicePathFor(name));
        auto *item = new QTreeWidgetItem(LstPorts);
        item->setData(PortColumn, Qt::UserRole, Latin1(name));
        item->setData(DeviceColumn, Qt::UserRole, number);
        item->setText(DeviceColumn, device);
        item->setToolTip(DeviceColumn, device);
        if (number == mainPort) {
            item->setText(PortColumn, Latin1(name) + QStringLiteral(" (main window)"));
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
            continue;
        }
        item->setText(PortColumn, Latin1(name));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool wasChecked =
            std::find(checked.begin(), checked.end(), Latin1(name)) != checked.end();
        item->setCheckState(PortColumn, wasChecked ? Qt::Checked : Qt::Unchecked);
    }
}

bool TFrmGang::Running() const
{
    return !runs_.empty();
}

void TFrmGang::BtnStartClick()
{
    if (Running())
        return;
    std::vector<GangPort> ports;
    for (int i = 0; i < LstPorts->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = LstPorts->topLevelItem(i);
        if (!(item->flags() & Qt::ItemIsEnabled) || item->checkState(PortColumn) != Qt::Checked)
            continue;
        const std::string name = item->data(PortColumn, Qt::UserRole).toString().toStdString();
        ports.push_back({name, item->text(DeviceColumn).toStdString(), "loader-" + name + ".log",
                         static_cast<uint16_t>(item->data(DeviceColumn, Qt::UserRole).toUInt())});
    }
    if (ports.empty())
        return;

    ClearTiles();
    tileColumns_ = ColumnsFor(ports.size(), ColumnsThatFit());
    const LoaderSettings settings = settings_();
    // Read once for every port: a value the file gets wrong is told once, not per port.
    LinkState link;
    ReadLinkSettings(settings.iniFileName, link);
    // Batch answers: an error box ends its port's run (Abort); questions change nothing.
    const TMessageSink unattended = [](platform::MsgType, const std::string &,
                                       platform::MsgButtons buttons) {
        return BatchAnswer(buttons, BatchPolicy::Abort);
    };
    for (const GangPort &port : ports) {
        auto *tile = new TGangTile(port.name, port.device, pnlTiles_);
        AddTile(tile);
        auto run = std::make_unique<TPortRun>(port, settings, link, unattended);
        run->Engine().SetView(tile);
        run->Engine().OnRunEnded = [this, index = runs_.size()] { RunEnded(index); };
        runs_.push_back(std::move(run));
    }
    WidenForTiles();
    LblStatus->setText(QStringLiteral("Uploading to %1 ports").arg(runs_.size()));
    UpdateButtons();

    std::vector<bool> opened;
    for (const auto &run : runs_)
        opened.push_back(run->Open());
    for (std::size_t i = 0; i < runs_.size(); ++i)
        if (!opened[i] || !runs_[i]->Start())
            Tiles[i]->ShowOutcome(false, runs_[i]->Reason());
    RunEnded(runs_.size());
}

void TFrmGang::BtnCancelClick()
{
    for (const auto &run : runs_)
        run->Cancel();
}

void TFrmGang::CloseRuns()
{
    runsClosed_ = true;
    for (const auto &run : runs_)
        run->Close();
    close();
}

// `index` is the port whose run has ended, or past the last one when none has.
void TFrmGang::RunEnded(std::size_t index)
{
    if (index < runs_.size())
        Tiles[index]->ShowOutcome(!runs_[index]->Failed(), runs_[index]->Reason());
    const bool anyRunning =
        std::any_of(runs_.begin(), runs_.end(), [](const auto &run) { return run->Running(); });
    if (anyRunning || finishPending_)
        return;
    // The last run ends inside its own step: the runs may go only once that step has returned.
    finishPending_ = true;
    QTimer::singleShot(0, this, &TFrmGang::Finish);
}

void TFrmGang::Finish()
{
    finishPending_ = false;
    const auto failed =
        std::count_if(runs_.begin(), runs_.end(), [](const auto &run) { return run->Failed(); });
    const auto total = static_cast<qsizetype>(runs_.size());
    LblStatus->setText(
        QStringLiteral("%1 ports: %2 ok, %3 failed").arg(total).arg(total - failed).arg(failed));
    runs_.clear();
    // The main window may have moved to another port meanwhile.
    FillPortList();
}

void TFrmGang::UpdateButtons()
{
    bool anyChecked = false;
    for (int i = 0; i < LstPorts->topLevelItemCount(); ++i)
        anyChecked |= LstPorts->topLevelItem(i)->checkState(PortColumn) == Qt::Checked;
    BtnStart->setEnabled(!Running() && anyChecked);
    BtnCancel->setEnabled(Running());
    LstPorts->setEnabled(!Running());
}

void TFrmGang::ClearTiles()
{
    for (TGangTile *tile : Tiles)
        delete tile;
    Tiles.clear();
}

void TFrmGang::AddTile(TGangTile *tile)
{
    const auto index = static_cast<int>(Tiles.size());
    tileGrid_->addWidget(tile, index / tileColumns_, index % tileColumns_);
    Tiles.push_back(tile);
}

int TFrmGang::TileAreaChrome() const
{
    const QMargins margins = tileGrid_->contentsMargins();
    return 2 * ScrTiles->frameWidth() + ScrTiles->verticalScrollBar()->sizeHint().width() +
           margins.left() + margins.right();
}

int TFrmGang::ColumnsThatFit() const
{
    const int around = width() - ScrTiles->width() + TileAreaChrome();
    return (screen()->availableGeometry().width() - around + TileSpacing) /
           (TGangTile::Width + TileSpacing);
}

// Wide enough for a row of tiles, high enough for the first rows of them, and on the screen. The
// tiles are not shown yet, so the grid cannot tell its size: it is reckoned from one tile's.
void TFrmGang::WidenForTiles()
{
    if (Tiles.empty())
        return;
    const int rows = (static_cast<int>(Tiles.size()) + tileColumns_ - 1) / tileColumns_;
    const QMargins margins = tileGrid_->contentsMargins();
    const int tileHeight = Tiles.front()->sizeHint().height();
    ScrTiles->setMinimumWidth(tileColumns_ * (TGangTile::Width + TileSpacing) - TileSpacing +
                              TileAreaChrome());
    layout()->activate();
    const int shownHeight = std::min(rows, TileRowsShown) * (tileHeight + TileSpacing) -
                            TileSpacing + margins.top() + margins.bottom();
    const int wantedHeight =
        height() - ScrTiles->height() + shownHeight + 2 * ScrTiles->frameWidth();
    resize(width(), std::max(height(), wantedHeight));

    const QRect screenArea = screen()->availableGeometry();
    const QRect frame = frameGeometry();
    const int left =
        std::max(screenArea.left(), std::min(frame.left(), screenArea.right() - frame.width()));
    const int top =
        std::max(screenArea.top(), std::min(frame.top(), screenArea.bottom() - frame.height()));
    move(left, top);
}

void TFrmGang::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FillPortList();
}

void TFrmGang::closeEvent(QCloseEvent *event)
{
    // Once the owner has closed the runs there is nothing left to cancel or to ask about.
    if (Running() && !runsClosed_ &&
        platform::ShowMessage(platform::MsgType::Warning, "Cancel the gang upload?",
                              platform::MsgButtons::YesNo) != platform::MsgResult::Yes) {
        event->ignore();
        return;
    }
    BtnCancelClick();
    QWidget::closeEvent(event);
}

void TFrmGang::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        platform::OpenHelp(platform::HelpContext, platform::MainWindowHelpContext);
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace loader
