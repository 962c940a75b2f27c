#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace orvex {

// The one worker thread on which the window runs whatever talks to the
// bus: the button handlers, polling mode on and off, the Port menu and the
// timing settings. One task at a time, so the order of operations is the
// one the operator chose; the window disables its controls meanwhile.
class CHandlerWorker : public QObject {
    Q_OBJECT

public:
    explicit CHandlerWorker(QObject* parent = nullptr);
    // Waits for the running task, if any, to end.
    ~CHandlerWorker() override;

    // GUI thread. Starts the task; false (and nothing started) while
    // another one runs.
    bool Run(std::function<void()> task);
    // True from Run until TaskFinished has been delivered.
    bool IsBusy() const { return m_busy.load(); }

signals:
    // On the GUI thread, after the task returned.
    void TaskFinished();

private:
    void ThreadMain();

    // Guards m_task and m_stop.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::function<void()> m_task;
    bool m_stop { false };
    std::atomic<bool> m_busy { false };
    std::thread m_thread;
};

} // namespace orvex
