#include "app/window/CKRMSCYVMCDlg.h"

#include "app/CApplication.h"
#include "app/CBusWatch.h"
#include "app/CCaptureRecorder.h"
#include "app/CExchangeTap.h"
#include "app/CLinkStatus.h"
#include "app/CUnitPicture.h"
#include "app/CommandRegistry.h"
#include "app/window/CHandlerWorker.h"
#include "app/window/CLogListModel.h"
#include "app/window/FieldCheck.h"
#include "app/window/MoneyFieldGuard.h"
#include "app/window/GuiCall.h"
#include "app/window/ProgramIcon.h"
#include "decode/CExchangeLog.h"
#include "vmc/CVMC.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

namespace orvex {

namespace {

using Panel = COperatorPanel;

} // namespace

CKRMSCYVMCDlg::CKRMSCYVMCDlg(CApplication& application, QWidget* parent)
    : QMainWindow(parent)
    , m_application(application)
    , m_worker(std::make_unique<CHandlerWorker>())
{
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(ProgramIcon());
    setAttribute(Qt::WA_DeleteOnClose, false);

    m_model = new CLogListModel(this);
    m_log = std::make_unique<CExchangeLog>(&application.Protocol(), *m_model);
    m_panel = std::make_unique<COperatorPanel>(application.Device(), application.Engine(), m_log.get(), m_model);
    m_panel->SetObserver(this);
    m_tap = std::make_unique<CExchangeTap>(application.Protocol(), *m_log);
    m_linkStatus = std::make_unique<CLinkStatus>();
    m_unitPicture = std::make_unique<CUnitPicture>();
    m_tap->AddWatcher(m_linkStatus.get());
    m_tap->AddWatcher(m_unitPicture.get());

    connect(m_worker.get(), &CHandlerWorker::TaskFinished, this, &CKRMSCYVMCDlg::OnTaskFinished);

    BuildControls();
    BuildMenus();

    // Escape stops what runs and does nothing else: ending the program is
    // the close box's. Enter does nothing (no button of a main window is a
    // default button).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CKRMSCYVMCDlg::OnEscape);

    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &CKRMSCYVMCDlg::RefreshStatus);
    m_statusTimer->start(250);
}

CKRMSCYVMCDlg::~CKRMSCYVMCDlg()
{
    m_application.Engine().RequestStop();
    if (m_busWatch)
        m_busWatch->Stop();
    // The worker first: its task may still use the panel.
    m_worker.reset();
    m_application.Engine().Stop();
    m_recorder.reset();
    if (m_application.Protocol().GetObserver() == m_tap.get())
        m_application.Protocol().SetObserver(nullptr);
    m_panel->SetObserver(nullptr);
    m_panel.reset();
    m_log.reset();
}

void CKRMSCYVMCDlg::Open(int foundPort)
{
    m_panel->Attach(foundPort);
    // The status bar and the unit picture hear every exchange the log does.
    m_application.Protocol().SetObserver(m_tap.get());
    m_assigned->setChecked(true);
    PanelMembers members = m_panel->GetMembers();
    members.cassetteStatus = CassetteStatusChoice::Assigned;
    members.pollingMode = 0;
    m_panel->SetMembers(members);
    UpdatePortMenu();
    Push();
    ApplyEnabledState();
    showNormal();
    raise();
    activateWindow();
}

// ---- Pull and push -------------------------------------------------------------

