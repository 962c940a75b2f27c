#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CBusWatch.h"
#include "app/CUnitPicture.h"
#include "app/window/CHandlerWorker.h"
#include "vmc/CVMC.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

namespace orvex {

bool CKRMSCYVMCDlg::IsSomethingRunning() const
{
    return IsBusy() || m_application.Engine().IsRunning();
}

bool CKRMSCYVMCDlg::StopRunning()
{
    if (m_closeRequested)
        return false;
    if (IsBusy()) {
        if (m_stopRequested)
            return true;
        m_stopRequested = true;
        // Outside polling mode the handler waits on the window's own stop
        // flag; in polling mode a running command is one short exchange.
        m_handlerStop.store(1);
        if (m_busWatch)
            m_busWatch->Stop();
        statusBar()->showMessage(QStringLiteral("Stopping: %1...").arg(m_running.isEmpty() ? QStringLiteral("the running task") : m_running));
        ApplyEnabledState();
        return true;
    }
    if (m_application.Engine().IsRunning()) {
        // Polling mode, as unchecking its box does.
        Check(1022)->setChecked(false);
        OnPollingModeClicked();
        m_running = QStringLiteral("Polling mode");
        m_stopRequested = true;
        ApplyEnabledState();
        return true;
    }
    return false;
}

void CKRMSCYVMCDlg::OnEscape()
{
    // Only a stop: Escape never ends the program.
    StopRunning();
}

// ---- Closing ---------------------------------------------------------------------

void CKRMSCYVMCDlg::closeEvent(QCloseEvent* event)
{
    if (m_closeDone) {
        event->accept();
        return;
    }
    event->ignore();
    if (!m_closeRequested && NeedsCloseQuestion() && !AskBeforeClose())
        return;
    RequestClose();
}

void CKRMSCYVMCDlg::CloseWithoutAsking()
{
    if (!m_closeDone)
        RequestClose();
}

bool CKRMSCYVMCDlg::NeedsCloseQuestion() const
{
    return IsBusy() || m_unitPicture->Take().dispenser > 0;
}

bool CKRMSCYVMCDlg::AskBeforeClose()
{
    QString what;
    if (IsBusy())
        what = QStringLiteral("%1 is running.").arg(m_running.isEmpty() ? QStringLiteral("A command") : m_running);
    const int waiting = m_unitPicture->Take().dispenser;
    if (waiting > 0)
        what += (what.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("%1 bills wait in the dispenser.").arg(waiting);
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kCaption),
        what + QStringLiteral(" Stop it and close the window?"), QMessageBox::Save | QMessageBox::Close | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("Close question"));
    box.button(QMessageBox::Save)->setText(QStringLiteral("Save the log and close"));
    box.button(QMessageBox::Close)->setText(QStringLiteral("Close without saving"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == box.button(QMessageBox::Cancel))
        return false;
    if (clicked == box.button(QMessageBox::Save))
        return SaveLog();
    return true;
}

void CKRMSCYVMCDlg::RequestClose()
{
    // Every wait of a running sequence and of the engine ends at its next
    // turn; the program ends once they have.
    m_application.Engine().RequestStop();
    m_handlerStop.store(1);
    if (m_busWatch)
        m_busWatch->Stop();
    m_application.Device().WakeWaits();
    m_application.RequestClosing();
    if (m_closeRequested)
        return;
    m_closeRequested = true;
    statusBar()->showMessage(QStringLiteral("Closing..."));
    ApplyEnabledState();
    ContinueClose();
}

void CKRMSCYVMCDlg::ContinueClose()
{
    if (IsBusy())
        return; // OnTaskFinished comes back here
    CVMC& engine = m_application.Engine();
    if (engine.IsRunning()) {
        m_worker->Run([&engine] {
            engine.RequestStop();
            while (!engine.WaitForEnd(std::chrono::milliseconds(150))) {
            }
        });
        return;
    }
    m_closeDone = true;
    // Never from inside the close event that started closing (the engine
    // may have ended at once): a close() there is ignored by the toolkit.
    QMetaObject::invokeMethod(this, [this] {
        close();
        emit Closed();
    }, Qt::QueuedConnection);
}

} // namespace orvex
