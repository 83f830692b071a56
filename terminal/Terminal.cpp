#include "terminal/Terminal.h"

#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/GuiMessageTarget.h"
#include "terminal/VirtualKeys.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <new>

namespace terminal
{

namespace
{

// Paints are spaced at least this far apart (about 30 frames a second), so a line that delivers a
// thousand small batches a second costs a frame's worth of painting, not a paint per batch; the
// first change after a quiet spell is painted at once.
constexpr int kFrameMs = 33;

// How a cell's byte is drawn: the control bytes as the PC character set shows them, the rest as
// Latin-1 (which is also what a copy puts on the clipboard).
const char16_t kControlGlyphs[32] = {
    u' ',      u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
    u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
    u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
    u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC',
};

QChar GlyphOf(uint8_t c)
{
    if (c < 0x20)
        return QChar(kControlGlyphs[c]);
    if (c == 0x7F)
        return QChar(u'\u2302');
    return QChar(char16_t(c));
}

QRect ToQRect(const TRect &r)
{
    return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
}

} // namespace

TTerminal::TTerminal(uint32_t style, TTerminalNotify *notify, QWidget *parent)
    : QAbstractScrollArea(parent), notify_(notify), style_(style)
{
    int result = 0;
    buffer_ = TBuffer::Create(this, 80, 200, &result);
    if (!buffer_)
        throw std::bad_alloc();
    // Replies to the host go out on the port the window reads.
    buffer_->OnHostReply = [this](const uint8_t *bytes, size_t count) {
        if (portHandle_ > 0)
            serial::SendBytes(portHandle_, bytes, uint16_t(count));
    };
    target_ = std::make_unique<serial::TGuiMessageTarget>(
        [this](unsigned msg, uintptr_t wParam, intptr_t lParam) {
            HandleMessage(msg, wParam, lParam);
        });

    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setCursor(Qt::ArrowCursor);
    setHorizontalScrollBarPolicy((style & tsHScroll) ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy((style & tsVScroll) ? Qt::ScrollBarAlwaysOn
                                                   : Qt::ScrollBarAlwaysOff);
    hBarShown_ = (style & tsHScroll) != 0;
    vBarShown_ = (style & tsVScroll) != 0;
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ApplyScrollRequest(true, action); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ApplyScrollRequest(false, action); });

    blinkTimer_.setInterval(blinkMs_);
    connect(&blinkTimer_, &QTimer::timeout, this, &TTerminal::tBlink);
    blinkTimer_.start();
    markingTimer_.setInterval(kMarkingTickMs);
    connect(&markingTimer_, &QTimer::timeout, this, &TTerminal::wmTimer);
    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, &TTerminal::FlushRepaint);
    sinceRepaint_.start();

    tSetInitialSizes();
}

TTerminal::~TTerminal()
{
    blinkTimer_.stop();
    markingTimer_.stop();
    tReleaseComHandle();
    buffer_->SetWindow(nullptr);
}

serial::TMessageTarget &TTerminal::MessageTarget()
{
    return *target_;
}

void TTerminal::HandleMessage(unsigned msg, uintptr_t wParam, intptr_t)
{
    if (msg == serial::MsgTriggerAvail)
        tHandleData(int(wParam & 0xFFFF));
}

// ---- data ----------------------------------------------------------------------------------

void TTerminal::tHandleData(int count)
{
    if (scrollback_) {
        dataHeldBack_ = true;
        return;
    }
    if (portHandle_ == 0)
        return;
    // One read of what was announced (and is still there) instead of a test and a read per
    // byte: the same bytes in the same order, without a lock round per byte.
    uint8_t bytes[8192];
    int left = std::min(count, serial::InputCount(portHandle_));
    while (left > 0) {
        const int chunk = std::min<int>(left, sizeof bytes);
        if (serial::ReadBytes(portHandle_, bytes, uint16_t(chunk)) < 0)
            break;
        for (int i = 0; i < chunk; ++i)
            buffer_->bProcessChar(bytes[i]);
        left -= chunk;
    }
    buffer_->bForcePaint();
}

void TTerminal::tStuffData(const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i)
        buffer_->bProcessChar(bytes[i]);
}

void TTerminal::tForcePaint()
{
    buffer_->bForcePaint();
}

