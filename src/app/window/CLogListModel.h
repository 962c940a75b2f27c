#pragma once

#include "app/CLogFilter.h"
#include "app/window/CLogLineStore.h"
#include "decode/CLogSink.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

// The log list's model: every line stored once (CLogLineStore), no line
// limit. Writers on any thread append to the store at once; the rows are
// announced to the view on the GUI thread by one queued hand-over, at most
// once per frame, so a flood of lines costs one row insertion and one view
// update per frame instead of one per line.
class CLogListModel : public QAbstractListModel, public CLogSink {
    Q_OBJECT

public:
    // One frame at 60 Hz: the longest a written line waits to be shown.
    static constexpr int kFrameMilliseconds = 16;

    explicit CLogListModel(QObject* parent = nullptr);
    ~CLogListModel() override;

    // CLogSink: safe from any thread; holds the store's lock only to copy.
    void AddLine(std::string_view line) override;
    void SelectLastLine() override;
    void SetStatusText(std::string_view text) override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The rest is for the GUI thread.

    // Announces the lines written so far now, instead of at the next frame.
    void FlushPending();
    // Empties the log list, lines not yet announced included.
    void Clear();
    // Every line followed by one line feed, through a QSaveFile so that a
    // failed save leaves an existing file as it was. False on any failure,
    // with the reason in LastSaveError.
    bool SaveToFile(const QString& path);
    QString LastSaveError() const { return m_saveError; }

    // Only the lines the filter lets through become rows (every line with
    // the default filter). One pass over the log.
    void SetFilter(const CLogFilter& filter);
    const CLogFilter& Filter() const { return m_filter; }
    // The log line shown in `row`, or -1.
    std::int64_t LineOfRow(int row) const;
    // The row that shows log line `line`, or the row of the nearest line
    // shown before it; -1 when none is.
    int RowOfLine(std::size_t line) const;

    // Rows whose text holds `text` (any case) get a highlight.
    void SetHighlight(const QString& text);
    // The next row after `from` (or before it, Backward) whose line holds
    // `text` in any case, wrapping round; -1 when none does.
    enum class Direction { Forward, Backward };
    int FindRow(const QString& text, int from, Direction direction) const;

    // Lines written, announced or not.
    std::size_t LineCount() const;
    std::string Line(std::size_t index) const;
    // Bytes of the longest line written.
    std::size_t LongestLine() const;
    std::size_t MemoryUsage() const;
    // Lines written but not yet announced to the view.
    std::size_t PendingCount() const;

signals:
    // The view should select and show this row.
    void SelectionRequested(int row);
    void StatusTextChanged(const QString& text);
    // The longest line grew: the view's horizontal extent changes.
    void LongestLineChanged(qsizetype length);

private:
    void ScheduleHandOver();
    void StartFrameTimer();

    // Guards m_store, m_selectRow, m_status and m_statusChanged.
    mutable std::mutex m_mutex;
    CLogLineStore m_store;
    // Row to select at the next hand-over; -1 = none.
    std::int64_t m_selectRow { -1 };
    std::string m_status;
    bool m_statusChanged { false };

    // Set while a hand-over is posted and not yet done, so writers post once.
    std::atomic<bool> m_handOverPosted { false };

    // Feeds lines [m_filterFed, count) to the filter; GUI thread.
    void FeedFilter(std::size_t count);

    // GUI thread only.
    int m_rows { 0 };                 // rows announced to the view
    CLogFilter m_filter;
    std::vector<std::uint32_t> m_filteredRows; // log lines of the rows, when filtered
    std::size_t m_filterFed { 0 };
    std::string m_highlight;          // lower case
    QString m_saveError;
    std::size_t m_announcedLongest { 0 };
    QTimer m_frameTimer;
    QElapsedTimer m_sinceHandOver;
};

} // namespace orvex
