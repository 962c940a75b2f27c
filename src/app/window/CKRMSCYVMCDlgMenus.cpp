#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CCaptureRecorder.h"
#include "app/window/CAboutDlg.h"
#include "app/window/CTimingDlg.h"
#include "app/window/GuiCall.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace orvex {

namespace {

using Panel = COperatorPanel;

} // namespace

void CKRMSCYVMCDlg::BuildMenus()
{
    m_portMenu = menuBar()->addMenu(QStringLiteral("Port"));
    m_portMenu->setObjectName(QStringLiteral("Port"));
    m_portMenu->setToolTipsVisible(true);
    const CCOMPort* port = m_application.Protocol().GetPort();
    m_portItems.assign(4, nullptr);
    for (int index = 0; index < 4; ++index) {
        auto state = m_panel->GetPortItemState(index);
        if (state == Panel::PortItemState::Removed)
            continue;
        QString name = ToQString(CPortTable::Name(index));
        QString path = ToQString(port->GetPortTable().Path(index));
        auto* item = m_portMenu->addAction(path.isEmpty() ? name : name + QStringLiteral("  ") + path);
        item->setObjectName(name);
        item->setCheckable(true);
        if (state == Panel::PortItemState::Greyed) {
            item->setEnabled(false);
            item->setToolTip(ToQString(port->DescribePortError(index)));
        }
        connect(item, &QAction::triggered, this, [this, index] { OnPortItem(index); });
        m_portItems[static_cast<std::size_t>(index)] = item;
    }
    m_portMenu->addSeparator();
    m_speed9600 = m_portMenu->addAction(QStringLiteral("9600"));
    m_speed9600->setObjectName(QStringLiteral("9600"));
    m_speed9600->setCheckable(true);
    m_speed9600->setChecked(true);
    connect(m_speed9600, &QAction::triggered, this, [this] { OnSpeedItem(9600); });
    m_speed19200 = m_portMenu->addAction(QStringLiteral("19200"));
    m_speed19200->setObjectName(QStringLiteral("19200"));
    m_speed19200->setCheckable(true);
    connect(m_speed19200, &QAction::triggered, this, [this] { OnSpeedItem(19200); });

    m_optionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    m_optionsMenu->setObjectName(QStringLiteral("Options"));
    auto* timing = m_optionsMenu->addAction(QStringLiteral("Communication settings"));
    timing->setObjectName(QStringLiteral("Communication settings"));
    connect(timing, &QAction::triggered, this, &CKRMSCYVMCDlg::OnCommunicationSettings);

    // Recording and reading capture files, as orvexctl --capture and
    // orvexctl decode do.
    m_recorder = std::make_unique<CCaptureRecorder>();
    m_captureMenu = menuBar()->addMenu(QStringLiteral("&Capture"));
    m_captureMenu->setObjectName(QStringLiteral("Capture"));
    m_recordCapture = m_captureMenu->addAction(QStringLiteral("Record capture..."));
    m_recordCapture->setObjectName(QStringLiteral("Record capture"));
    connect(m_recordCapture, &QAction::triggered, this, &CKRMSCYVMCDlg::OnRecordCapture);
    m_stopRecording = m_captureMenu->addAction(QStringLiteral("Stop recording"));
    m_stopRecording->setObjectName(QStringLiteral("Stop recording"));
    m_stopRecording->setEnabled(false);
    connect(m_stopRecording, &QAction::triggered, this, &CKRMSCYVMCDlg::OnStopRecording);
    m_captureMenu->addSeparator();
    auto* openCapture = m_captureMenu->addAction(QStringLiteral("Open capture..."));
    openCapture->setObjectName(QStringLiteral("Open capture"));
    connect(openCapture, &QAction::triggered, this, &CKRMSCYVMCDlg::OnOpenCapture);

    // A window manager offers no system menu to extend: About goes to Help.
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help"));
    auto* about = help->addAction(QStringLiteral("&About ORVEX VMC Simulator..."));
    about->setObjectName(QStringLiteral("16"));
    connect(about, &QAction::triggered, this, &CKRMSCYVMCDlg::OnAbout);
}

// ---- Menus -----------------------------------------------------------------------

void CKRMSCYVMCDlg::UpdatePortMenu()
{
    const int current = m_panel->GetCurrentPort();
    for (int index = 0; index < 4; ++index) {
        if (QAction* item = m_portItems[static_cast<std::size_t>(index)])
            item->setChecked(index == current);
    }
    const int speed = m_panel->GetSpeed();
    m_speed9600->setChecked(speed != 19200);
    m_speed19200->setChecked(speed == 19200);
}

void CKRMSCYVMCDlg::OnPortItem(int index)
{
    if (IsBusy() || m_closeRequested) {
        UpdatePortMenu();
        return;
    }
    RunTask([this, index] { m_panel->ChoosePort(index); }, [this] { UpdatePortMenu(); });
}

void CKRMSCYVMCDlg::OnSpeedItem(int baud)
{
    if (IsBusy() || m_closeRequested) {
        UpdatePortMenu();
        return;
    }
    RunTask([this, baud] { m_panel->ChooseSpeed(baud); }, [this] { UpdatePortMenu(); });
}

void CKRMSCYVMCDlg::OnCommunicationSettings()
{
    if (IsBusy() || m_closeRequested)
        return;
    CTimingDlg dialog(m_panel->GetTiming(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    TimingSettings values = dialog.Values();
    RunTask([this, values] { m_panel->ApplyTiming(values); });
}

void CKRMSCYVMCDlg::OnAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

} // namespace orvex
