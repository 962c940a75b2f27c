#pragma once

#include "app/window/CLogLineStore.h"
#include "decode/CLogSink.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QSize>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

// The log list's model: every line stored once (CLogLineStore), uniform
// row sizes, no line limit. Lines written from any thread wait in one
// pending batch; a single queued hand-over moves the batch into the model
// on the GUI thread, at most once per frame, so a flood of lines costs one
// row insertion and one view update per frame instead of one per line.
class CLogListModel : public QAbstractListModel, public CLogSink {
    Q_OBJECT

public:
    // One frame at 60 Hz: the longest a written line waits to be shown.
    static constexpr int kFrameMilliseconds = 16;

    explicit CLogListModel(QObject* parent = nullptr);
    ~CLogListModel() override;

    // CLogSink: safe from any thread, never blocks for long.
    void AddLine(std::string_view line) override;
    void SelectLastLine() override;
    void SetStatusText(std::string_view text) override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // GUI thread only. Moves the pending lines into the model now.
    void FlushPending();
    // Empties the log list, pending lines included.
    void Clear();
    // Every line followed by one line feed, through a QSaveFile so a failed
    // save leaves an existing file as it was. False on any failure.
    bool SaveToFile(const QString& path);

    std::size_t LineCount() const { return m_store.Count(); }
    std::string_view Line(std::size_t index) const { return m_store.Line(index); }
    const CLogLineStore& Store() const { return m_store; }
    // Lines written but not yet handed over.
    std::size_t PendingCount() const;

    // The size of one character cell of the view's font, so that the
    // uniform row width covers the longest line and the view scrolls to it.
    void SetCharacterCell(QSize cell);

signals:
    // The view should select and show this row.
    void SelectionRequested(int row);
    void StatusTextChanged(const QString& text);

private:
    void ScheduleHandOver();
    void StartFrameTimer();
    QSize RowSize() const;

    CLogLineStore m_store; // GUI thread only

    // Guards the pending batch: m_pendingText, m_pendingEnds,
    // m_pendingSelect, m_pendingStatus and m_statusPending.
    mutable std::mutex m_pendingMutex;
    std::string m_pendingText;
    std::vector<std::size_t> m_pendingEnds; // end offset of each pending line in m_pendingText
    // Row to select, relative to the batch: -1 = the last row already
    // shown, -2 = nothing to select.
    std::int64_t m_pendingSelect { -2 };
    std::string m_pendingStatus;
    bool m_statusPending { false };

    // Set while a hand-over is posted and not yet done, so writers post once.
    std::atomic<bool> m_handOverPosted { false };

    QTimer m_frameTimer;
    QElapsedTimer m_sinceFlush;
    QSize m_characterCell { 7, 16 };
};

} // namespace orvex
