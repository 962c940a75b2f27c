#pragma once

#include "app/COperatorPanel.h"
#include "app/CPanelObserver.h"
#include "capture/CWireWatch.h"

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QTimer;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace orvex {

class CApplication;
class CBusWatch;
class CCaptureRecorder;
class CExchangeLog;
class CExchangeTap;
class CHandlerWorker;
class CLinkStatus;
class CLinkStatusBar;
class CLogListModel;
class CLogListView;
class CLogSearchBar;
class CUnitPicture;
class CUnitView;

// The main window: every control of the operator panel, the Port,
// Options and Help menus and the log list. It only moves values between
// its controls and the operator panel (pull before a handler, push after)
// and runs the panel's handlers on one worker thread, so the window keeps
// painting and the log keeps growing while a sequence runs. While a
// handler runs, every control that could start or change an operation is
// disabled, so the operations reach the device in the order chosen.
class CKRMSCYVMCDlg : public QMainWindow, public CPanelObserver {
    Q_OBJECT

public:
    // The application's engines outlive the window.
    explicit CKRMSCYVMCDlg(CApplication& application, QWidget* parent = nullptr);
    ~CKRMSCYVMCDlg() override;

    // Opening the window: the panel attached to the port found at start-up
    // (or none), the Port menu from the probe, the members pushed.
    void Open(int foundPort);

    // CPanelObserver, from the worker or the GUI thread.
    void OnMessage(const std::string& text) override;
    void OnResultLine(const std::string& text) override;
    void OnCommandButtonsEnabled(bool enabled) override;

    // All controls into the members, in the control order, stopping at the
    // first field that fails its check (its message shown, the members
    // before it updated). False when a field failed.
    bool Pull();
    // The members into the controls.
    void Push();

    COperatorPanel& Panel() { return *m_panel; }
    CLogListModel& LogModel() { return *m_model; }
    CLogListView* LogView() { return m_logView; }
    CLogSearchBar* LogTools() { return m_searchBar; }
    CLinkStatus& LinkStatus() { return *m_linkStatus; }
    CUnitPicture& UnitPicture() { return *m_unitPicture; }
    CUnitView* UnitView() { return m_unitView; }
    CLinkStatusBar* StatusFields() { return m_statusFields; }
    // The status bar and the unit view from the models now, as the
    // window's timer does four times a second.
    void RefreshStatus();

    // Stop: the running command or sequence ends at its next turn (polling
    // mode, when nothing else runs, is switched off). False when nothing
    // runs.
    bool StopRunning();
    // Whether a command, a sequence, polling mode or a watched bus runs.
    bool IsSomethingRunning() const;
    // Whether the Bus menu's monitor or relay runs.
    bool IsWatchingBus() const { return m_busWatch != nullptr; }
    // A handler (or polling on/off, a port change, the timing settings)
    // runs on the worker.
    bool IsBusy() const;
    bool IsCloseRequested() const { return m_closeRequested; }
    // Closes as the close box does, without the question a running
    // sequence or bills in the dispenser bring (a termination signal).
    void CloseWithoutAsking();
    // Where "Save to file" and the Capture menu ask for a file name; tests
    // answer for the operator. An empty name cancels.
    void SetSaveFileNameProvider(std::function<QString()> provider) { m_askFileName = std::move(provider); }
    // Saves the log after asking for a name; false when cancelled or failed
    // (the failure shown with the path and the reason).
    bool SaveLog();

    static constexpr const char* kCaption = "ORVEX Simulator";

signals:
    // A task on the worker ended and its results are in the controls.
    void TaskDone();
    // Closing has finished: the engine and the worker are done.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct ButtonEntry {
        CommandId command;
        QPushButton* button;
        bool pollingDisabled;
    };

    void BuildControls();
    void BuildMenus();
    QWidget* BuildLeftColumn();
    QWidget* BuildMiddleColumn();
    QWidget* BuildThirdColumn();
    QWidget* BuildLogColumn();

    QPushButton* MakeButton(CommandId command);
    QLineEdit* MakeEdit(int id, const char* name, int maxLength = 0);
    QCheckBox* MakeCheck(int id, const char* caption);
    QComboBox* MakeCombo(int id, const char* name, const QStringList& items);
    QLineEdit* Edit(int id) const;
    QCheckBox* Check(int id) const;
    QComboBox* Combo(int id) const;

    // Starts `task` on the worker with the controls disabled; `after` runs
    // on the GUI thread once it is done, before the controls come back.
    void RunTask(std::function<void()> task, std::function<void()> after = {});
    // A command button: pull, then the panel runs it on the worker.
    void RunCommand(CommandId command);
    // A command button: its fields checked where it moves bills, then the
    // command, with the result's time shown afterwards.
    void RunButton(CommandId command);
    // False (the field marked, the message naming it) when a field of a
    // guarded command does not hold a value it can send.
    bool CheckGuardedFields(int id);
    void ShowResultTime(const QString& caption, const std::string& resultBefore);
    void OnEscape();
    // Whether closing now should ask first; the question itself.
    bool NeedsCloseQuestion() const;
    bool AskBeforeClose();
    void UpdateLinkSettings();
    void OnRecordCapture();
    void OnStopRecording();
    void OnOpenCapture();
    // The Bus menu: the dialog, then the monitor or relay on the worker
    // until Stop, Escape, closing or a lost port.
    void OnWatchBus(WireWatchKind kind);
    void FinishWatch(WireWatchKind kind, bool opened, const std::string& outcome);
    // The Port menu's slot items from the port table and its probe: COM1..
    // COM4 and the network ports entered, each with its adapter's name.
    void FillPortItems();
    void OnNetworkPort();
    void OnRescanPorts();
    void OnTaskFinished();
    void ApplyEnabledState();
    void UpdatePortMenu();
    void OnPollingModeClicked();
    void OnOptionBox(void (COperatorPanel::*box)());
    void OnPortItem(int index);
    void OnSpeedItem(int baud);
    void OnCommunicationSettings();
    void OnAbout();
    void OnClear();
    void OnSaveToFile();
    void OnLogSelection(int row);
    void RequestClose();
    void ContinueClose();

    CApplication& m_application;
    CLogListModel* m_model;
    std::unique_ptr<CExchangeLog> m_log;
    std::unique_ptr<COperatorPanel> m_panel;

    std::map<int, QWidget*> m_controls;
    std::vector<ButtonEntry> m_buttons;
    std::vector<QLineEdit*> m_edits;
    std::vector<QComboBox*> m_combos;
    std::vector<QCheckBox*> m_checks;
    QRadioButton* m_notAssigned { nullptr };
    QRadioButton* m_escrow { nullptr };
    QRadioButton* m_assigned { nullptr };
    CLogListView* m_logView { nullptr };
    QLineEdit* m_statusBox { nullptr };
    QPushButton* m_clear { nullptr };
    QPushButton* m_save { nullptr };
    QPushButton* m_stop { nullptr };
    QLineEdit* m_resultTime { nullptr };
    CLogSearchBar* m_searchBar { nullptr };
    CUnitView* m_unitView { nullptr };
    CLinkStatusBar* m_statusFields { nullptr };
    QTimer* m_statusTimer { nullptr };

    // Fed by the tap on the threads that make exchanges.
    std::unique_ptr<CExchangeTap> m_tap;
    std::unique_ptr<CLinkStatus> m_linkStatus;
    std::unique_ptr<CUnitPicture> m_unitPicture;

    QMenu* m_portMenu { nullptr };
    QMenu* m_optionsMenu { nullptr };
    QMenu* m_captureMenu { nullptr };
    QAction* m_recordCapture { nullptr };
    QAction* m_stopRecording { nullptr };
    QAction* m_openCapture { nullptr };
    std::unique_ptr<CCaptureRecorder> m_recorder;
    QMenu* m_busMenu { nullptr };
    // Set while the Bus menu's monitor or relay runs on the worker.
    std::unique_ptr<CBusWatch> m_busWatch;
    // The window's own port was let go for the watch: opened again after.
    bool m_reopenAfterWatch { false };
    std::vector<QAction*> m_portItems; // by slot: COM1..COM4 and network ports; null where not listed
    QAction* m_portSlotsEnd { nullptr }; // the separator after the slot items
    QAction* m_networkPort { nullptr };
    QAction* m_rescanPorts { nullptr };
    QAction* m_speed9600 { nullptr };
    QAction* m_speed19200 { nullptr };

    // GUI thread only.
    bool m_pollingButtonsDisabled { false };
    bool m_closeRequested { false };
    bool m_closeDone { false };
    std::function<void()> m_afterTask;
    // What runs on the worker, as the operator knows it ("Dispensing
    // sequence"); empty for a task of the menus.
    QString m_running;
    bool m_stopRequested { false };
    // Where the keyboard focus was when the task started: it goes back
    // there, so that keys typed next go where the operator left them.
    QPointer<QWidget> m_focusBefore;
    // The handler's outcome, written on the worker before it ends.
    std::atomic<int> m_lastOutcome { 0 };
    // The device's stop flag while a handler runs outside polling mode (the
    // engine lends it its own while it runs), so that closing ends the
    // waits of a sequence instead of sitting them out.
    std::atomic<std::uint8_t> m_handlerStop { 0 };
    std::function<QString()> m_askFileName;

    // Last: destroyed first, after its task has ended.
    std::unique_ptr<CHandlerWorker> m_worker;
};

} // namespace orvex