bool CKRMSCYVMCDlg::Pull()
{
    PanelMembers members = m_panel->GetMembers();

    auto text = [&](int id, std::string& member) {
        member = ToStdString(Edit(id)->text());
        return true;
    };
    auto check = [&](int id, int& member) {
        member = Check(id)->isChecked() ? 1 : 0;
        return true;
    };
    auto index = [&](int id, int& member) {
        member = Combo(id)->currentIndex();
        return true;
    };
    auto fail = [&](int id, const std::string& message) {
        ShowMessageBox(this, ToQString(message));
        QLineEdit* edit = Edit(id);
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    auto number = [&](int id, FieldKind kind, auto& member, int minimum = INT_MIN, int maximum = INT_MAX) {
        auto value = ParseField(ToStdString(Edit(id)->text()), kind);
        if (!value)
            return fail(id, FieldMessage(kind));
        if (minimum != INT_MIN && (*value < minimum || *value > maximum))
            return fail(id, RangeMessage(minimum, maximum));
        member = static_cast<std::remove_reference_t<decltype(member)>>(*value);
        return true;
    };

    // The control order of the dialog's data exchange; the first failure
    // ends it, and the members pulled so far stay pulled.
    bool pulled = text(1004, members.resultLine) && text(1006, members.enabledBills)
        && text(1007, members.escrowMask) && text(1016, members.security) && check(1022, members.pollingMode)
        && number(1027, FieldKind::Unsigned, members.dispenseType1)
        && number(1052, FieldKind::Byte, members.cassetteBillType)
        && number(1029, FieldKind::Unsigned, members.dispenseType2)
        && number(1030, FieldKind::Byte, members.dispenseType3) && check(1070, members.rts)
        && number(1028, FieldKind::Integer, members.dispenseNumber1)
        && number(1031, FieldKind::Integer, members.dispenseNumber2)
        && number(1032, FieldKind::Integer, members.dispenseNumber3) && index(1074, members.deviceAddress)
        && check(1121, members.communicationData) && number(1075, FieldKind::Byte, members.barcodeLength, 6, 18)
        && index(1132, members.unloadCassette) && number(1128, FieldKind::Integer, members.unloadNumber)
        && index(1133, members.settingsCassette) && check(1134, members.displayExchange)
        && text(1140, members.options) && index(1135, members.extendedStatusCassette)
        && check(1146, members.reset) && check(1155, members.resetOnError) && check(1156, members.returnBills)
        && number(1173, FieldKind::Byte, members.diagnosticCassette, 1, 16)
        && (members.diagnosticCode = ToStdString(Combo(1174)->currentText()), true)
        && text(1176, members.diagnosticData) && number(1177, FieldKind::Byte, members.diagnosticByte)
        && index(1136, members.feedingCassette) && check(1178, members.feedingDisable)
        && number(1129, FieldKind::Integer, members.feedingLevel);

    // The radio buttons are read by the handler itself, not by the exchange.
    members.cassetteStatus = m_escrow->isChecked() ? CassetteStatusChoice::Escrow
        : m_notAssigned->isChecked()                ? CassetteStatusChoice::NotAssigned
                                                     : CassetteStatusChoice::Assigned;
    m_panel->SetMembers(members);
    return pulled;
}

void CKRMSCYVMCDlg::Push()
{
    const PanelMembers members = m_panel->GetMembers();
    auto text = [&](int id, const std::string& value) { Edit(id)->setText(ToQString(value)); };
    auto number = [&](int id, auto value) { Edit(id)->setText(QString::number(value)); };
    auto check = [&](int id, int value) { Check(id)->setChecked(value != 0); };
    auto index = [&](int id, int value) {
        QComboBox* combo = Combo(id);
        combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
    };

    text(1004, members.resultLine);
    text(1006, members.enabledBills);
    text(1007, members.escrowMask);
    text(1016, members.security);
    check(1022, members.pollingMode);
    number(1027, members.dispenseType1);
    number(1052, members.cassetteBillType);
    number(1029, members.dispenseType2);
    number(1030, members.dispenseType3);
    check(1070, members.rts);
    number(1028, members.dispenseNumber1);
    number(1031, members.dispenseNumber2);
    number(1032, members.dispenseNumber3);
    index(1074, members.deviceAddress);
    check(1121, members.communicationData);
    number(1075, members.barcodeLength);
    index(1132, members.unloadCassette);
    number(1128, members.unloadNumber);
    index(1133, members.settingsCassette);
    check(1134, members.displayExchange);
    text(1140, members.options);
    index(1135, members.extendedStatusCassette);
    check(1146, members.reset);
    check(1155, members.resetOnError);
    check(1156, members.returnBills);
    number(1173, members.diagnosticCassette);
    QComboBox* code = Combo(1174);
    QStringList list;
    for (const std::string& item : members.diagnosticCodeList)
        list << ToQString(item);
    QStringList shown;
    for (int i = 0; i < code->count(); ++i)
        shown << code->itemText(i);
    if (shown != list) {
        code->clear();
        code->addItems(list);
    }
    code->setEditText(ToQString(members.diagnosticCode));
    text(1176, members.diagnosticData);
    number(1177, members.diagnosticByte);
    index(1136, members.feedingCassette);
    check(1178, members.feedingDisable);
    number(1129, members.feedingLevel);
    switch (members.cassetteStatus) {
    case CassetteStatusChoice::Assigned:
        m_assigned->setChecked(true);
        break;
    case CassetteStatusChoice::NotAssigned:
        m_notAssigned->setChecked(true);
        break;
    case CassetteStatusChoice::Escrow:
        m_escrow->setChecked(true);
        break;
    }
}

// ---- Running handlers ------------------------------------------------------------

bool CKRMSCYVMCDlg::IsBusy() const
{
    return m_worker->IsBusy();
}

void CKRMSCYVMCDlg::RunTask(std::function<void()> task, std::function<void()> after)
{
    QWidget* focused = QApplication::focusWidget();
    if (m_closeRequested || !m_worker->Run(std::move(task)))
        return;
    m_focusBefore = focused;
    m_afterTask = std::move(after);
    m_stopRequested = false;
    ApplyEnabledState();
}

bool CKRMSCYVMCDlg::CheckGuardedFields(int id)
{
    for (const GuardedField& field : GuardedFields(id)) {
        QLineEdit* edit = Edit(field.id);
        auto reason = RefusalReason(field, ToStdString(edit->text()));
        if (!reason) {
            edit->setStyleSheet(QString());
            continue;
        }
        // Marked until it holds a value again, and nothing is sent.
        edit->setStyleSheet(QStringLiteral("background: #ffd0d0;"));
        connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setStyleSheet(QString()); }, Qt::SingleShotConnection);
        auto* button = qobject_cast<QPushButton*>(m_controls.at(id));
        QString caption = button ? button->text().trimmed() : QString();
        ShowMessageBox(this,
            QStringLiteral("%1: nothing was sent. The %2 (\"%3\") %4.")
                .arg(caption, QString::fromLatin1(field.name), edit->text(), ToQString(*reason)),
            QStringLiteral("Enter a number from %1 to %2 and try again.").arg(field.minimum).arg(field.maximum));
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    return true;
}

