#pragma once
// One port's tile in the gang window: the port's name and device, the file last sent, a gauge of
// that file's upload, the status lamp, and a line that tells what the run does or why it failed.
// The tile is the view of its port's engine.

#include "app/UploadEngine.h"

#include <QColor>
#include <QFrame>
#include <string>

class QLabel;

namespace loader
{

class TGauge;

class TGangTile : public QFrame, public TUploadView
{
    Q_OBJECT

  public:
    // Every tile is this wide, so the gang window can plan its columns before it has any.
    static constexpr int Width = 260;

    TGangTile(const std::string &name, const std::string &device, QWidget *parent = nullptr);

    // The end of the port's run: green and "OK", or red with the reason (whole in the tool tip,
    // as the line may be too narrow for it).
    void ShowOutcome(bool ok, const std::string &reason);

    QColor Lamp() const;
    // The line under the gauge: the run's stage, "OK", or the reason of the failure.
    std::string StatusText() const;

    QLabel *LblName;
    QLabel *LblDevice;
    QLabel *LblFile;
    TGauge *GgeUpload;
    QFrame *PnlLamp;
    QLabel *LblStatus;

  private:
    void ShowLamp(bool green) override;
    void ShowIdle(bool idle) override;
    void ShowUploadProgress(int percent) override;
    void ShowUploadCaption(const std::string &caption) override;
    void PaintNow() override;
    void SetStatus(const QString &text, const QString &toolTip = {});
};

} // namespace loader
