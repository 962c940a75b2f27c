#include "app/window/CLogSearchBar.h"

#include "app/CLogFilter.h"
#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"
#include "decode/CExchangeLog.h"
#include "decode/Decoders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace orvex {

namespace {

enum FilterItem { kAllLines, kErrorsOnly, kBillEventsOnly, kOneCommand };

QPushButton* SmallButton(const QString& caption)
{
    auto* button = new QPushButton(caption);
    button->setObjectName(caption);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

} // namespace

CLogSearchBar::CLogSearchBar(CLogListModel& model, CLogListView& view, CExchangeLog& log, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_view(view)
    , m_log(log)
{
    setObjectName(QStringLiteral("Log tools"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* searchRow = new QHBoxLayout;
    auto* filterRow = new QHBoxLayout;
    layout->addLayout(searchRow);
    layout->addLayout(filterRow);

    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("Find in log"));
    m_search->setAccessibleName(QStringLiteral("Find in log"));
    m_search->setPlaceholderText(QStringLiteral("Find in log (Ctrl+F)"));
    m_search->setClearButtonEnabled(true);
    m_previous = SmallButton(QStringLiteral("Previous"));
    m_next = SmallButton(QStringLiteral("Next"));
    searchRow->addWidget(m_search, 1);
    searchRow->addWidget(m_previous);
    searchRow->addWidget(m_next);

    m_filter = new QComboBox;
    m_filter->setObjectName(QStringLiteral("Log filter"));
    m_filter->setAccessibleName(QStringLiteral("Log filter"));
    m_filter->addItems({ QStringLiteral("All lines"), QStringLiteral("Errors only"), QStringLiteral("Bill events only"),
        QStringLiteral("One command:") });
    m_command = new QComboBox;
    m_command->setObjectName(QStringLiteral("Log filter command"));
    m_command->setAccessibleName(QStringLiteral("Command shown by the log filter"));
    m_command->setEditable(true);
    for (const DecoderEntry& entry : DecoderEntries())
        m_command->addItem(QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size())));
    m_command->setCurrentText(QStringLiteral("POLL"));
    m_command->setEnabled(false);
    m_milliseconds = new QCheckBox(QStringLiteral("Times with ms"));
    m_milliseconds->setObjectName(QStringLiteral("Times with ms"));
    m_milliseconds->setAccessibleName(QStringLiteral("Times with milliseconds in the log's headers"));
    auto* filterLabel = new QLabel(QStringLiteral("Show"));
    filterLabel->setBuddy(m_filter);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(m_filter, 1);
    filterRow->addWidget(m_command, 1);
    filterRow->addWidget(m_milliseconds);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) { m_model.SetHighlight(text); });
    connect(m_search, &QLineEdit::returnPressed, this, [this] { FindNext(); });
    connect(m_next, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(m_previous, &QPushButton::clicked, this, [this] { FindPrevious(); });
    connect(m_filter, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_command->setEnabled(index == kOneCommand);
        ApplyFilter();
    });
    connect(m_command, &QComboBox::currentTextChanged, this, [this] {
        if (m_filter->currentIndex() == kOneCommand)
            ApplyFilter();
    });
    connect(m_milliseconds, &QCheckBox::toggled, this, [this](bool on) {
        m_log.SetHeaderClock(on ? HeaderClock::Milliseconds : HeaderClock::Seconds);
    });

    auto* find = new QShortcut(QKeySequence::Find, parent ? parent : this);
    connect(find, &QShortcut::activated, this, [this] {
        m_search->setFocus();
        m_search->selectAll();
    });
    auto* findNext = new QShortcut(QKeySequence::FindNext, parent ? parent : this);
    connect(findNext, &QShortcut::activated, this, [this] { FindNext(); });
    auto* findPrevious = new QShortcut(QKeySequence::FindPrevious, parent ? parent : this);
    connect(findPrevious, &QShortcut::activated, this, [this] { FindPrevious(); });
}

bool CLogSearchBar::FindNext()
{
    return Find(true);
}

bool CLogSearchBar::FindPrevious()
{
    return Find(false);
}

bool CLogSearchBar::Find(bool forward)
{
    const QString text = m_search->text();
    if (text.isEmpty())
        return false;
    int from = m_view.currentIndex().isValid() ? m_view.currentIndex().row() : (forward ? -1 : m_model.rowCount());
    int row = m_model.FindRow(text, from, forward ? CLogListModel::Direction::Forward : CLogListModel::Direction::Backward);
    if (row < 0) {
        m_search->setStyleSheet(QStringLiteral("background: #ffd0d0;"));
        m_search->setToolTip(QStringLiteral("\"%1\" is not in the log").arg(text));
        return false;
    }
    m_search->setStyleSheet(QString());
    m_search->setToolTip(QString());
    QModelIndex index = m_model.index(row, 0);
    m_view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_view.scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

void CLogSearchBar::ApplyFilter()
{
    // The line in view stays in view where the filter keeps it.
    std::int64_t current = m_view.currentIndex().isValid() ? m_model.LineOfRow(m_view.currentIndex().row()) : -1;
    const bool following = m_view.IsFollowing();
    switch (m_filter->currentIndex()) {
    case kErrorsOnly:
        m_model.SetFilter(CLogFilter(CLogFilter::Kind::Errors));
        break;
    case kBillEventsOnly:
        m_model.SetFilter(CLogFilter(CLogFilter::Kind::BillEvents));
        break;
    case kOneCommand:
        m_model.SetFilter(CLogFilter(CLogFilter::Kind::LogName, m_command->currentText().trimmed().toStdString()));
        break;
    default:
        m_model.SetFilter(CLogFilter());
        break;
    }
    if (following || current < 0) {
        m_view.scrollToBottom();
        return;
    }
    int row = m_model.RowOfLine(static_cast<std::size_t>(current));
    if (row >= 0) {
        QModelIndex index = m_model.index(row, 0);
        m_view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_view.scrollTo(index, QAbstractItemView::PositionAtCenter);
    }
}

} // namespace orvex
