#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CBusWatch.h"
#include "app/CCaptureRecorder.h"
#include "app/window/CBusWatchDlg.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CLogListModel.h"
#include "app/window/GuiCall.h"
#include "decode/CExchangeLog.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QStatusBar>

#include <algorithm>
#include <memory>

namespace orvex {

void CKRMSCYVMCDlg::OnRecordCapture()
{
    // While a bus is watched, the recording takes the watched frames; while
    // polling mode runs, it starts between two exchanges.
    if ((IsBusy() && !IsWatchingBus()) || m_closeRequested)
        return;
    CCOMPort* port = m_application.Protocol().GetPort();
    if (!port)
        return;
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Record capture"), QString(),
                                       QStringLiteral("Capture files (*.pcapng);;All files (*)"));
    if (name.isEmpty())
        return;
    const int current = m_panel->GetCurrentPort();
    std::string portName = current >= 0 && current < CPortTable::kSlots ? port->GetPortPath(current) : std::string();
    std::string error = "the port is busy with an exchange; try again";
    bool started = false;
    m_application.Protocol().BetweenExchanges([&] {
        error.clear();
        started = m_recorder->Start(ToStdString(name), *port, portName.empty() ? std::string("port") : portName, error);
    });
    if (!started) {
        ShowMessageBox(this, QStringLiteral("Unable to record the capture"), ToQString(error));
        return;
    }
    m_recordCapture->setEnabled(false);
    m_stopRecording->setEnabled(true);
    m_statusFields->SetExtra(QStringLiteral("Recording to %1").arg(name));
}

void CKRMSCYVMCDlg::OnStopRecording()
{
    if ((IsBusy() && !IsWatchingBus()) || !m_recorder->IsRecording())
        return;
    const QString path = ToQString(m_recorder->Path());
    std::string error;
    // An exchange that does not end within the lock's wait is cut; the
    // port's tap is let go safely either way.
    if (!m_application.Protocol().BetweenExchanges([&] { error = m_recorder->Stop(); }))
        error = m_recorder->Stop();
    m_recordCapture->setEnabled(true);
    m_stopRecording->setEnabled(false);
    m_statusFields->SetExtra(QString());
    if (!error.empty())
        ShowMessageBox(this, QStringLiteral("The capture is incomplete"), ToQString(error));
    else
        statusBar()->showMessage(QStringLiteral("Capture saved to %1").arg(path), 5000);
}

void CKRMSCYVMCDlg::OnOpenCapture()
{
    QString name = m_askFileName ? m_askFileName()
                                 : QFileDialog::getOpenFileName(this, QStringLiteral("Open capture"), QString(),
                                       QStringLiteral("Capture files (*.pcapng);;All files (*)"));
    if (name.isEmpty())
        return;
    m_log->OutputLine("== Capture " + ToStdString(name) + " ==");
    std::string error;
    if (!DecodeCaptureFile(ToStdString(name), *m_model, error))
        ShowMessageBox(this, QStringLiteral("Unable to read the capture"), ToQString(error));
    m_model->FlushPending();
}

// ---- Bus menu ---------------------------------------------------------------------

void CKRMSCYVMCDlg::OnWatchBus(WireWatchKind kind)
{
    if (IsSomethingRunning() || m_closeRequested)
        return;
    const CPortTable table = m_application.Protocol().GetPort()->GetPortTable();
    std::vector<std::pair<std::string, std::string>> ports;
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        if (!table.Path(index).empty())
            ports.emplace_back(CPortTable::Name(index), table.Path(index));
    }
    CBusWatchDlg dialog(kind, ports, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const WireWatchSettings settings = dialog.Settings();

    // The watch cannot share a line with the window's own port: that port
    // is let go meanwhile and opened again after.
    CKRMSProtocol& protocol = m_application.Protocol();
    const CCOMPort* own = protocol.GetPort();
    m_reopenAfterWatch = false;
    if (own->IsOpen()) {
        const std::string& path = table.Path(own->GetOpenIndex());
        if (std::find(settings.paths.begin(), settings.paths.end(), path) != settings.paths.end())
            m_reopenAfterWatch = protocol.ClosePort();
    }

    // The log's own options ("Display communication data", "Display
    // exchange", the timestamps): the same lines as the window's exchanges.
    const WireLogOptions options { Check(1121)->isChecked(), Check(1134)->isChecked(), m_log->GetHeaderClock() };
    const int baud = m_panel->GetSpeed();
    m_busWatch = std::make_unique<CBusWatch>(settings, *m_model, m_recorder.get());
    m_recorder->SetBusPorts(settings.paths);
    CBusWatch* watch = m_busWatch.get();
    auto opened = std::make_shared<bool>(false);
    auto outcome = std::make_shared<std::string>();
    RunTask([watch, baud, options, opened, outcome] {
        std::string error;
        if (!watch->Open(baud, options, error)) {
            *outcome = error;
            return;
        }
        *opened = true;
        *outcome = watch->Run();
    }, [this, kind, opened, outcome] { FinishWatch(kind, *opened, *outcome); });
    if (!IsBusy()) {
        m_recorder->SetBusPorts({});
        m_busWatch.reset();
        return;
    }
    m_running = ToQString(watch->StateText());
    ApplyEnabledState();
}

void CKRMSCYVMCDlg::FinishWatch(WireWatchKind kind, bool opened, const std::string& outcome)
{
    m_recorder->SetBusPorts({});
    m_busWatch.reset();
    m_model->FlushPending();
    const QString what = kind == WireWatchKind::Relay ? QStringLiteral("Relay") : QStringLiteral("Monitor");
    QString text;
    QString detail;
    if (!opened) {
        text = QStringLiteral("%1: %2").arg(what, ToQString(outcome));
        detail = QStringLiteral("Nothing is watched. Check the cable and the port, or choose another.");
    } else if (!outcome.empty()) {
        text = QStringLiteral("%1 ended: %2").arg(what, ToQString(outcome));
        detail = QStringLiteral("What was heard before is in the log (and in the capture, if one is recorded).");
    } else {
        statusBar()->showMessage(QStringLiteral("%1 stopped").arg(what), 5000);
    }
    // After the controls are back, so the box does not hold up the end of
    // the task.
    if (!text.isEmpty()) {
        QMetaObject::invokeMethod(this, [this, text, detail] { ShowMessageBox(this, text, detail); }, Qt::QueuedConnection);
    }
    if (m_reopenAfterWatch) {
        m_reopenAfterWatch = false;
        QMetaObject::invokeMethod(this, [this] {
            if (IsBusy() || m_closeRequested)
                return;
            RunTask([this] { m_panel->ChooseSpeed(m_panel->GetSpeed()); }, [this] { UpdatePortMenu(); });
        }, Qt::QueuedConnection);
    }
}

} // namespace orvex