void CKRMSCYVMCDlg::RunButton(CommandId command)
{
    if (IsBusy() || m_closeRequested)
        return;
    const CommandRow& row = Command(command);
    if (!CheckGuardedFields(row.control))
        return;
    const QString caption = QString::fromLatin1(row.caption.data(), static_cast<qsizetype>(row.caption.size())).trimmed();
    const std::string resultBefore = ToStdString(Edit(1004)->text());
    RunCommand(command);
    if (!IsBusy())
        return;
    m_running = caption;
    std::function<void()> after = std::move(m_afterTask);
    m_afterTask = [this, caption, resultBefore, after] {
        if (after)
            after();
        ShowResultTime(caption, resultBefore);
    };
}

void CKRMSCYVMCDlg::RunCommand(CommandId command)
{
    if (IsBusy() || m_closeRequested)
        return;
    Pull();
    CVMCInterface& device = m_application.Device();
    const bool lendStop = !m_application.Engine().IsRunning();
    if (lendStop) {
        m_handlerStop.store(0);
        device.SetStopFlag(&m_handlerStop);
    }
    RunTask([this, command, lendStop, &device] {
        m_lastOutcome.store(static_cast<int>(m_panel->Run(command)));
        if (lendStop)
            device.SetStopFlag(nullptr);
    });
}