int TTerminal::tStartTerminal(uint32_t passOn)
{
    if (registered_)
        serial::RemoveHandler(portHandle_, target_.get());
    registered_ = false;
    const int result = serial::AddHandler(portHandle_, target_.get(), passOn);
    if (result < 0)
        return result;
    registered_ = true;
    const int threshold = serial::SetDataThreshold(portHandle_, 1);
    return threshold < 0 ? threshold : 0;
}

void TTerminal::tStopTerminal()
{
    if (registered_)
        serial::RemoveHandler(portHandle_, target_.get());
    registered_ = false;
}

void TTerminal::tSetComHandle(int16_t handle)
{
    if (registered_ && handle != portHandle_)
        tStopTerminal();
    portHandle_ = handle;
}

void TTerminal::tReleaseComHandle()
{
    tStopTerminal();
    portHandle_ = 0;
}

void TTerminal::tSetEmulatorPtr(void *context)
{
    buffer_->EmulatorContext = context;
}

void TTerminal::tSetEmulatorProc(TEmulatorRoutine routine)
{
    buffer_->EmulatorRoutine = routine;
}

// ---- buffer requests -----------------------------------------------------------------------

void TTerminal::tClearWindow(int which)
{
    if (which == 0)
        buffer_->bClearScreen();
    else
        tClearBuffer();
    buffer_->bForcePaint();
}

void TTerminal::tClearBuffer()
{
    buffer_->bClearBuffer();
    buffer_->bMoveCaret();
}

int TTerminal::bNewBuffer(int rows, int columns, int pageHeight)
{
    const int result = buffer_->bNewBuffer(rows, columns, pageHeight);
    if (result != 0)
        return result;
    buffer_->bUpdateFont(buffer_->CharHeight, buffer_->CharWidth);
    RecalculateVisible();
    tAdjustMaxSize();
    tCheckVScroll();
    tCheckHScroll();
    buffer_->bInvalidateAll();
    buffer_->bMoveCaret();
    buffer_->bPostStatusMsg();
    return 0;
}

void TTerminal::bSetColors(uint8_t foreground, uint8_t background)
{
    buffer_->bSetColors(foreground, background);
    buffer_->bInvalidateAll();
}

void TTerminal::bSetHighlightColors(uint8_t foreground, uint8_t background)
{
    buffer_->bSetHighlightColors(foreground, background);
    buffer_->bInvalidateAll();
}

std::unique_ptr<TTerminalSnapshot> TTerminal::tSave()
{
    auto saved = std::unique_ptr<TTerminalSnapshot>(new (std::nothrow) TTerminalSnapshot);
    if (!saved)
        return nullptr;
    saved->Buffer = buffer_->bSave();
    if (!saved->Buffer)
        return nullptr;
    saved->Font = font_;
    saved->CaretHeight = caretHeight_;
    saved->CaretWidth = caretWidth_;
    return saved;
}

int TTerminal::tRestore(std::unique_ptr<TTerminalSnapshot> saved)
{
    if (!saved || !saved->Buffer)
        return serial::ecBadArgument;
    // The saved client size belongs to the window that was saved, not to this one.
    // So do its port, its emulator (which may have been freed since) and its modes.
    TBuffer &b = *buffer_;
    const int width = b.ClientWidth;
    const int height = b.ClientHeight;
    void *const context = b.EmulatorContext;
    const TEmulatorRoutine routine = b.EmulatorRoutine;
    const bool caret = b.CaretEnabled;
    const int result = b.bRestore(std::move(saved->Buffer));
    b.ClientWidth = width;
    b.ClientHeight = height;
    b.EmulatorContext = context;
    b.EmulatorRoutine = routine;
    b.CaretEnabled = caret;
    b.bSetScrollMode(scrollback_);
    b.Marking = b.MarkingAutoScroll = false;
    b.MarkingTimer = 0;
    if (!wmSetFont(saved->Font)) {
        RecalculateVisible();
        buffer_->bInvalidateAll();
    }
    tCheckVScroll();
    tCheckHScroll();
    buffer_->bPostStatusMsg();
    return result;
}

void TTerminal::tSetColorMap(const uint32_t map[16])
{
    std::copy(map, map + 16, buffer_->ColorMap);
    buffer_->bInvalidateAll();
}

void TTerminal::tGetColorMap(uint32_t map[16]) const
{
    std::copy(buffer_->ColorMap, buffer_->ColorMap + 16, map);
}

