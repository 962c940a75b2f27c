#pragma once

#include "app/CLinkStatus.h"

#include <QWidget>

class QLabel;

namespace orvex {

// The status bar's fields: the line, polling, the last poll state with its
// age, the counts, and a red "No answer for N s" while the unit is silent.
// Only shows what CLinkStatus describes.
class CLinkStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit CLinkStatusBar(QWidget* parent = nullptr);

    void Show(const CLinkStatus::Fields& fields);
    // A field beside the others for what else runs (a capture, a relay).
    void SetExtra(const QString& text);

private:
    QLabel* AddField(const char* name, int stretch = 0);

    QLabel* m_port;
    QLabel* m_speed;
    QLabel* m_address;
    QLabel* m_polling;
    QLabel* m_lastPoll;
    QLabel* m_counts;
    QLabel* m_silence;
    QLabel* m_extra;
};

} // namespace orvex
