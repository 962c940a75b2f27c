#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace orvex {

class CExchangeLog;
class CLogListModel;
class CLogListView;

// Tools over the log list: a search field with Previous and Next (matches
// highlighted, the found line selected), a filter (all lines, errors only,
// bill events only, one command), and the choice of milliseconds in the
// headers' time.
class CLogSearchBar : public QWidget {
    Q_OBJECT

public:
    CLogSearchBar(CLogListModel& model, CLogListView& view, CExchangeLog& log, QWidget* parent = nullptr);

    QLineEdit* SearchField() const { return m_search; }
    // Finds the next (or previous) line holding the search text; false
    // when none does.
    bool FindNext();
    bool FindPrevious();

private:
    bool Find(bool forward);
    void ApplyFilter();

    CLogListModel& m_model;
    CLogListView& m_view;
    CExchangeLog& m_log;
    QLineEdit* m_search;
    QPushButton* m_previous;
    QPushButton* m_next;
    QComboBox* m_filter;
    QComboBox* m_command;
    QCheckBox* m_milliseconds;
};

} // namespace orvex