uint32_t TTerminal::tCurrentColors() const
{
    return uint32_t(buffer_->CurrentBackground) << 16 | buffer_->CurrentForeground;
}

int TTerminal::tGetFontSize() const
{
    return (buffer_->CharWidth & 0xFF) << 8 | (buffer_->CharHeight & 0xFF);
}

void TTerminal::tBlinkTimeChange(int milliseconds)
{
    blinkMs_ = milliseconds;
    blinkTimer_.stop();
    if (milliseconds > 0) {
        blinkTimer_.setInterval(milliseconds);
        blinkTimer_.start();
    }
}

// ---- font and sizes ------------------------------------------------------------------------

void TTerminal::tSetInitialSizes()
{
    ReadClientSize(false);
    wmSetFont();
    tCheckVScroll();
    tCheckHScroll();
}

void TTerminal::wmSetFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    if (!wmSetFont(font)) {
        // A system without a fixed font of its own still has the generic monospace family.
        font = QFont(QStringLiteral("Monospace"));
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        wmSetFont(font);
    }
}

bool TTerminal::wmSetFont(const QFont &font)
{
    if (!QFontInfo(font).fixedPitch())
        return false;
    font_ = font;
    const QFontMetrics metrics(font_);
    // The advance of one glyph rather than an average, so that runs of text land on cells.
    const int width = std::max(metrics.horizontalAdvance(QLatin1Char('M')), 1);
    const int height = std::max(metrics.height(), 1);
    caretWidth_ = width;
    caretHeight_ = height;
    ascent_ = metrics.ascent();
    const QRawFont raw = QRawFont::fromFont(font_);
    glyphRun_.setRawFont(raw);
    for (int c = 0; c < 256; ++c) {
        const QChar glyph = GlyphOf(uint8_t(c));
        const QList<quint32> index = raw.glyphIndexesForString(QString(glyph));
        glyphOf_[c] = index.isEmpty() ? 0 : index.front();
    }
    buffer_->bUpdateFont(height, width);
    RecalculateVisible();
    tAdjustMaxSize();
    tCheckVScroll();
    tCheckHScroll();
    tAdjustIntSize();
    tAdjustClient();
    if (hasFocus_)
        tMakeCaret();
    buffer_->bInvalidateAll();
    updateGeometry();
    return true;
}

void TTerminal::ReadClientSize(bool limitToPage)
{
    TBuffer &b = *buffer_;
    b.ClientWidth = viewport()->width();
    b.ClientHeight = viewport()->height();
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
    CheckBars(true);
    if (changed)
        tAdjustClient();
    buffer_->bInvalidateAll();
}

