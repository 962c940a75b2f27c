#include "app/window/CLogListView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace orvex {

namespace {

// What the item delegate adds beside the text on both sides together, and
// above and below it.
constexpr int kRowHorizontalMargin = 8;
constexpr int kRowVerticalMargin = 2;

int ClampToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, INT_MIN / 2, INT_MAX / 2));
}

} // namespace

CLogListView::CLogListView(QWidget* parent)
    : QListView(parent)
{
    // A monospaced font keeps the hex columns of the frames aligned and
    // makes the width of a line its length times one advance.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    UpdateMetrics();
    // Only a move of the bar itself decides: a range that grows under a
    // bar at its old end keeps the following as it was.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this](int value) { m_following = value >= verticalScrollBar()->maximum(); });
}

void CLogListView::UpdateMetrics()
{
    QFontMetrics metrics(font());
    m_rowHeight = std::max(1, metrics.height() + kRowVerticalMargin);
    m_characterWidth = std::max({ 1, metrics.horizontalAdvance(QLatin1Char('W')), metrics.horizontalAdvance(QLatin1Char('0')) });
}

void CLogListView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        updateGeometries();
        viewport()->update();
    }
    QListView::changeEvent(event);
}

int CLogListView::RowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int CLogListView::VisibleRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

int CLogListView::TopRow() const
{
    return verticalScrollBar()->value();
}

int CLogListView::RowTop(int row) const
{
    return ClampToInt(static_cast<qint64>(row - TopRow()) * m_rowHeight);
}

int CLogListView::RowAt(int y) const
{
    if (y < 0)
        return -1;
    qint64 row = static_cast<qint64>(TopRow()) + y / m_rowHeight;
    return row < RowCount() ? static_cast<int>(row) : -1;
}

int CLogListView::ContentWidth() const
{
    qint64 width = static_cast<qint64>(m_longestLine) * m_characterWidth + kRowHorizontalMargin;
    return std::max(viewport()->width(), ClampToInt(width));
}

void CLogListView::SetLongestLine(qsizetype length)
{
    if (length == m_longestLine)
        return;
    m_longestLine = length;
    updateGeometries();
}

void CLogListView::doItemsLayout()
{
    // Skips QListView's layout of every row: there is nothing to lay out.
    QAbstractItemView::doItemsLayout();
}

void CLogListView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    const bool following = m_following;
    QListView::rowsInserted(parent, start, end);
    // At once, so that a scroll to the new last row finds the range grown.
    updateGeometries();
    if (following)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CLogListView::updateGeometries()
{
    int visible = VisibleRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(1);
    vertical->setPageStep(visible);
    vertical->setRange(0, std::max(0, RowCount() - visible));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setSingleStep(m_characterWidth * 2);
    horizontal->setPageStep(viewport()->width());
    horizontal->setRange(0, std::max(0, ContentWidth() - viewport()->width()));
    // Not QListView's: that one sizes the scroll bars from its own layout.
    QAbstractItemView::updateGeometries();
}

void CLogListView::resizeEvent(QResizeEvent* event)
{
    // A log followed at its end stays at its end when the view shrinks
    // (a horizontal scroll bar appearing, the window resized).
    QScrollBar* vertical = verticalScrollBar();
    bool atEnd = vertical->value() >= vertical->maximum();
    QAbstractItemView::resizeEvent(event);
    if (atEnd)
        vertical->setValue(vertical->maximum());
}

void CLogListView::scrollContentsBy(int dx, int dy)
{
    if (dy == 0 && std::abs(dx) < viewport()->width())
        viewport()->scroll(dx, 0);
    else
        viewport()->update();
}

int CLogListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int CLogListView::verticalOffset() const
{
    return ClampToInt(static_cast<qint64>(TopRow()) * m_rowHeight);
}

QRect CLogListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex())
        return {};
    return { -horizontalOffset(), RowTop(index.row()), ContentWidth(), m_rowHeight };
}

QModelIndex CLogListView::indexAt(const QPoint& point) const
{
    int row = RowAt(point.y());
    return row < 0 ? QModelIndex() : model()->index(row, 0, rootIndex());
}

void CLogListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    int row = index.row();
    int visible = VisibleRows();
    int top = TopRow();
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - visible + 1;
        break;
    case PositionAtCenter:
        top = row - visible / 2;
        break;
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row >= top + visible)
            top = row - visible + 1;
        break;
    }
    verticalScrollBar()->setValue(std::max(0, top));
}

void CLogListView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    int rows = RowCount();
    if (rows == 0 || !model()) {
        m_lastPaintedRows = 0;
        return;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QRect area = event->rect();
    int first = RowAt(std::max(0, area.top()));
    int last = RowAt(area.bottom());
    if (last < 0)
        last = rows - 1;
    if (first < 0) {
        m_lastPaintedRows = 0;
        return;
    }
    const QItemSelectionModel* selection = selectionModel();
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    const bool enabled = isEnabled();
    const bool active = isActiveWindow();
    QStyleOptionViewItem rowOption = option;
    for (int row = first; row <= last; ++row) {
        QModelIndex index = model()->index(row, 0, rootIndex());
        rowOption = option;
        rowOption.rect = visualRect(index);
        rowOption.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Enabled);
        if (enabled)
            rowOption.state |= QStyle::State_Enabled;
        if (selection && selection->isSelected(index))
            rowOption.state |= QStyle::State_Selected;
        if (focused && index == current)
            rowOption.state |= QStyle::State_HasFocus;
        rowOption.palette.setCurrentColorGroup(!enabled ? QPalette::Disabled : active ? QPalette::Active : QPalette::Inactive);
        itemDelegateForIndex(index)->paint(&painter, rowOption, index);
    }
    m_lastPaintedRows = last - first + 1;
}

QModelIndex CLogListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    int rows = RowCount();
    if (rows == 0)
        return {};
    int row = currentIndex().isValid() ? currentIndex().row() : 0;
    int page = VisibleRows();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        row -= 1;
        break;
    case MoveDown:
    case MoveNext:
        row += 1;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight: {
        // A list has no columns: left and right scroll long lines.
        QScrollBar* bar = horizontalScrollBar();
        bar->setValue(bar->value() + (action == MoveLeft ? -bar->singleStep() : bar->singleStep()));
        return currentIndex();
    }
    }
    return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

void CLogListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags)
{
    int rows = RowCount();
    if (rows == 0 || !selectionModel())
        return;
    QRect normalized = rect.normalized();
    qint64 top = static_cast<qint64>(TopRow()) + static_cast<qint64>(std::floor(static_cast<double>(normalized.top()) / m_rowHeight));
    qint64 bottom = static_cast<qint64>(TopRow()) + static_cast<qint64>(std::floor(static_cast<double>(normalized.bottom()) / m_rowHeight));
    int first = static_cast<int>(std::clamp<qint64>(top, 0, rows - 1));
    int last = static_cast<int>(std::clamp<qint64>(bottom, 0, rows - 1));
    QItemSelection selection(model()->index(first, 0, rootIndex()), model()->index(last, 0, rootIndex()));
    selectionModel()->select(selection, flags);
}

QRegion CLogListView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int top = TopRow();
    const int bottom = top + VisibleRows();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        int first = std::max(range.top(), top);
        int last = std::min(range.bottom(), bottom);
        if (first > last)
            continue;
        region += QRect(0, RowTop(first), viewport()->width(), (last - first + 1) * m_rowHeight);
    }
    return region;
}

QSize CLogListView::viewportSizeHint() const
{
    return { std::min(ContentWidth(), 800), std::min(RowCount(), 20) * m_rowHeight };
}

void CLogListView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void CLogListView::CopySelection() const
{
    if (!selectionModel() || !model())
        return;
    QItemSelection selection = selectionModel()->selection();
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : selection)
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    QString text;
    for (auto [first, last] : ranges) {
        for (int row = first; row <= last; ++row) {
            text += model()->index(row, 0, rootIndex()).data().toString();
            text += QLatin1Char('\n');
        }
    }
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

} // namespace orvex
