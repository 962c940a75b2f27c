#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CCaptureRecorder.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CLogListModel.h"
#include "app/window/GuiCall.h"
#include "decode/CExchangeLog.h"

#include <QAction>
#include <QFileDialog>
#include <QStatusBar>

namespace orvex {

void CKRMSCYVMCDlg::OnRecordCapture()
{
    if (IsSomethingRunning() || m_closeRequested)
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
    std::string portName = current >= 0 && current < CPortTable::kSlots ? port->GetPortTable().Path(current) : std::string();
    std::string error;
    if (!m_recorder->Start(ToStdString(name), *port, portName.empty() ? std::string("port") : portName, error)) {
        ShowMessageBox(this, QStringLiteral("Unable to record the capture"), ToQString(error));
        return;
    }
    m_recordCapture->setEnabled(false);
    m_stopRecording->setEnabled(true);
    m_statusFields->SetExtra(QStringLiteral("Recording to %1").arg(name));
}

void CKRMSCYVMCDlg::OnStopRecording()
{
    if (IsSomethingRunning() || !m_recorder->IsRecording())
        return;
    const QString path = ToQString(m_recorder->Path());
    const std::string error = m_recorder->Stop();
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

} // namespace orvex