void TTerminal::CheckBars(bool horizontal)
{
    // A bar that comes or goes changes the area the other bar is measured against: both are
    // checked again on the new area until neither changes (a bar can appear only once).
    for (int pass = 0; pass < 3; ++pass) {
        const bool vertical = vBarShown_, across = hBarShown_;
        tCheckVScroll();
        if (horizontal)
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
    if (b.PreviousVisibleRows > 0) {
        // The bottom of the view stays where it was.
        const int lost = b.PreviousVisibleRows - b.VisibleRows;
        int first = b.FirstVisibleRow + lost;
        int lowest = 0;
        int highest = std::max(b.HighestRow - std::max(b.VisibleRows, 1) + 1, 0);
        if (!scrollback_) {
            // Outside scrollback the view stays on the page.
            lowest = std::max(b.HighestRow - b.PageHeight + 1, 0);
            highest = std::max(highest, lowest);
        }
        b.FirstVisibleRow = std::clamp(first, lowest, highest);
    }
    if (b.PreviousVisibleColumns > 0 && b.VisibleColumns > b.PreviousVisibleColumns)
        b.FirstVisibleColumn -= b.VisibleColumns - b.PreviousVisibleColumns;
    b.FirstVisibleColumn =
        std::clamp(b.FirstVisibleColumn, 0, std::max(b.Columns - std::max(b.VisibleColumns, 1), 0));
    b.PreviousVisibleRows = b.VisibleRows;
    b.PreviousVisibleColumns = b.VisibleColumns;
    b.bUpdateScrollThumb(true);
    b.bUpdateScrollThumb(false);
    b.bInvalidateAll();
    b.bMoveCaret();
    b.bPostStatusMsg();
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
    wmSize(viewport()->width(), viewport()->height());
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
    if (scrollback_) {
        const int fits = b.HighestRow - b.VisibleRows + 1;
        ApplyBar(true, true, fits > 0 ? fits : b.HighestRow, b.VisibleRows);
    } else {
        ApplyBar(true, b.VisibleRows < b.PageHeight, b.PageHeight - b.VisibleRows, b.VisibleRows);
    }
}

void TTerminal::tCheckHScroll()
{
    const TBuffer &b = *buffer_;
    ApplyBar(false, b.VisibleColumns < b.Columns, b.Columns - b.VisibleColumns, b.VisibleColumns);
}

void TTerminal::ApplyBar(bool vertical, bool needed, int maximum, int visible)
{
    // An automatic bar comes and goes with the need; a fixed one stays.
    if (style_ & (vertical ? tsAutoVScroll : tsAutoHScroll))
        ShowBar(vertical, needed);
    SetScrollRange(vertical, 0, needed ? maximum : 0);
    (vertical ? verticalScrollBar() : horizontalScrollBar())->setPageStep(std::max(visible, 1));
    buffer_->bUpdateScrollThumb(vertical);
}

void TTerminal::SetScrollRange(bool vertical, int32_t minimum, int32_t maximum)
{
    QScrollBar *bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    const bool wasSyncing = syncingBars_;
    syncingBars_ = true;
    bar->setRange(minimum, std::max(minimum, maximum));
    syncingBars_ = wasSyncing;
}

void TTerminal::SetScrollPos(bool vertical, int32_t position)
{
    QScrollBar *bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    if (!inScrollRequest_) {
        // Thumbs follow the data with the next frame, not with every line.
        pendingThumb_[vertical ? 1 : 0] = position;
        ScheduleRepaint();
        return;
    }
    pendingThumb_[vertical ? 1 : 0] = -1;
    if (bar->sliderPosition() == position && bar->value() == position)
        return;
    const bool wasSyncing = syncingBars_;
    syncingBars_ = true;
    bar->setSliderPosition(position);
    bar->setValue(position);
    syncingBars_ = wasSyncing;
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
        if (!vertical)
            scroll(position - b.FirstVisibleColumn);
        else if (scrollback_)
            scroll(position - b.FirstVisibleRow);
        else
            scroll(b.HighestRow - b.PageHeight + 1 + position - b.FirstVisibleRow);
        break;
    default:
        break;
    }
    // The bar shows where the view went, not where the operator pulled it.
    b.bUpdateScrollThumb(vertical);
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
        CheckBars((style_ & tsAutoHScroll) != 0);
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
            CheckBars(true);
        }
        if (untouched)
            ResizeWindowTo(b.SavedClientWidth, b.SavedClientHeight);
        RefreshClientSize();
        b.CursorColumn = b.SavedCursorColumn;
        b.CursorRow = b.SavedCursorRow;
        b.FirstVisibleColumn = b.SavedFirstVisibleColumn;
        b.FirstVisibleRow = b.SavedFirstVisibleRow;
        b.bUpdateScrollThumb(true);
        b.bUpdateScrollThumb(false);
    }
    b.bInvalidateAll();
    b.bMoveCaret();
    b.bPostStatusMsg();
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

// ---- painting ------------------------------------------------------------------------------

void TTerminal::Invalidate(const TRect &rect, bool)
{
    if (rect.Empty())
        return;
    pendingRepaint_ += ToQRect(rect);
    ScheduleRepaint();
}

void TTerminal::InvalidateAll()
{
    pendingRepaint_ = QRegion(viewport()->rect());
    ScheduleRepaint();
}

void TTerminal::ScrollContent(int32_t dx, int32_t dy, const TRect &band)
{
    if (band.Empty())
        return;
    const QRect area = ToQRect(band);
    if (dx != 0 || (pendingScroll_ != 0 && area != scrollBand_)) {
        // Sideways, or a second band in one frame: repainted whole, which is rare.
        pendingRepaint_ += area;
        pendingRepaint_ += scrollBand_;
        pendingScroll_ = 0;
        scrollBand_ = QRect();
        ScheduleRepaint();
        return;
    }
    // What is still to be repainted inside the band moves with it. The buffer marks cells in the
    // coordinates of the moment it wrote them, before or after this move, so each area counts
    // at both places and in between.
    QRegion moved;
    for (const QRect &r : pendingRepaint_) {
        const QRect inside = r & area;
        moved += inside.isEmpty() ? r : (r | inside.translated(0, dy)) & area;
        if (!inside.isEmpty())
            moved += r;
    }
    pendingRepaint_ = moved;
    pendingScroll_ += dy;
    scrollBand_ = area;
    // What the move uncovers.
    if (dy < 0)
        pendingRepaint_ += QRect(area.left(), std::max(area.bottom() + 1 + dy, area.top()),
                                 area.width(), std::min(-dy, area.height()));
    else
        pendingRepaint_ +=
            QRect(area.left(), area.top(), area.width(), std::min(dy, area.height()));
    ScheduleRepaint();
}

