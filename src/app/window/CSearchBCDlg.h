#pragma once

#include "app/CStartupObserver.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace orvex {

// The small window of the start-up search: the status text and a busy
// indicator in place of the animation clips. The search runs on a worker
// thread and tells this window what to show; each call is carried over to
// the GUI thread, and a message box holds the search until it is closed.
// It has no close box and no system menu, and Escape does nothing: a stray
// key must not end the session. "Cancel" stops the search on purpose.
class CSearchBCDlg : public QDialog, public CStartupObserver {
    Q_OBJECT

public:
    static constexpr int kSearchAnimation = 133;
    static constexpr int kInitAnimation = 136;

    explicit CSearchBCDlg(QWidget* parent = nullptr);
    ~CSearchBCDlg() override;

    // CStartupObserver, from the search's thread.
    void OnSearchText(const std::string& text) override;
    void OnMessage(const std::string& text) override;
    void OnSearchWindow(bool shown) override;
    void OnAnimation(int clip) override;

    QString StatusText() const;
    int Clip() const { return m_clip; }
    QPushButton* CancelButton() const { return m_cancel; }

signals:
    // Each status text as it is shown, in order.
    void TextShown(const QString& text);
    // Each message box text, when the box opens.
    void MessageShown(const QString& text);
    // "Cancel" was pressed (once).
    void CancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ShowClip(int clip);

    QLabel* m_status;
    QProgressBar* m_busy;
    QPushButton* m_cancel;
    int m_clip { kSearchAnimation };
};

} // namespace orvex
