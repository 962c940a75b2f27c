#pragma once

#include "app/PanelMembers.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace orvex {

// "Timing settings": the response time-out, the polling interval, the
// intercommand interval and the command prefix choice. OK pulls the three
// edits as signed integers (the dialog stays open on anything else) and
// closes; what OK means for the engines is the caller's business.
class CTimingDlg : public QDialog {
    Q_OBJECT

public:
    explicit CTimingDlg(const TimingSettings& values, QWidget* parent = nullptr);

    // The values as accepted; negative times are given as 0, since a
    // negative time-out or pause has no meaning.
    TimingSettings Values() const { return m_values; }

public slots:
    void accept() override;

private:
    QLineEdit* m_responseTimeout;
    QLineEdit* m_pollingInterval;
    QLineEdit* m_intercommandInterval;
    QComboBox* m_commandPrefix;
    TimingSettings m_values;
};

} // namespace orvex