void TTerminal::FlushRepaint()
{
    sinceRepaint_.restart();
    // Text arriving moves the cursor without moving the caret; the caret follows with the frame.
    flushing_ = true;
    if (hasFocus_)
        buffer_->bMoveCaret();
    flushing_ = false;
    for (const bool vertical : {false, true}) {
        const int position = pendingThumb_[vertical ? 1 : 0];
        if (position < 0)
            continue;
        inScrollRequest_ = true;
        SetScrollPos(vertical, position);
        inScrollRequest_ = false;
    }
    if (statusPending_ && notify_) {
        statusPending_ = false;
        notify_->TerminalStatus(statusW_, statusL_);
    }
    if (pendingScroll_ != 0) {
        // The content moves in the window's image; only what changed is drawn again.
        if (std::abs(pendingScroll_) < scrollBand_.height())
            viewport()->scroll(0, pendingScroll_, scrollBand_);
        else
            pendingRepaint_ += scrollBand_;
        pendingScroll_ = 0;
        scrollBand_ = QRect();
    }
    if (!pendingRepaint_.isEmpty())
        viewport()->update(pendingRepaint_);
    pendingRepaint_ = QRegion();
}

void TTerminal::UpdateNow()
{
    // Erasing and inserting ask for an immediate paint; coalesced like the rest, so a fast line
    // does not repaint once per control sequence.
    ScheduleRepaint();
}

void TTerminal::ScheduleRepaint()
{
    if (flushing_ || repaintTimer_.isActive())
        return;
    const qint64 since = sinceRepaint_.elapsed();
    repaintTimer_.start(since >= kFrameMs ? 0 : int(kFrameMs - since));
}

void TTerminal::paintEvent(QPaintEvent *event)
{
    ++paintsDone_;
    QPainter painter(viewport());
    tPaint(painter, event->rect());
    if (pendingScroll_ != 0) {
        // Painted from the buffer as it is now, that is after the move still to be made: the
        // move will carry these pixels off, so where they land is drawn again.
        pendingRepaint_ +=
            (event->region() & scrollBand_).translated(0, pendingScroll_) & scrollBand_;
        ScheduleRepaint();
    }
}

