#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CBusWatch.h"
#include "app/CLinkStatus.h"
#include "app/CUnitPicture.h"
#include "app/window/CLinkStatusBar.h"
#include "app/window/CUnitView.h"
#include "app/window/GuiCall.h"
#include "vmc/CVMC.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTime>

namespace orvex {

namespace {

using Panel = COperatorPanel;

} // namespace

void CKRMSCYVMCDlg::ShowResultTime(const QString& caption, const std::string& resultBefore)
{
    // The result line keeps the texts technicians know; the time beside it
    // tells two equal results apart, and says what a command did that
    // leaves the result line as it was (Get Time, Sync Time, a Poll at the
    // card reader's address).
    QString text = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const auto outcome = static_cast<COperatorPanel::Outcome>(m_lastOutcome.load());
    if (ToStdString(Edit(1004)->text()) == resultBefore || Edit(1004)->text().isEmpty()) {
        switch (outcome) {
        case COperatorPanel::Outcome::Succeeded:
            text += QStringLiteral("  %1: OK (details in the log)").arg(caption);
            break;
        case COperatorPanel::Outcome::Failed:
            text += QStringLiteral("  %1: failed (details in the log)").arg(caption);
            break;
        case COperatorPanel::Outcome::NothingSent:
            text += QStringLiteral("  %1: nothing sent").arg(caption);
            break;
        }
    } else {
        text += QStringLiteral("  %1").arg(caption);
    }
    if (m_stopRequested)
        text += QStringLiteral(", stopped by the operator");
    m_resultTime->setText(text);
    m_resultTime->setToolTip(text);
}

void CKRMSCYVMCDlg::UpdateLinkSettings()
{
    CLinkStatus::Settings settings;
    const int port = m_panel->GetCurrentPort();
    if (port >= 0 && port < CPortTable::kSlots) {
        settings.portName = CPortTable::Name(port);
        // A copy taken under the table's lock: a rescan on the worker or
        // the engine's reconnect may rename the slot meanwhile.
        if (const CCOMPort* line = m_application.Protocol().GetPort())
            settings.portPath = line->GetPortPath(port);
    }
    settings.baud = m_panel->GetSpeed();
    settings.address = Combo(1074)->currentIndex();
    settings.polling = m_application.Engine().IsRunning();
    settings.waitingForLine = m_application.Engine().GetLineState() == EngineLineState::WaitingForLine;
    if (m_busWatch)
        settings.busWatch = m_busWatch->StateText();
    m_linkStatus->SetSettings(settings);
}

void CKRMSCYVMCDlg::RefreshStatus()
{
    UpdateLinkSettings();
    m_statusFields->Show(m_linkStatus->Describe(CLinkStatus::Clock::now()));
    m_unitPicture->SetBillTable(m_application.Device().GetBillTable());
    m_unitView->Refresh();
    if (m_stop)
        m_stop->setEnabled(!m_closeRequested && IsSomethingRunning() && !m_stopRequested);
}

} // namespace orvex
