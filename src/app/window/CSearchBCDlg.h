#pragma once

#include "app/CStartupObserver.h"

#include <QDialog>

#include <atomic>

class QLabel;
class QProgressBar;

namespace orvex {

// The small window of the start-up search: the status text and a busy
// indicator in place of the animation clips. The search runs on a worker
// thread and tells this window what to show; each call is carried over to
// the GUI thread, and a message box holds the search until it is closed.
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
    // The operator closed the window during the search: the program ends
    // once the search is over, without opening the main window.
    bool CloseRequested() const { return m_closeRequested.load(); }

signals:
    // Each status text as it is shown, in order.
    void TextShown(const QString& text);
    // Each message box text, when the box opens.
    void MessageShown(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ShowClip(int clip);

    QLabel* m_status;
    QProgressBar* m_busy;
    int m_clip { kSearchAnimation };
    std::atomic<bool> m_closeRequested { false };
};

} // namespace orvex