void TTerminal::tPaint(QPainter &painter, const QRect &update)
{
    const TBuffer &b = *buffer_;
    const QColor background = ColorOf(b.ColorMap[b.CurrentBackground & 15]);
    const int cw = b.CharWidth;
    const int ch = b.CharHeight;
    if (update.isEmpty() || cw <= 0 || ch <= 0)
        return;
    painter.setFont(font_);
    const int shownColumns = (viewport()->width() + cw - 1) / cw;
    const int shownRows = (viewport()->height() + ch - 1) / ch;
    const int firstColumn = std::max(update.left() / cw, 0);
    const int lastColumn = std::min(update.right() / cw, shownColumns - 1);
    const int firstRow = std::max(update.top() / ch, 0);
    const int lastRow = std::min(update.bottom() / ch, shownRows - 1);
    // What no cell covers: right of the last column and below the last row.
    const int cellsRight = (b.Columns - b.FirstVisibleColumn) * cw;
    const int cellsBottom = (b.Rows - b.FirstVisibleRow) * ch;
    if (update.right() >= cellsRight)
        painter.fillRect(QRect(QPoint(cellsRight, update.top()), update.bottomRight()), background);
    if (update.bottom() >= cellsBottom)
        painter.fillRect(QRect(QPoint(update.left(), cellsBottom), update.bottomRight()),
                         background);
    if (firstColumn <= lastColumn) {
        for (int r = firstRow; r <= lastRow; ++r) {
            const int bufferRow = b.FirstVisibleRow + r;
            if (bufferRow < 0 || bufferRow >= b.Rows)
                continue;
            const int start = b.FirstVisibleColumn + firstColumn;
            const int count = std::min(lastColumn - firstColumn + 1, b.Columns - start);
            if (count > 0)
                tTextOutColor(painter, r, firstColumn, count, bufferRow);
        }
    }
    if (hasFocus_ && b.CaretEnabled && caretRect_.intersects(update)) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(caretRect_, Qt::white);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void TTerminal::SelectedColumns(int bufferRow, int &first, int &last) const
{
    const TBuffer &b = *buffer_;
    first = 1;
    last = 0; // nothing selected
    if (!(b.Marking || b.MarkValid) || bufferRow < b.StartRow || bufferRow > b.EndRow)
        return;
    first = bufferRow == b.StartRow ? b.StartColumn : 0;
    last = bufferRow == b.EndRow ? b.EndColumn : b.Columns - 1;
}

void TTerminal::tTextOutColor(QPainter &painter, int windowRow, int firstColumn, int count,
                              int bufferRow)
{
    const TBuffer &b = *buffer_;
    const int cw = b.CharWidth;
    const int ch = b.CharHeight;
    const int start = b.FirstVisibleColumn + firstColumn;
    const uint8_t *chars = b.CharRow(bufferRow) + start;
    const uint8_t *colors = b.ColorRow(bufferRow) + start;
    int selFirst, selLast;
    SelectedColumns(bufferRow, selFirst, selLast);
    const QColor highlightBack = ColorOf(b.ColorMap[b.HighlightBackground & 15]);
    const QColor highlightText = ColorOf(b.ColorMap[b.HighlightForeground & 15]);
    const int baseline = windowRow * ch + ascent_;
    int i = 0;
    while (i < count) {
        const bool selected = start + i >= selFirst && start + i <= selLast;
        const uint8_t color = colors[i];
        int j = i + 1;
        // A wholly selected span is one run whatever its colours.
        while (j < count && (start + j >= selFirst && start + j <= selLast) == selected &&
               (selected || colors[j] == color))
            ++j;
        const QRect cells((firstColumn + i) * cw, windowRow * ch, (j - i) * cw, ch);
        painter.fillRect(cells, selected ? highlightBack : ColorOf(b.ColorMap[color >> 4]));
        // Glyphs looked up once per font and placed on the cell grid: no text shaping per run.
        glyphIndexes_.resize(j - i);
        glyphPositions_.resize(j - i);
        for (int k = i; k < j; ++k) {
            glyphIndexes_[k - i] = glyphOf_[chars[k]];
            glyphPositions_[k - i] = QPointF((k - i) * cw, 0);
        }
        glyphRun_.setGlyphIndexes(glyphIndexes_);
        glyphRun_.setPositions(glyphPositions_);
        painter.setPen(selected ? highlightText : ColorOf(b.ColorMap[color & 15]));
        painter.drawGlyphRun(QPointF(cells.left(), baseline), glyphRun_);
        ++runsPainted_;
        i = j;
    }
}

void TTerminal::tBlink()
{
    TBuffer &b = *buffer_;
    if (b.CellCount == 0 || b.CharHeight <= 0)
        return;
    // The phase that is on shows the base colours; the one that is off hides blinking text.
    const bool hide = !b.BlinkPhase;
    int top = -1, bottom = -1, left = b.Columns, right = -1;
    const int lastRow = std::min(b.FirstVisibleRow + b.VisibleRows + 1, b.Rows) - 1;
    for (int row = std::max(b.FirstVisibleRow, 0); row <= lastRow; ++row) {
        const uint8_t *attrs = b.AttrRow(row);
        uint8_t *shown = b.ColorRow(row);
        const uint8_t *base = b.BaseColorRow(row);
        for (int c = 0; c < b.Columns; ++c) {
            if (!(attrs[c] & attrBlink))
                continue;
            shown[c] = hide ? uint8_t((base[c] & 0xF0) | (base[c] >> 4)) : base[c];
            if (top < 0)
                top = row;
            bottom = row;
            left = std::min(left, c);
            right = std::max(right, c);
        }
    }
    b.BlinkPhase = !b.BlinkPhase;
    if (top >= 0)
        Invalidate({(left - b.FirstVisibleColumn) * b.CharWidth,
                    (top - b.FirstVisibleRow) * b.CharHeight,
                    (right + 1 - b.FirstVisibleColumn) * b.CharWidth,
                    (bottom + 1 - b.FirstVisibleRow) * b.CharHeight},
                   false);
}

// ---- caret and focus -----------------------------------------------------------------------

void TTerminal::tMakeCaret()
{
    buffer_->CaretEnabled = true;
    caretRect_ = QRect();
    buffer_->bInvalidateAll();
    buffer_->bMoveCaret();
}

void TTerminal::MoveCaret(int32_t x, int32_t y)
{
    const QRect next(x, y, caretWidth_, caretHeight_);
    if (next == caretRect_)
        return;
    if (!caretRect_.isNull())
        pendingRepaint_ += caretRect_;
    caretRect_ = next;
    pendingRepaint_ += caretRect_;
    ScheduleRepaint();
}

void TTerminal::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    hasFocus_ = true;
    tMakeCaret();
}

