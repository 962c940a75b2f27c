#include "app/window/CLogListModel.h"

#include <QSaveFile>

#include <algorithm>

namespace orvex {

namespace {

// What the item delegate adds around the text: the style's text margins
// on both sides and a pixel above and below.
constexpr int kRowHorizontalMargin = 8;
constexpr int kRowVerticalMargin = 2;
// Bytes written per call while saving.
constexpr std::size_t kSaveBufferSize = std::size_t { 1 } << 20;

} // namespace

CLogListModel::CLogListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &CLogListModel::FlushPending);
    m_sinceFlush.start();
}

CLogListModel::~CLogListModel() = default;

void CLogListModel::AddLine(std::string_view line)
{
    {
        std::lock_guard lock(m_pendingMutex);
        m_pendingText.append(line);
        m_pendingEnds.push_back(m_pendingText.size());
    }
    ScheduleHandOver();
}

void CLogListModel::SelectLastLine()
{
    {
        std::lock_guard lock(m_pendingMutex);
        m_pendingSelect = static_cast<std::int64_t>(m_pendingEnds.size()) - 1;
    }
    ScheduleHandOver();
}

void CLogListModel::SetStatusText(std::string_view text)
{
    {
        std::lock_guard lock(m_pendingMutex);
        m_pendingStatus.assign(text);
        m_statusPending = true;
    }
    ScheduleHandOver();
}

void CLogListModel::ScheduleHandOver()
{
    if (m_handOverPosted.exchange(true))
        return;
    // Posting is safe from any thread; the call runs on the model's thread,
    // and is dropped if the model is gone by then.
    QMetaObject::invokeMethod(this, [this] { StartFrameTimer(); }, Qt::QueuedConnection);
}

void CLogListModel::StartFrameTimer()
{
    if (m_frameTimer.isActive())
        return;
    auto elapsed = m_sinceFlush.elapsed();
    int delay = elapsed >= kFrameMilliseconds ? 0 : kFrameMilliseconds - static_cast<int>(elapsed);
    m_frameTimer.start(delay);
}

std::size_t CLogListModel::PendingCount() const
{
    std::lock_guard lock(m_pendingMutex);
    return m_pendingEnds.size();
}

void CLogListModel::FlushPending()
{
    std::string text;
    std::vector<std::size_t> ends;
    std::int64_t select;
    std::string status;
    bool statusPending;
    {
        std::lock_guard lock(m_pendingMutex);
        text.swap(m_pendingText);
        ends.swap(m_pendingEnds);
        select = m_pendingSelect;
        m_pendingSelect = -2;
        status.swap(m_pendingStatus);
        statusPending = m_statusPending;
        m_statusPending = false;
        m_handOverPosted.store(false);
        // Keep a frame's worth of room for the next batch, but not the
        // room of a flood that is over.
        if (text.capacity() <= kSaveBufferSize) {
            m_pendingText.reserve(text.capacity());
            m_pendingEnds.reserve(ends.capacity());
        }
    }
    m_frameTimer.stop();
    m_sinceFlush.restart();

    auto first = static_cast<std::int64_t>(m_store.Count());
    if (!ends.empty()) {
        beginInsertRows(QModelIndex(), static_cast<int>(first), static_cast<int>(first + static_cast<std::int64_t>(ends.size()) - 1));
        std::size_t start = 0;
        for (std::size_t end : ends) {
            m_store.Append(std::string_view(text).substr(start, end - start));
            start = end;
        }
        endInsertRows();
    }
    if (select != -2) {
        std::int64_t row = first + select;
        if (row >= 0)
            emit SelectionRequested(static_cast<int>(row));
    }
    if (statusPending)
        emit StatusTextChanged(QString::fromUtf8(status.data(), static_cast<qsizetype>(status.size())));
}

void CLogListModel::Clear()
{
    {
        std::lock_guard lock(m_pendingMutex);
        std::string().swap(m_pendingText);
        std::vector<std::size_t>().swap(m_pendingEnds);
        m_pendingSelect = -2;
    }
    beginResetModel();
    m_store.Clear();
    endResetModel();
}

int CLogListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<std::size_t>(m_store.Count(), static_cast<std::size_t>(INT_MAX)));
}

QSize CLogListModel::RowSize() const
{
    auto longest = static_cast<int>(std::min<std::size_t>(m_store.LongestLine(), 1 << 20));
    return { longest * m_characterCell.width() + kRowHorizontalMargin, m_characterCell.height() + kRowVerticalMargin };
}

void CLogListModel::SetCharacterCell(QSize cell)
{
    if (cell.isValid() && !cell.isEmpty())
        m_characterCell = cell;
}

QVariant CLogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= m_store.Count())
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        std::string_view line = m_store.Line(static_cast<std::size_t>(index.row()));
        return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    case Qt::SizeHintRole:
        // One size for every row (the view asks once): wide enough for the
        // longest line, so long lines scroll horizontally instead of being cut.
        return RowSize();
    default:
        return {};
    }
}

bool CLogListModel::SaveToFile(const QString& path)
{
    FlushPending();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::string buffer;
    buffer.reserve(kSaveBufferSize + 4096);
    auto writeBuffer = [&] {
        auto size = static_cast<qint64>(buffer.size());
        bool written = file.write(buffer.data(), size) == size;
        buffer.clear();
        return written;
    };
    for (std::size_t i = 0, count = m_store.Count(); i < count; ++i) {
        buffer.append(m_store.Line(i));
        buffer.push_back('\n');
        if (buffer.size() >= kSaveBufferSize && !writeBuffer()) {
            file.cancelWriting();
            return false;
        }
    }
    if (!buffer.empty() && !writeBuffer()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace orvex
