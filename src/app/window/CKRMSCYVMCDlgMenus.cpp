#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CCaptureRecorder.h"
#include "app/window/CAboutDlg.h"
#include "app/window/CTimingDlg.h"
#include "app/window/GuiCall.h"

#include "link/NetworkPortName.h"
#include "link/PortDescription.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

namespace orvex {

namespace {

using Panel = COperatorPanel;

} // namespace

void CKRMSCYVMCDlg::BuildMenus()
{
    m_portMenu = menuBar()->addMenu(QStringLiteral("Port"));
    m_portMenu->setObjectName(QStringLiteral("Port"));
    m_portMenu->setToolTipsVisible(true);
    m_portItems.assign(CPortTable::kSlots, nullptr);
    // A line served over the network (ser2net), and the table again after
    // an adapter was plugged in or pulled.
    m_portSlotsEnd = m_portMenu->addSeparator();
    m_networkPort = m_portMenu->addAction(QStringLiteral("Network port..."));
    m_networkPort->setObjectName(QStringLiteral("Network port"));
    m_networkPort->setToolTip(QStringLiteral("tcp://HOST:PORT or rfc2217://HOST:PORT"));
    connect(m_networkPort, &QAction::triggered, this, &CKRMSCYVMCDlg::OnNetworkPort);
    m_rescanPorts = m_portMenu->addAction(QStringLiteral("Rescan ports"));
    m_rescanPorts->setObjectName(QStringLiteral("Rescan ports"));
    connect(m_rescanPorts, &QAction::triggered, this, &CKRMSCYVMCDlg::OnRescanPorts);
    FillPortItems();
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
    m_openCapture = m_captureMenu->addAction(QStringLiteral("Open capture..."));
    m_openCapture->setObjectName(QStringLiteral("Open capture"));
    connect(m_openCapture, &QAction::triggered, this, &CKRMSCYVMCDlg::OnOpenCapture);

    // Watching a machine's own controller talk to the unit, as orvexctl
    // monitor and relay do.
    m_busMenu = menuBar()->addMenu(QStringLiteral("&Bus"));
    m_busMenu->setObjectName(QStringLiteral("Bus"));
    auto* monitor = m_busMenu->addAction(QStringLiteral("Monitor..."));
    monitor->setObjectName(QStringLiteral("Monitor"));
    connect(monitor, &QAction::triggered, this, [this] { OnWatchBus(WireWatchKind::Monitor); });
    auto* relay = m_busMenu->addAction(QStringLiteral("Relay..."));
    relay->setObjectName(QStringLiteral("Relay"));
    connect(relay, &QAction::triggered, this, [this] { OnWatchBus(WireWatchKind::Relay); });

    // A window manager offers no system menu to extend: About goes to Help.
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help"));
    auto* about = help->addAction(QStringLiteral("&About ORVEX VMC Simulator..."));
    about->setObjectName(QStringLiteral("16"));
    connect(about, &QAction::triggered, this, &CKRMSCYVMCDlg::OnAbout);
}

// ---- Menus -----------------------------------------------------------------------

void CKRMSCYVMCDlg::FillPortItems()
{
    for (QAction*& item : m_portItems) {
        // Never from an item's own signal: the menu entries and the task
        // ends that call this are other objects.
        delete item;
        item = nullptr;
    }
    const CCOMPort* port = m_application.Protocol().GetPort();
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        const std::string path = port->GetPortPath(index);
        // COM1..COM4 as ever; further up only the network ports entered.
        const bool network = IsNetworkPortName(path);
        if (index >= 4 && !network)
            continue;
        auto state = m_panel->GetPortItemState(index);
        if (state == Panel::PortItemState::Removed)
            continue;
        QString name = ToQString(CPortTable::Name(index));
        // The adapter by its stable name, USB ids and serial number where
        // it has them, as orvexctl ports lists it.
        QString description = path.empty() ? QString() : ToQString(DescribePortText(DescribePort(path)));
        auto* item = new QAction(description.isEmpty() ? name : name + QStringLiteral("  ") + description, m_portMenu);
        m_portMenu->insertAction(m_portSlotsEnd, item);
        item->setObjectName(name);
        item->setCheckable(true);
        item->setToolTip(description);
        if (state == Panel::PortItemState::Greyed) {
            item->setEnabled(false);
            item->setToolTip(ToQString(port->DescribePortError(index)));
        }
        if (index < 4)
            connect(item, &QAction::triggered, this, [this, index] { OnPortItem(index); });
        else
            connect(item, &QAction::triggered, this, [this, path = ToQString(path)] {
                if (IsBusy() || m_closeRequested) {
                    UpdatePortMenu();
                    return;
                }
                RunTask([this, name = ToStdString(path)] { m_panel->ChooseNetworkPort(name); }, [this] { UpdatePortMenu(); });
            });
        m_portItems[static_cast<std::size_t>(index)] = item;
    }
}

void CKRMSCYVMCDlg::OnNetworkPort()
{
    if (IsBusy() || m_closeRequested)
        return;
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("Network port"));
    dialog.setWindowTitle(QStringLiteral("Network port"));
    dialog.setLabelText(QStringLiteral("Network port (tcp://HOST:PORT for raw TCP, rfc2217://HOST:PORT for RFC 2217):"));
    dialog.setTextValue(QStringLiteral("tcp://"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::string name = ToStdString(dialog.textValue().trimmed());
    RunTask([this, name] { m_panel->ChooseNetworkPort(name); }, [this] {
        FillPortItems();
        UpdatePortMenu();
    });
}

void CKRMSCYVMCDlg::OnRescanPorts()
{
    if (IsBusy() || m_closeRequested)
        return;
    RunTask([this] { m_panel->RescanPorts(); }, [this] {
        FillPortItems();
        UpdatePortMenu();
        int listed = 0;
        for (QAction* item : m_portItems)
            listed += item && item->isEnabled() ? 1 : 0;
        statusBar()->showMessage(QStringLiteral("Ports rescanned: %1 can be opened").arg(listed), 5000);
    });
}

void CKRMSCYVMCDlg::UpdatePortMenu()
{
    const int current = m_panel->GetCurrentPort();
    for (std::size_t index = 0; index < m_portItems.size(); ++index) {
        if (QAction* item = m_portItems[index])
            item->setChecked(static_cast<int>(index) == current);
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