void TTerminal::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    hasFocus_ = false;
    buffer_->CaretEnabled = false;
    if (!caretRect_.isNull())
        pendingRepaint_ += caretRect_;
    caretRect_ = QRect();
    ScheduleRepaint();
}

void TTerminal::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        buffer_->bInvalidateAll();
}

void TTerminal::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (adjusting_)
        return;
    adjusting_ = true;
    wmSize(viewport()->width(), viewport()->height());
    adjusting_ = false;
}

// ---- notifications -------------------------------------------------------------------------

void TTerminal::PostStatus(uint16_t wParam, uint32_t lParam)
{
    // Posted: the owner hears the latest position with the next frame.
    statusW_ = wParam;
    statusL_ = lParam;
    statusPending_ = true;
    ScheduleRepaint();
}

void TTerminal::SendError(uint16_t code)
{
    if (notify_)
        notify_->TerminalError(code);
}

void TTerminal::SendPositionReport(uint16_t column, uint16_t row)
{
    if (notify_)
        notify_->TerminalPositionReport(column, row);
}

// ---- keyboard ------------------------------------------------------------------------------

bool TTerminal::focusNextPrevChild(bool next)
{
    if (style_ & tsWantTab)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TTerminal::SendKeyBytes(const uint8_t *bytes, int count)
{
    if (count <= 0)
        return;
    if (!halfDuplex_) {
        if (portHandle_ != 0)
            serial::SendBytes(portHandle_, bytes, uint16_t(count));
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (portHandle_ != 0)
            serial::SendBytes(portHandle_, bytes + i, 1);
        buffer_->bProcessChar(bytes[i]);
        buffer_->bForcePaint();
    }
}

void TTerminal::wmKeydown(uint16_t virtualKey, const TKeyRecord &state)
{
    keyRecord_ = state;
    keyRecord_.Handled = false;
    keyRecord_.Length = 0;
    TBuffer &b = *buffer_;
    if (scrollback_) {
        switch (virtualKey) {
        case 33: // page up
            b.bScroll(0, -std::max(b.VisibleRows, 1));
            break;
        case 34: // page down
            b.bScroll(0, std::max(b.VisibleRows, 1));
            break;
        case 35: // end
            b.bScroll(b.bCurLineLength() - b.CursorColumn, 0);
            break;
        case 36: // home
            b.bScroll(-b.Columns, 0);
            break;
        case 37:
            b.bScroll(-1, 0);
            break;
        case 38:
            b.bScroll(0, -1);
            break;
        case 39:
            b.bScroll(1, 0);
            break;
        case 40:
            b.bScroll(0, 1);
            break;
        default:
            break;
        }
        return;
    }
    if (keyRoutine_) {
        keyRoutine_(keyContext_, virtualKey, keyRecord_);
        if (keyRecord_.Handled)
            SendKeyBytes(reinterpret_cast<const uint8_t *>(keyRecord_.Bytes.data()),
                         keyRecord_.Length);
    }
}

void TTerminal::wmChar(uint8_t c)
{
    // A key the emulator handled was sent at key down already: it is sent once.
    if (keyRoutine_ && keyRecord_.Handled && !scrollback_)
        return;
    SendKeyBytes(&c, 1);
}

void TTerminal::keyPressEvent(QKeyEvent *event)
{
    const TKeyRecord state = KeyRecordOf(*event);
    wmKeydown(state.KeyCode, state);
    // The character the key produces, as Latin-1; keys without one (cursor keys, function keys
    // not handled by the key map) send nothing.
    const QString text = event->text();
    for (const QChar ch : text) {
        if (ch.unicode() <= 0xFF)
            wmChar(uint8_t(ch.unicode()));
    }
    event->accept();
}

// ---- mouse and selection -------------------------------------------------------------------

void TTerminal::mousePressEvent(QMouseEvent *event)
{
    // Mouse activation takes the focus.
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    wmLButtonDown(p.x(), p.y(), event->modifiers() & Qt::ShiftModifier);
}

void TTerminal::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    wmMouseMove(p.x(), p.y());
}

