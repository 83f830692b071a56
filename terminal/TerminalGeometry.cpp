#include "terminal/Terminal.h"

#include "serial/Dispatcher.h"
#include "terminal/TerminalFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

namespace terminal
{

// ---- font and sizes ------------------------------------------------------------------------

void TTerminal::tSetInitialSizes()
{
    ReadClientSize(false);
    wmSetFont();
}

void TTerminal::wmSetFont()
{
    // The system's fixed font, or the first installed family that is fixed pitch: the window is
    // never left without a font or with a cell of nothing.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    ApplyFont(FixedFontFor(font));
}

bool TTerminal::wmSetFont(const QFont &font)
{
    if (!HasFixedAdvance(font))
        return false;
    ApplyFont(font);
    return true;
}

void TTerminal::ApplyFont(const QFont &font)
{
    font_ = font;
    const QFontMetrics metrics(font_);
    // The advance of one glyph rather than an average, so that runs of text land on cells.
    const int width = std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1);
    const int height = std::max(metrics.height(), 1);
    caretWidth_ = width;
    caretHeight_ = height;
    ascent_ = metrics.ascent();
    LoadGlyphs();
    // Shown at once: the window, the bars and the view settle as after a resize, counted on the
    // window as it is now; then the view takes in the cursor, wherever the new cells put it.
    buffer_->bUpdateFont(height, width);
    ReadClientSize(false);
    CountVisible();
    SettleSize(false);
    ViewToCursor();
    if (hasFocus_)
        tMakeCaret();
    updateGeometry();
}

void TTerminal::ViewToCursor()
{
    TBuffer &b = *buffer_;
    const int rows = std::max(b.VisibleRows, 1), columns = std::max(b.VisibleColumns, 1);
    b.FirstVisibleRow = std::clamp(b.FirstVisibleRow, b.CursorRow - rows + 1, b.CursorRow);
    b.FirstVisibleColumn =
        std::clamp(b.FirstVisibleColumn, b.CursorColumn - columns + 1, b.CursorColumn);
    SyncBarsAndView();
    RedrawWhole();
}

void TTerminal::ReadClientSize(bool limitToPage)
{
    TBuffer &b = *buffer_;
    // From the window's own size, not the viewport's: a hidden window (one whose owner is not
    // shown yet) lays out its viewport only when it is shown.
    const QSize area = ClientArea();
    b.ClientWidth = area.width();
    b.ClientHeight = area.height();
    if (limitToPage) {
        b.ClientWidth = std::min(b.ClientWidth, b.Columns * b.CharWidth);
        b.ClientHeight = std::min(b.ClientHeight, b.PageHeight * b.CharHeight);
    }
}

void TTerminal::CountVisible()
{
    TBuffer &b = *buffer_;
    b.VisibleRows = b.CharHeight > 0 ? b.ClientHeight / b.CharHeight : 0;
    b.VisibleColumns = b.CharWidth > 0 ? b.ClientWidth / b.CharWidth : 0;
}

void TTerminal::RecalculateVisible()
{
    TBuffer &b = *buffer_;
    b.PreviousVisibleRows = b.VisibleRows;
    b.PreviousVisibleColumns = b.VisibleColumns;
    CountVisible();
}

QSize TTerminal::ClientArea() const
{
    const QSize bars = BarExtents();
    return QSize(std::max(width() - 2 * frameWidth() - bars.width(), 0),
                 std::max(height() - 2 * frameWidth() - bars.height(), 0));
}

QSize TTerminal::BarExtents() const
{
    return QSize(vBarShown_ ? verticalScrollBar()->sizeHint().width() : 0,
                 hBarShown_ ? horizontalScrollBar()->sizeHint().height() : 0);
}

QSize TTerminal::MaximumWindowSize() const
{
    const TBuffer &b = *buffer_;
    const int frame = 2 * frameWidth();
    const QSize bars = BarExtents();
    QSize size(b.Columns * b.CharWidth + frame + bars.width(),
               b.PageHeight * b.CharHeight + frame + bars.height());
    if (const QScreen *s = screen())
        size = size.boundedTo(s->availableSize());
    return size;
}

QSize TTerminal::sizeHint() const
{
    return MaximumWindowSize();
}