void CKRMSCYVMCDlg::OnTaskFinished()
{
    std::function<void()> after = std::move(m_afterTask);
    m_afterTask = nullptr;
    Push();
    if (after)
        after();
    if (m_stopRequested && !m_closeRequested) {
        statusBar()->showMessage(QStringLiteral("Stopped: %1").arg(m_running.isEmpty() ? QStringLiteral("the running task") : m_running), 10000);
        m_log->OutputLine("== Stopped by the operator: " + ToStdString(m_running.isEmpty() ? QStringLiteral("the running task") : m_running) + " ==");
    }
    m_running.clear();
    m_stopRequested = false;
    ApplyEnabledState();
    // Back where the operator left it: the button just clicked, or the
    // field being typed in, not the first field that took focus while the
    // controls were disabled.
    if (m_focusBefore && m_focusBefore->isEnabled() && m_focusBefore->isVisible())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    m_focusBefore = nullptr;
    RefreshStatus();
    emit TaskDone();
    if (m_closeRequested)
        ContinueClose();
}

void CKRMSCYVMCDlg::ApplyEnabledState()
{
    const bool idle = !IsBusy() && !m_closeRequested;
    for (const ButtonEntry& entry : m_buttons)
        entry.button->setEnabled(idle && !(m_pollingButtonsDisabled && entry.pollingDisabled));
    for (QCheckBox* check : m_checks)
        check->setEnabled(idle);
    for (QComboBox* combo : m_combos)
        combo->setEnabled(idle);
    // Edits stay readable and keep their look; what is typed while a
    // handler runs would be overwritten by its push.
    for (QLineEdit* edit : m_edits) {
        if (edit->objectName() != QLatin1String("1004"))
            edit->setReadOnly(!idle);
    }
    for (QRadioButton* radio : { m_notAssigned, m_escrow, m_assigned })
        radio->setEnabled(idle);
    // Polling mode leaves them usable: reopening the port waits for the
    // engine's exchange to end.
    m_portMenu->menuAction()->setEnabled(idle);
    m_optionsMenu->menuAction()->setEnabled(idle);
    // A recording starts and stops between two exchanges, so polling mode
    // may run meanwhile, and a watched bus sends nothing; a capture read
    // back would mix its lines with the polling's.
    const bool quiet = idle && !m_application.Engine().IsRunning();
    if (m_captureMenu)
        m_captureMenu->menuAction()->setEnabled(idle || (IsWatchingBus() && !m_closeRequested));
    if (m_openCapture)
        m_openCapture->setEnabled(quiet);
    if (m_busMenu)
        m_busMenu->menuAction()->setEnabled(quiet);
    if (m_stop)
        m_stop->setEnabled(!m_closeRequested && IsSomethingRunning() && !m_stopRequested);
}

void CKRMSCYVMCDlg::OnMessage(const std::string& text)
{
    QString shown = ToQString(text);
    CallOnGuiThread(this, [this, &shown] { ShowMessageBox(this, shown); });
}

void CKRMSCYVMCDlg::OnResultLine(const std::string& text)
{
    QString shown = ToQString(text);
    QMetaObject::invokeMethod(this, [this, shown] { Edit(1004)->setText(shown); }, Qt::QueuedConnection);
}

void CKRMSCYVMCDlg::OnCommandButtonsEnabled(bool enabled)
{
    QMetaObject::invokeMethod(this, [this, enabled] {
        m_pollingButtonsDisabled = !enabled;
        ApplyEnabledState();
    }, Qt::QueuedConnection);
}

void CKRMSCYVMCDlg::OnPollingModeClicked()
{
    if (IsBusy() || m_closeRequested) {
        Check(1022)->setChecked(!Check(1022)->isChecked());
        return;
    }
    Pull();
    // Stopping waits for the engine's thread: on the worker, so the window
    // goes on painting the engine's last lines meanwhile.
    RunTask([this] { m_panel->PollingModeBox(); });
}

void CKRMSCYVMCDlg::OnOptionBox(void (COperatorPanel::*box)())
{
    if (IsBusy() || m_closeRequested)
        return;
    Pull();
    RunTask([this, box] { (m_panel.get()->*box)(); });
}

} // namespace orvex
