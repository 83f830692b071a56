#pragma once
// The gang upload window: the same script on several ports at once, one engine and link per port
// beside the main window's own. It lists the settings dialog's ports to check (the main window's
// open port is shown but cannot be checked: a device opens only once), and shows one tile per
// port of the run. Boxes of a port are answered as in batch mode with Abort, never shown: a box
// per device would bury the operator. The box that ended a port's run is its tile's reason.

#include "app/LoaderSettings.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QTreeWidget;

namespace loader
{

class TGangTile;
class TPortRun;

class TFrmGang : public QWidget
{
    Q_OBJECT

  public:
    // Gives the settings for a new gang when it starts: those the main window uses now.
    using TSettingsSource = std::function<LoaderSettings()>;

    explicit TFrmGang(TSettingsSource settings, QWidget *parent = nullptr);
    ~TFrmGang() override;
    TFrmGang(const TFrmGang &) = delete;
    TFrmGang &operator=(const TFrmGang &) = delete;

    // Lists the settings dialog's ports again, keeping the checks of those still listed; the
    // main window's port may have changed.
    void FillPortList();
    // A new tile and run for each checked port: every port is opened, then those that opened start.
    void BtnStartClick();
    void BtnCancelClick();
    // The owner is going away: no run takes a further step, every port is closed, and the window
    // closes without a question.
    void CloseRuns();
    bool Running() const;

    // Columns of the port list: the entry ("COM3"), and the device it opens.
    static constexpr int PortColumn = 0;
    static constexpr int DeviceColumn = 1;

    QTreeWidget *LstPorts;
    QPushButton *BtnStart;
    QPushButton *BtnCancel;
    QLabel *LblStatus;
    QScrollArea *ScrTiles;
    // The tiles of the last run, in the order of the list.
    std::vector<TGangTile *> Tiles;

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void FillPorts(const std::vector<QString> &checked);
    void ClearTiles();
    void AddTile(TGangTile *tile);
    void RunEnded(std::size_t index);
    // Runs once all runs have ended, outside their steps: the count, and the ports released.
    void Finish();
    void UpdateButtons();
    // The tile area's frame, scroll bar and margins, and how many columns of tiles the screen
    // has room for.
    int TileAreaChrome() const;
    int ColumnsThatFit() const;
    void WidenForTiles();

    TSettingsSource settings_;
    QWidget *pnlTiles_;
    QGridLayout *tileGrid_;
    int tileColumns_ = 2;
    std::vector<std::unique_ptr<TPortRun>> runs_;
    bool finishPending_ = false;
    bool runsClosed_ = false; // CloseRuns has run
};

} // namespace loader
