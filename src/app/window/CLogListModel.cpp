#include "app/window/CLogListModel.h"

#include <QSaveFile>

#include <algorithm>
#include <climits>

namespace orvex {

namespace {

// Bytes handed to the file per write while saving.
constexpr std::size_t kSaveBufferSize = std::size_t { 1 } << 20;
// Lines copied out of the store per taking of its lock while saving, so
// that the engine's thread is never kept waiting long.
constexpr std::size_t kSaveLinesPerLock = 16384;

} // namespace

CLogListModel::CLogListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &CLogListModel::FlushPending);
    m_sinceHandOver.start();
}

CLogListModel::~CLogListModel() = default;

void CLogListModel::AddLine(std::string_view line)
{
    {
        std::lock_guard lock(m_mutex);
        m_store.Append(line);
    }
    ScheduleHandOver();
}

void CLogListModel::SelectLastLine()
{
    {
        std::lock_guard lock(m_mutex);
        m_selectRow = static_cast<std::int64_t>(m_store.Count()) - 1;
    }
    ScheduleHandOver();
}

void CLogListModel::SetStatusText(std::string_view text)
{
    {
        std::lock_guard lock(m_mutex);
        m_status.assign(text);
        m_statusChanged = true;
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
    auto elapsed = m_sinceHandOver.elapsed();
    int delay = elapsed >= kFrameMilliseconds ? 0 : kFrameMilliseconds - static_cast<int>(elapsed);
    m_frameTimer.start(delay);
}

void CLogListModel::FlushPending()
{
    std::size_t count;
    std::size_t longest;
    std::int64_t select;
    std::string status;
    bool statusChanged;
    {
        std::lock_guard lock(m_mutex);
        // Cleared inside the lock: a writer that appends after this posts
        // a hand-over of its own.
        m_handOverPosted.store(false);
        count = std::min<std::size_t>(m_store.Count(), INT_MAX);
        longest = m_store.LongestLine();
        select = m_selectRow;
        m_selectRow = -1;
        statusChanged = m_statusChanged;
        m_statusChanged = false;
        if (statusChanged)
            status.swap(m_status);
    }
    m_frameTimer.stop();
    m_sinceHandOver.restart();

    if (longest != m_announcedLongest) {
        m_announcedLongest = longest;
        emit LongestLineChanged(static_cast<qsizetype>(longest));
    }
    if (static_cast<int>(count) > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, static_cast<int>(count) - 1);
        m_rows = static_cast<int>(count);
        endInsertRows();
    }
    if (select >= 0 && select < m_rows)
        emit SelectionRequested(static_cast<int>(select));
    if (statusChanged)
        emit StatusTextChanged(QString::fromUtf8(status.data(), static_cast<qsizetype>(status.size())));
}

void CLogListModel::Clear()
{
    beginResetModel();
    {
        std::lock_guard lock(m_mutex);
        m_store.Clear();
        m_selectRow = -1;
    }
    m_rows = 0;
    m_announcedLongest = 0;
    endResetModel();
    emit LongestLineChanged(0);
}

int CLogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant CLogListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 || index.row() >= m_rows)
        return {};
    std::lock_guard lock(m_mutex);
    std::string_view line = m_store.Line(static_cast<std::size_t>(index.row()));
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

std::size_t CLogListModel::LineCount() const
{
    std::lock_guard lock(m_mutex);
    return m_store.Count();
}

std::string CLogListModel::Line(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return std::string(m_store.Line(index));
}

std::size_t CLogListModel::LongestLine() const
{
    std::lock_guard lock(m_mutex);
    return m_store.LongestLine();
}

std::size_t CLogListModel::MemoryUsage() const
{
    std::lock_guard lock(m_mutex);
    return m_store.MemoryUsage();
}

std::size_t CLogListModel::PendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_store.Count() - static_cast<std::size_t>(m_rows);
}

bool CLogListModel::SaveToFile(const QString& path)
{
    QSaveFile file(path);
    // A writable file in a directory the user cannot write (no room for
    // the temporary file beside it) is written in place.
    file.setDirectWriteFallback(true);
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
    // Every line written so far, also those not yet shown.
    std::size_t count = LineCount();
    for (std::size_t first = 0; first < count; first += kSaveLinesPerLock) {
        {
            std::lock_guard lock(m_mutex);
            // A Clear cannot come between: it runs on this thread.
            std::size_t last = std::min(count, first + kSaveLinesPerLock);
            for (std::size_t i = first; i < last; ++i) {
                buffer.append(m_store.Line(i));
                buffer.push_back('\n');
            }
        }
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