void TTerminal::FitInto(const QSize &room)
{
    // The bars the room needs decide how much of it the cells get, and the cells decide which
    // bars are needed: settled before the size is taken, so that a bar appearing afterwards
    // does not cost the other direction a column or a row.
    const TBuffer &b = *buffer_;
    const int frame = 2 * frameWidth();
    const int pageWidth = b.Columns * b.CharWidth;
    const int pageHeight = b.PageHeight * b.CharHeight;
    bool vertical = vBarShown_, horizontal = hBarShown_;
    for (int pass = 0; pass < 3; ++pass) {
        const int width =
            room.width() - frame - (vertical ? verticalScrollBar()->sizeHint().width() : 0);
        const int height =
            room.height() - frame - (horizontal ? horizontalScrollBar()->sizeHint().height() : 0);
        const bool needVertical =
            (style_ & tsAutoVScroll) ? scrollback_ || height < pageHeight : vertical;
        const bool needHorizontal = (style_ & tsAutoHScroll) ? width < pageWidth : horizontal;
        if (needVertical == vertical && needHorizontal == horizontal)
            break;
        vertical = needVertical;
        horizontal = needHorizontal;
    }
    ShowBar(true, vertical);
    ShowBar(false, horizontal);
    setMaximumSize(MaximumWindowSize());
    resize(room.boundedTo(maximumSize()));
}

void TTerminal::ResizeWindowTo(int clientWidth, int clientHeight)
{
    const int frame = 2 * frameWidth();
    const QSize bars = BarExtents();
    const QSize target(clientWidth + frame + bars.width(), clientHeight + frame + bars.height());
    if (target == size())
        return;
    const bool wasAdjusting = adjusting_;
    adjusting_ = true;
    resize(target);
    adjusting_ = wasAdjusting;
}

void TTerminal::tAdjustMaxSize()
{
    setMaximumSize(MaximumWindowSize());
    const TBuffer &b = *buffer_;
    const int pageWidth = b.Columns * b.CharWidth;
    const int pageHeight = b.PageHeight * b.CharHeight;
    if (b.ClientWidth > pageWidth || b.ClientHeight > pageHeight)
        ResizeWindowTo(std::min(b.ClientWidth, pageWidth), std::min(b.ClientHeight, pageHeight));
}

void TTerminal::tAdjustIntSize()
{
    const TBuffer &b = *buffer_;
    if (b.CharWidth <= 0 || b.CharHeight <= 0)
        return;
    int width = b.ClientWidth;
    int height = b.ClientHeight;
    if (style_ & tsIntegralWidth)
        width -= width % b.CharWidth;
    if (style_ & tsIntegralHeight)
        height -= height % b.CharHeight;
    if (width != b.ClientWidth || height != b.ClientHeight)
        ResizeWindowTo(width, height);
}

bool TTerminal::tFullWidth() const
{
    const TBuffer &b = *buffer_;
    return b.ClientWidth + BarExtents().width() >= b.CharWidth * b.Columns;
}

bool TTerminal::tFullHeight() const
{
    const TBuffer &b = *buffer_;
    return b.ClientHeight + BarExtents().height() >= b.CharHeight * b.PageHeight;
}

void TTerminal::wmSize(int width, int height)
{
    TBuffer &b = *buffer_;
    const bool changed = width != b.ClientWidth || height != b.ClientHeight;
    b.ClientWidth = width;
    b.ClientHeight = height;
    SettleSize(changed);
}

void TTerminal::SettleSize(bool keepBottom)
{
    tAdjustMaxSize();
    ReadClientSize(false);
    if (tFullWidth() && tFullHeight() && !scrollback_) {
        // The whole page fits: no bars, and the area is exactly the page.
        if (style_ & tsAutoVScroll)
            ShowBar(true, false);
        if (style_ & tsAutoHScroll)
            ShowBar(false, false);
        ReadClientSize(true);
    } else if (style_ & (tsIntegralWidth | tsIntegralHeight)) {
        tAdjustIntSize();
        ReadClientSize(false);
    }
    RecalculateVisible();
    SyncBarsAndView();
    if (keepBottom)
        tAdjustClient();
    buffer_->bInvalidateAll();
}

void TTerminal::SyncBarsAndView()
{
    // A bar that comes or goes changes the area the other bar is measured against: both are
    // checked again on the new area until neither changes (a bar can appear only once).
    for (int pass = 0; pass < 3; ++pass) {
        const bool vertical = vBarShown_, across = hBarShown_;
        tCheckVScroll();
        tCheckHScroll();
        if (vertical == vBarShown_ && across == hBarShown_)
            return;
        setMaximumSize(MaximumWindowSize());
        ReadClientSize(!scrollback_);
        CountVisible();
    }
}

void TTerminal::tAdjustClient()
{
    TBuffer &b = *buffer_;
    const bool cursorShown = b.CursorRow >= b.FirstVisibleRow &&
                             b.CursorRow < b.FirstVisibleRow + std::max(b.PreviousVisibleRows, 1);
    if (b.PreviousVisibleRows > 0)
        b.FirstVisibleRow += b.PreviousVisibleRows - b.VisibleRows; // the bottom stays in place
    // Unless that hides a cursor that was in view (one near the top of a window made smaller).
    if (cursorShown)
        b.FirstVisibleRow = std::clamp(b.FirstVisibleRow,
                                       b.CursorRow - std::max(b.VisibleRows, 1) + 1, b.CursorRow);
    if (b.PreviousVisibleColumns > 0 && b.VisibleColumns > b.PreviousVisibleColumns)
        b.FirstVisibleColumn -= b.VisibleColumns - b.PreviousVisibleColumns;
    b.PreviousVisibleRows = b.VisibleRows;
    b.PreviousVisibleColumns = b.VisibleColumns;
    SyncBarsAndView();
    RedrawWhole();
}

