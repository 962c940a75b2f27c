#include "app/window/CLogListModel.h"

#include "app/LogLineKind.h"

#include <QBrush>
#include <QColor>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <climits>

namespace orvex {

namespace {

// Bytes handed to the file per write while saving.
constexpr std::size_t kSaveBufferSize = std::size_t { 1 } << 20;
// Lines copied out of the store per taking of its lock while saving, so
// that the engine's thread is never kept waiting long.
constexpr std::size_t kSaveLinesPerLock = 16384;

char Folded(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// `lowered` is already in lower case.
bool ContainsFolded(std::string_view line, std::string_view lowered)
{
    if (lowered.empty() || lowered.size() > line.size())
        return false;
    auto found = std::search(line.begin(), line.end(), lowered.begin(), lowered.end(),
        [](char a, char b) { return Folded(a) == b; });
    return found != line.end();
}

QVariant Foreground(LogLineKind kind)
{
    switch (kind) {
    case LogLineKind::Failure: return QBrush(QColor(190, 0, 0));
    case LogLineKind::RawFrame: return QBrush(QColor(110, 110, 110));
    case LogLineKind::Header: return QBrush(QColor(0, 60, 160));
    case LogLineKind::BillEvent: return QBrush(QColor(0, 120, 40));
    case LogLineKind::Separator: return QBrush(QColor(170, 170, 170));
    case LogLineKind::Plain: break;
    }
    return {};
}

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
    int rows = static_cast<int>(count);
    if (!m_filter.ShowsAll()) {
        FeedFilter(count);
        rows = static_cast<int>(std::min<std::size_t>(m_filteredRows.size(), INT_MAX));
        select = select >= 0 ? RowOfLine(static_cast<std::size_t>(select)) : -1;
    }
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
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
    m_filteredRows.clear();
    m_filterFed = 0;
    m_filter.Restart();
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
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != Qt::BackgroundRole)
        return {};
    std::int64_t lineIndex = LineOfRow(index.row());
    std::lock_guard lock(m_mutex);
    std::string_view line = m_store.Line(static_cast<std::size_t>(lineIndex));
    if (role == Qt::ForegroundRole)
        return Foreground(ClassifyLogLine(line));
    if (role == Qt::BackgroundRole)
        return ContainsFolded(line, m_highlight) ? QVariant(QBrush(QColor(255, 236, 120))) : QVariant();
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

std::int64_t CLogListModel::LineOfRow(int row) const
{
    if (row < 0 || row >= m_rows)
        return -1;
    return m_filter.ShowsAll() ? row : static_cast<std::int64_t>(m_filteredRows[static_cast<std::size_t>(row)]);
}

int CLogListModel::RowOfLine(std::size_t line) const
{
    if (m_filter.ShowsAll())
        return line < static_cast<std::size_t>(m_rows) ? static_cast<int>(line) : m_rows - 1;
    auto after = std::upper_bound(m_filteredRows.begin(), m_filteredRows.end(), line);
    return static_cast<int>(after - m_filteredRows.begin()) - 1;
}

void CLogListModel::FeedFilter(std::size_t count)
{
    while (m_filterFed < count) {
        std::lock_guard lock(m_mutex);
        // In slices, so that a writer on the engine's thread never waits long.
        std::size_t last = std::min(count, m_filterFed + kSaveLinesPerLock);
        for (; m_filterFed < last; ++m_filterFed)
            m_filter.Feed(m_filterFed, m_store.Line(m_filterFed), m_filteredRows);
    }
}

void CLogListModel::SetFilter(const CLogFilter& filter)
{
    beginResetModel();
    m_filter = filter;
    m_filter.Restart();
    m_filteredRows.clear();
    m_filterFed = 0;
    std::size_t count = std::min<std::size_t>(LineCount(), INT_MAX);
    if (m_filter.ShowsAll()) {
        m_filteredRows.shrink_to_fit();
        m_rows = static_cast<int>(count);
    } else {
        // A command's exchanges may be most of the log (polling): one
        // allocation instead of a growing copy.
        if (m_filter.GetKind() == CLogFilter::Kind::LogName)
            m_filteredRows.reserve(count);
        FeedFilter(count);
        m_rows = static_cast<int>(std::min<std::size_t>(m_filteredRows.size(), INT_MAX));
    }
    endResetModel();
}

void CLogListModel::SetHighlight(const QString& text)
{
    std::string lowered = text.toLower().toStdString();
    if (lowered == m_highlight)
        return;
    m_highlight = std::move(lowered);
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, 0), { Qt::BackgroundRole });
}

int CLogListModel::FindRow(const QString& text, int from, Direction direction) const
{
    const std::string lowered = text.toLower().toStdString();
    if (lowered.empty() || m_rows == 0)
        return -1;
    const int step = direction == Direction::Forward ? 1 : -1;
    int row = std::clamp(from, -1, m_rows);
    for (int turn = 0; turn < m_rows; ++turn) {
        row += step;
        if (row >= m_rows)
            row = 0;
        else if (row < 0)
            row = m_rows - 1;
        std::size_t line = static_cast<std::size_t>(LineOfRow(row));
        std::lock_guard lock(m_mutex);
        if (ContainsFolded(m_store.Line(line), lowered))
            return row;
    }
    return -1;
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
    m_saveError.clear();
    auto fail = [&] {
        m_saveError = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
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
            m_saveError = file.errorString();
            file.cancelWriting();
            return false;
        }
    }
    if (!buffer.empty() && !writeBuffer()) {
        m_saveError = file.errorString();
        file.cancelWriting();
        return false;
    }
    return file.commit() || fail();
}

} // namespace orvex
