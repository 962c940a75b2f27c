#pragma once

#include <QListView>

namespace orvex {

// The log list: a QListView whose rows all have one height, laid out by
// arithmetic instead of QListView's per-row layout (which walks every row
// on each insertion and takes a second at ten million lines). Painting,
// hit-testing, scrolling and selection touch only the rows in view, so
// appending stays cheap however long the log grows. The width of its
// content follows the longest line so that long lines scroll horizontally.
class CLogListView : public QListView {
    Q_OBJECT

public:
    explicit CLogListView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;
    // Type-ahead would read every line of the log.
    void keyboardSearch(const QString&) override { }

    // In characters; the model tells when its longest line grows.
    void SetLongestLine(qsizetype length);
    int RowHeight() const { return m_rowHeight; }
    int ContentWidth() const;
    // The first row in view (the vertical scroll bar counts rows).
    int TopRow() const;
    int VisibleRows() const;
    // Rows painted by the last paint event, for the checks of the tests.
    int LastPaintedRows() const { return m_lastPaintedRows; }
    // Whether the view is at its last row, so that new lines are followed.
    // Scrolling up (or Ctrl+Home) stops the following; back at the end, it
    // starts again.
    bool IsFollowing() const { return m_following; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    QSize viewportSizeHint() const override;

protected slots:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    int RowCount() const;
    int RowAt(int y) const;
    int RowTop(int row) const;
    void UpdateMetrics();
    void CopySelection() const;

    int m_rowHeight { 16 };
    int m_characterWidth { 8 };
    qsizetype m_longestLine { 0 };
    int m_lastPaintedRows { 0 };
    bool m_following { true };
};

} // namespace orvex