void TTerminal::tForceSize(int columns, int rows)
{
    TBuffer &b = *buffer_;
    columns = std::clamp(columns, 1, std::max(b.Columns, 1));
    rows = std::clamp(rows, 1, std::max(b.PageHeight, 1));
    // The bars the new size will need, so that the area comes out exact.
    if (style_ & tsAutoVScroll)
        ShowBar(true, scrollback_ || rows < b.PageHeight);
    if (style_ & tsAutoHScroll)
        ShowBar(false, columns < b.Columns);
    setMaximumSize(MaximumWindowSize().expandedTo(QSize(0, 0)));
    ResizeWindowTo(columns * b.CharWidth, rows * b.CharHeight);
    b.RegionBottom = b.PageHeight;
    wmSize(ClientArea().width(), ClientArea().height());
}

// ---- scroll bars ---------------------------------------------------------------------------

void TTerminal::ShowBar(bool vertical, bool shown)
{
    bool &current = vertical ? vBarShown_ : hBarShown_;
    if (current == shown)
        return;
    current = shown;
    const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    const bool wasAdjusting = adjusting_;
    adjusting_ = true;
    if (vertical)
        setVerticalScrollBarPolicy(policy);
    else
        setHorizontalScrollBarPolicy(policy);
    adjusting_ = wasAdjusting;
}

void TTerminal::tCheckVScroll()
{
    const TBuffer &b = *buffer_;
    const int visible = std::max(b.VisibleRows, 1);
    if (scrollback_) {
        const int fits = b.HighestRow - visible + 1;
        ApplyBar(true, true, fits > 0 ? fits : b.HighestRow, visible);
    } else {
        ApplyBar(true, b.VisibleRows < b.PageHeight, b.PageHeight - visible, visible);
    }
}

void TTerminal::tCheckHScroll()
{
    const TBuffer &b = *buffer_;
    const int visible = std::max(b.VisibleColumns, 1);
    ApplyBar(false, b.VisibleColumns < b.Columns, b.Columns - visible, visible);
}

void TTerminal::ApplyBar(bool vertical, bool needed, int maximum, int visible)
{
    // An automatic bar comes and goes with the need; a fixed one stays.
    if (style_ & (vertical ? tsAutoVScroll : tsAutoHScroll))
        ShowBar(vertical, needed);
    SetScrollRange(vertical, 0, needed ? maximum : 0);
    (vertical ? verticalScrollBar() : horizontalScrollBar())->setPageStep(visible);
    // The view goes no further than the bar can take it, and the thumb shows where it is.
    ClampView(vertical);
    PlaceThumb(vertical);
}

TTerminal::TViewRange TTerminal::ViewRange(bool vertical) const
{
    const TBuffer &b = *buffer_;
    if (!vertical)
        return {0, std::max(b.Columns - std::max(b.VisibleColumns, 1), 0)};
    const int visible = std::max(b.VisibleRows, 1);
    if (scrollback_)
        return {0, std::max(b.HighestRow - visible + 1, 0)};
    // Outside scrollback the view stays on the page.
    const int pageTop = b.PageTop();
    return {pageTop, pageTop + std::max(b.PageHeight - visible, 0)};
}

int TTerminal::ThumbOf(bool vertical) const
{
    const TBuffer &b = *buffer_;
    return vertical ? b.FirstVisibleRow - ViewRange(true).Lowest : b.FirstVisibleColumn;
}

void TTerminal::ClampView(bool vertical)
{
    TBuffer &b = *buffer_;
    const TViewRange range = ViewRange(vertical);
    int &first = vertical ? b.FirstVisibleRow : b.FirstVisibleColumn;
    const int clamped = std::clamp(first, range.Lowest, range.Highest);
    if (clamped == first)
        return;
    first = clamped;
    RedrawWhole();
}

void TTerminal::PlaceThumb(bool vertical)
{
    pendingThumb_[vertical ? 1 : 0] = false;
    QScrollBar *bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    const int position = ThumbOf(vertical);
    if (bar->sliderPosition() == position && bar->value() == position)
        return;
    const bool wasSyncing = syncingBars_;
    syncingBars_ = true;
    bar->setSliderPosition(position);
    bar->setValue(position);
    syncingBars_ = wasSyncing;
}

