#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvex {

// SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl+C in the terminal that
// started the window) end the window as its close box does, so polling stops
// and the port is released in order. The handler only writes a byte into a
// pipe; the GUI thread, woken by the pipe, does the rest.
class CTerminationSignal : public QObject {
    Q_OBJECT

public:
    explicit CTerminationSignal(QObject* parent = nullptr);
    ~CTerminationSignal() override;

    bool Received() const { return m_received; }

signals:
    void Requested();

private:
    void OnPipeReadable();

    QSocketNotifier* m_notifier { nullptr };
    bool m_received { false };
};

} // namespace orvex
