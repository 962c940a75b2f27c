#pragma once

#ifdef ORVEX_HAVE_WINDOW

#include "app/CApplication.h"
#include "app/window/CKRMSCYVMCDlg.h"
#include "sim/CSimulator.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable texts in the failure messages of gtest.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out)
{
    *out << '{';
    for (const QString& text : texts)
        *out << " \"" << text.toStdString() << '"';
    *out << " }";
}

namespace orvex::test {

// The one QApplication of the test program, on the offscreen platform
// unless another is asked for.
void EnsureApplication();

// Handles events until `done` holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Closes every message box that opens while it lives, as the operator
// would, and keeps their texts in order.
class MessageBoxCloser : public QObject {
public:
    MessageBoxCloser();
    QStringList Texts() const { return m_texts; }
    void Clear() { m_texts.clear(); }

private:
    void Sweep();
    QTimer m_timer;
    QStringList m_texts;
};

// Runs `act` on the modal dialog of type T as soon as it opens (the test
// plays the operator inside the dialog's own event loop).
void WhenModalOpens(const std::function<bool(QWidget*)>& act);

template <typename T>
T* FindControl(QWidget* root, const QString& name)
{
    return root->findChild<T*>(name);
}

// A simulator on a pty, the application with its port table and the main
// window opened on it.
class WindowRig {
public:
    struct Setup {
        SimOptions sim;
        bool startSim { true };
        // Slots after the simulator's (COM2 onwards).
        std::vector<std::string> morePorts;
        bool simFirst { true };
        int deviceAddress { 1 };
        int foundPort { 0 };
        // Initialise the device as the start-up would have.
        bool initialise { true };
    };

    explicit WindowRig(Setup setup);
    ~WindowRig();

    CKRMSCYVMCDlg& Window() { return *m_window; }
    CApplication& Application() { return *m_application; }
    CSimulator& Simulator() { return m_simulator; }
    const std::string& SimPath() const { return m_simPath; }
    MessageBoxCloser& Messages() { return *m_messages; }

    template <typename T>
    T* Control(int id) { return FindControl<T>(m_window.get(), QString::number(id)); }

    // Clicks the button and waits until its handler has finished.
    bool Click(int id, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    QString ResultLine();
    QStringList LogLines();
    bool LogContains(const QString& part);
    // Closes the window and waits until closing has finished.
    bool CloseWindow(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    CSimulator m_simulator;
    std::string m_simPath;
    std::unique_ptr<CApplication> m_application;
    std::unique_ptr<CKRMSCYVMCDlg> m_window;
    std::unique_ptr<MessageBoxCloser> m_messages;
    bool m_closed { false };
};

// Simulator options for fast tests.
SimOptions FastCyclor();
SimOptions FastValidator();

} // namespace orvex::test

#endif
