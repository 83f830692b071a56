#include "app/GangTile.h"

#include "app/FrmLoadr.h"
#include "app/Gauge.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>

namespace loader
{
namespace
{

constexpr int GaugeHeight = 22;
constexpr int LampWidth = 33;
constexpr int LampHeight = 18;
// Room for most reasons: the whole text is in the tool tip.
constexpr int StatusLines = 2;

// A label of a fixed number of lines whose text wraps at blanks and is cut with an ellipsis at the
// end of its last line, so a long device path or reason never widens the tile; the whole text
// stays in text() and the tool tip.
class ElidedLabel : public QLabel
{
  public:
    explicit ElidedLabel(const QString &text, QWidget *parent, int lines = 1)
        : QLabel(text, parent), lines_(lines)
    {
        setFixedHeight(lines_ * fontMetrics().lineSpacing());
    }

    QSize minimumSizeHint() const override { return {0, height()}; }
    QSize sizeHint() const override { return {0, height()}; }

  protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QFontMetrics metrics = fontMetrics();
        const int width = contentsRect().width();
        const QString whole = text();
        QTextLayout layout(whole, font());
        layout.beginLayout();
        for (int n = 0, y = metrics.ascent(); n < lines_; ++n, y += metrics.lineSpacing()) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            const bool last = n == lines_ - 1;
            const QString part =
                last ? whole.mid(line.textStart()) : whole.mid(line.textStart(), line.textLength());
            painter.drawText(QPoint(0, y), metrics.elidedText(part, Qt::ElideRight, width));
        }
        layout.endLayout();
    }

  private:
    int lines_;
};

QString Latin1(const std::string &text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TGangTile::TGangTile(const std::string &name, const std::string &device, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(Latin1("Tile" + name));
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    setFixedWidth(Width);

    LblName = new QLabel(Latin1(name), this);
    LblName->setObjectName(QStringLiteral("LblName"));
    QFont bold = LblName->font();
    bold.setBold(true);
    LblName->setFont(bold);

    PnlLamp = new QFrame(this);
    PnlLamp->setObjectName(QStringLiteral("PnlLamp"));
    PnlLamp->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PnlLamp->setFixedSize(LampWidth, LampHeight);
    PnlLamp->setToolTip(QStringLiteral("Communication / Upload Status"));
    PnlLamp->setAutoFillBackground(true);

    LblDevice = new ElidedLabel(Latin1(device), this);
    LblDevice->setObjectName(QStringLiteral("LblDevice"));
    LblDevice->setToolTip(Latin1(device));

    LblFile = new ElidedLabel(QStringLiteral("File: -"), this);
    LblFile->setObjectName(QStringLiteral("LblFile"));

    GgeUpload = new TGauge(this);
    GgeUpload->setObjectName(QStringLiteral("GgeUpload"));
    GgeUpload->SetForeColor(QColor(0, 0, 255));
    GgeUpload->setFixedHeight(GaugeHeight);

    LblStatus = new ElidedLabel({}, this, StatusLines);
    LblStatus->setObjectName(QStringLiteral("LblStatus"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(LblName, 0, 0);
    grid->addWidget(PnlLamp, 0, 1, Qt::AlignRight);
    grid->addWidget(LblDevice, 1, 0, 1, 2);
    grid->addWidget(LblFile, 2, 0, 1, 2);
    grid->addWidget(GgeUpload, 3, 0, 1, 2);
    grid->addWidget(LblStatus, 4, 0, 1, 2);
    grid->setColumnStretch(0, 1);

    ShowLamp(false);
    SetStatus(QStringLiteral("Waiting"));
}

void TGangTile::ShowOutcome(bool ok, const std::string &reason)
{
    ShowLamp(ok);
    if (ok) {
        GgeUpload->SetProgress(100);
        SetStatus(QStringLiteral("OK"));
        return;
    }
    QPalette palette = LblStatus->palette();
    palette.setColor(QPalette::WindowText, LampRed());
    LblStatus->setPalette(palette);
    SetStatus(Latin1(reason), Latin1(reason));
}

QColor TGangTile::Lamp() const
{
    return PnlLamp->palette().color(QPalette::Window);
}

std::string TGangTile::StatusText() const
{
    return LblStatus->text().toStdString();
}

void TGangTile::ShowLamp(bool green)
{
    QPalette palette = PnlLamp->palette();
    palette.setColor(QPalette::Window, green ? LampGreen() : LampRed());
    PnlLamp->setPalette(palette);
}

void TGangTile::ShowIdle(bool idle)
{
    if (!idle)
        SetStatus(QStringLiteral("Running script"));
}

void TGangTile::ShowUploadProgress(int percent)
{
    GgeUpload->SetProgress(percent);
}

// The caption tells the stage; between files the tile keeps the name of the last one sent.
void TGangTile::ShowUploadCaption(const std::string &caption)
{
    if (caption == VerifyingCaption) {
        SetStatus(QStringLiteral("Verifying"));
    } else if (caption == IdleCaption) {
        SetStatus(QStringLiteral("Running script"));
    } else {
        LblFile->setText(QStringLiteral("File: ") + Latin1(caption));
        LblFile->setToolTip(Latin1(caption));
        SetStatus(QStringLiteral("Uploading"));
    }
}

void TGangTile::PaintNow()
{
    if (isVisible())
        repaint();
}

void TGangTile::SetStatus(const QString &text, const QString &toolTip)
{
    LblStatus->setText(text);
    LblStatus->setToolTip(toolTip);
}

} // namespace loader