void TTerminal::SetScrollRange(bool vertical, int32_t minimum, int32_t maximum)
{
    QScrollBar *bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    const bool wasSyncing = syncingBars_;
    syncingBars_ = true;
    bar->setRange(minimum, std::max(minimum, maximum));
    syncingBars_ = wasSyncing;
}

void TTerminal::ViewMoved(bool vertical)
{
    // The thumb is placed from the view by the window's own rule (ThumbOf). While the operator
    // scrolls it follows at once; otherwise with the next frame, not with every line of text.
    if (inScrollRequest_) {
        PlaceThumb(vertical);
        return;
    }
    pendingThumb_[vertical ? 1 : 0] = true;
    ScheduleRepaint();
}

void TTerminal::UsedRowsChanged()
{
    // Only scrollback's range counts the used rows; the page's range is the page, and its place
    // in the buffer reaches the bar through ViewMoved.
    if (!scrollback_)
        return;
    pendingVRange_ = true;
    ScheduleRepaint();
}

void TTerminal::ApplyScrollRequest(bool vertical, int action)
{
    if (syncingBars_)
        return;
    // The bar must show the view's new place before the action's value is taken.
    inScrollRequest_ = true;
    TBuffer &b = *buffer_;
    QScrollBar *bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    const int position = bar->sliderPosition();
    const auto scroll = [&](int amount) {
        if (vertical)
            b.bScroll(0, amount);
        else
            b.bScroll(amount, 0);
    };
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        scroll(1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        scroll(-1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        scroll(b.PageHeight);
        break;
    case QAbstractSlider::SliderPageStepSub:
        scroll(-b.PageHeight);
        break;
    case QAbstractSlider::SliderToMinimum:
        b.bGotoTop(vertical);
        break;
    case QAbstractSlider::SliderToMaximum:
        b.bGotoBottom(vertical);
        break;
    case QAbstractSlider::SliderMove:
        scroll(ViewRange(vertical).Lowest + position -
               (vertical ? b.FirstVisibleRow : b.FirstVisibleColumn));
        break;
    default:
        break;
    }
    // The bar shows where the view went, not where the operator pulled it.
    PlaceThumb(vertical);
    inScrollRequest_ = false;
    b.bMoveCaret();
}

void TTerminal::scrollContentsBy(int, int)
{
    // Painted from the buffer; the view is moved by the buffer, not by the scroll area.
}

// ---- scrollback ----------------------------------------------------------------------------

void TTerminal::tToggleScrollback()
{
    TBuffer &b = *buffer_;
    if (!scrollback_) {
        b.SavedCursorColumn = b.CursorColumn;
        b.SavedCursorRow = b.CursorRow;
        b.SavedFirstVisibleColumn = b.FirstVisibleColumn;
        b.SavedFirstVisibleRow = b.FirstVisibleRow;
        b.SavedClientWidth = b.ClientWidth;
        b.SavedClientHeight = b.ClientHeight;
        b.WholePageShown = tFullWidth() && tFullHeight();
        scrollback_ = true;
        b.bSetScrollMode(true);
        SyncBarsAndView();
        RefreshClientSize();
        b.BarsClientWidth = b.ClientWidth;
        b.BarsClientHeight = b.ClientHeight;
    } else {
        scrollback_ = false;
        b.bSetScrollMode(false);
        const bool untouched =
            b.ClientWidth == b.BarsClientWidth && b.ClientHeight == b.BarsClientHeight;
        if (b.WholePageShown) {
            if (style_ & tsAutoVScroll)
                ShowBar(true, false);
            if (style_ & tsAutoHScroll)
                ShowBar(false, false);
        } else {
            SyncBarsAndView();
        }
        if (untouched)
            ResizeWindowTo(b.SavedClientWidth, b.SavedClientHeight);
        RefreshClientSize();
        b.CursorColumn = b.SavedCursorColumn;
        b.CursorRow = b.SavedCursorRow;
        b.FirstVisibleColumn = b.SavedFirstVisibleColumn;
        b.FirstVisibleRow = b.SavedFirstVisibleRow;
        SyncBarsAndView();
    }
    RedrawWhole();
    if (!scrollback_ && dataHeldBack_) {
        // What waited at the port comes as a data-available message would: announced by the
        // dispatcher, so that it is read inside a delivery like any other batch and no other
        // reader of the port loses a byte to this one.
        dataHeldBack_ = false;
        if (registered_)
            serial::AnnounceInput(portHandle_);
    }
}

void TTerminal::RefreshClientSize()
{
    TBuffer &b = *buffer_;
    ReadClientSize(false);
    CountVisible();
    b.PreviousVisibleRows = b.VisibleRows;
    b.PreviousVisibleColumns = b.VisibleColumns;
}

void TTerminal::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (adjusting_)
        return;
    adjusting_ = true;
    wmSize(ClientArea().width(), ClientArea().height());
    adjusting_ = false;
}

} // namespace terminal
