#include "app/window/CHandlerWorker.h"

#include <QMetaObject>

namespace orvex {

CHandlerWorker::CHandlerWorker(QObject* parent)
    : QObject(parent)
{
    m_thread = std::thread([this] { ThreadMain(); });
}

CHandlerWorker::~CHandlerWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool CHandlerWorker::Run(std::function<void()> task)
{
    if (m_busy.exchange(true))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_task = std::move(task);
    }
    m_wake.notify_all();
    return true;
}

void CHandlerWorker::ThreadMain()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_task; });
            if (!m_task)
                return;
            task = std::move(m_task);
            m_task = nullptr;
        }
        task();
        // Busy until the GUI thread has heard of the end, so that it never
        // sees an idle worker before it has pushed the task's results.
        QMetaObject::invokeMethod(this, [this] {
            m_busy.store(false);
            emit TaskFinished();
        }, Qt::QueuedConnection);
    }
}

} // namespace orvex