void TTerminal::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        wmLButtonUp();
}

void TTerminal::wmLButtonDown(int x, int y, bool shift)
{
    TBuffer &b = *buffer_;
    lastMouse_ = QPoint(x, y);
    if (b.CellCount == 0)
        return;
    if (shift && (b.MarkValid || b.Marking)) {
        b.Marking = true;
        b.MarkValid = false;
        b.bUpdateMarks(x, y);
    } else {
        b.bResetMarking();
        b.Marking = true;
        const int column = std::clamp(b.bConvertToCol(std::max(x, 0)), 0, b.Columns - 1);
        const int row = std::clamp(b.bConvertToRow(std::max(y, 0)), 0, b.Rows - 1);
        b.AnchorColumn = b.StartColumn = b.EndColumn = column;
        b.AnchorRow = b.StartRow = b.EndRow = row;
        if (!persistentMark_)
            b.bUpdateMarks(x, y);
    }
    dragged_ = shift;
    b.MarkingTimer = kMarkingTimerId;
    markingTimer_.start();
}

void TTerminal::wmMouseMove(int x, int y)
{
    TBuffer &b = *buffer_;
    lastMouse_ = QPoint(x, y);
    if (!b.Marking)
        return;
    dragged_ = true;
    if (y < 0 || y > b.ClientHeight) {
        b.MarkingAutoScroll = true;
    } else {
        b.MarkingAutoScroll = false;
        b.bUpdateMarks(x, y);
    }
}

void TTerminal::wmTimer()
{
    TBuffer &b = *buffer_;
    if (!b.MarkingAutoScroll)
        return;
    const QPoint p = lastMouse_;
    if (p.y() < 0) {
        b.bScroll(0, p.y() < -20 ? -3 : -1);
        b.bUpdateMarks(p.x(), 0);
    } else if (p.y() > b.ClientHeight) {
        b.bScroll(0, p.y() - b.ClientHeight < 21 ? 1 : 3);
        b.bUpdateMarks(p.x(), b.ClientHeight);
    }
}

void TTerminal::wmLButtonUp()
{
    TBuffer &b = *buffer_;
    markingTimer_.stop();
    b.MarkingTimer = 0;
    b.MarkingAutoScroll = false;
    if (!b.Marking)
        return;
    b.Marking = false;
    // A click that selected nothing (no drag) ends the old selection; with a persistent mark
    // its highlight was left on the screen until now.
    b.MarkValid = dragged_;
    if (!dragged_)
        b.bInvalidateAll();
}

// ---- copy ----------------------------------------------------------------------------------

std::string TTerminal::SelectionText() const
{
    const TBuffer &b = *buffer_;
    std::string text;
    if (!b.MarkValid || b.CellCount == 0)
        return text;
    const int lastRow = std::min(b.EndRow, b.Rows - 1);
    for (int row = std::max(b.StartRow, 0); row <= lastRow; ++row) {
        // The end cell is part of the selection as it is painted, so it is copied too.
        const int first = row == b.StartRow ? b.StartColumn : 0;
        const int last = row == b.EndRow ? b.EndColumn : b.Columns - 1;
        const uint8_t *chars = b.CharRow(row);
        for (int c = std::max(first, 0); c <= std::min(last, b.Columns - 1); ++c)
            text.push_back(char(chars[c]));
        text += "\r\n";
    }
    return text;
}

void TTerminal::wmCopy()
{
    if (!buffer_->MarkValid)
        return;
    std::string text;
    try {
        text = SelectionText();
    } catch (const std::bad_alloc &) {
        SendError(kCopyOutOfMemory);
        return;
    }
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

} // namespace terminal
