#pragma once

#include "app/CommandId.h"
#include "app/PanelMembers.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class CExchangeLog;
class CKRMSInterface;
class CKRMSProtocol;
class CLogSink;
class CPanelObserver;
class CVMC;
struct CommandRow;

// The main window without its toolkit: its members with their initial
// values, one handler per command button, the option boxes, polling mode,
// the Port menu and the timing settings. The window moves values between
// its controls and the members (SetMembers before a handler, GetMembers
// after) and may call the handlers from a worker thread, one at a time,
// while its controls are disabled; each handler runs to completion.
class COperatorPanel {
public:
    // What a handler did.
    enum class Outcome {
        Succeeded,   // sent (or ran) and succeeded
        Failed,      // sent (or ran) and failed; the result line says why
        NothingSent, // refused before sending (a message may say why)
    };

    static constexpr int kNoPort = 17;
    // 7 + n must fit the one-byte length of a short frame.
    static constexpr int kMaxDiagnosticBytes = 255 - 7;

    // What a row of the command registry calls.
    using RowHandler = Outcome (COperatorPanel::*)(const CommandRow& row);

    // The engines are not owned. `log` is the protocol engine's observer
    // (the panel makes it so in Attach); `sink` is where "Get level" adds
    // its own lines. Either may be null.
    COperatorPanel(CKRMSInterface& device, CVMC& engine, CExchangeLog* log, CLogSink* sink);
    ~COperatorPanel();
    COperatorPanel(const COperatorPanel&) = delete;
    COperatorPanel& operator=(const COperatorPanel&) = delete;

    void SetObserver(CPanelObserver* observer);

    // Opening the window: the device address from the engine, the exchange
    // log as the protocol engine's observer, and the port found at start-up
    // made current (opened with the current speed) when it is COM1..COM4.
    void Attach(int foundPort);

    // ---- Members (pull and push) ---------------------------------------------
    PanelMembers GetMembers() const;
    void SetMembers(const PanelMembers& members);
    std::string GetResultLine() const;

    // ---- Command buttons -----------------------------------------------------
    // The button of `id`, as its row in the command registry says: the
    // row's handler with the row's texts.
    Outcome Run(CommandId id);

    // ---- Polling mode ----------------------------------------------------------
    // "Polling mode" clicked: starts or stops by the member's value.
    void PollingModeBox();
    // Checking the box: fields into the engine, poll interval plus 100 ms,
    // thread started, command buttons disabled, sequence flag set, last
    // exchange text emptied. False when the thread could not be started.
    bool StartPolling();
    // Unchecking it: stop byte set, waits for the thread to end, buttons
    // enabled, sequence flag cleared.
    void StopPolling();
    bool IsPolling() const;

    // The captions of the buttons that polling mode disables (from the
    // command registry).
    static const std::vector<std::string>& PollingDisabledButtons();

    // ---- Option boxes (after the window pulled the members) -------------------
    void RtsBox();                // RTS raised or dropped to match the box
    void CommunicationDataBox();  // the raw-frames flag
    void DisplayExchangeBox();    // the decode flag
    void ResetOnErrorBox();       // the engine's bus reset on lost contact
    void ReturnBox();             // the engine's stack bills, inverted

    // ---- Port menu -----------------------------------------------------------
    enum class PortItemState { Enabled, Removed, Greyed };
    // From the probe of COM1..COM4: 0 enabled, "no such file" removed,
    // anything else greyed.
    PortItemState GetPortItemState(int index) const;
    // COM1..COM4 (index 0..3): made current and opened with the checked
    // speed and the response time-out. False (with the message
    // "Can't to initialize selected port!\nSelect another, pease.") when
    // the open fails; the item stays the chosen one.
    bool ChoosePort(int index);
    // A network port name (tcp://HOST:PORT, rfc2217://HOST:PORT) the
    // operator entered: refused with a message naming the field and the
    // reason when malformed; else put into a slot (the one holding it, or
    // the first free from COM5 up), made current and opened as a COM item
    // is. False when refused or when the open fails (the message names the
    // port and the reason).
    bool ChooseNetworkPort(const std::string& name);
    // Every slot probed again (adapters plugged in or pulled since); the
    // open port is left as it is. False with a message when the port stayed
    // busy.
    bool RescanPorts();
    // 9600 or 19200: checked, made the serial mode, current port reopened.
    bool ChooseSpeed(int baud);
    int GetCurrentPort() const;
    int GetSpeed() const;

    // ---- Timing settings -----------------------------------------------------
    TimingSettings GetTiming() const;
    // OK of the dialog: stored (negative values as 0), the poll interval,
    // the intercommand interval, the current port reopened with the new
    // response time-out (its result is not reported).
    void ApplyTiming(const TimingSettings& timing);

    static constexpr std::string_view kPortMessage = "Can't to initialize selected port!\nSelect another, pease.";
    static constexpr std::string_view kCassetteMessage = "The Cassette number should be 1..3";
    static constexpr std::string_view kWordMessage = "Wrong WORD parameter";
    // Shown after a failure prefix for a command that failed without a
    // result code (a reply too short, or one that does not fit).
    static constexpr std::string_view kUnexpectedReply = "Unexpected reply";

private:
    // The registry's rows name the handlers below.
    friend struct CCommandTable;

    // A plain row: its text before, its command, its result line.
    Outcome SendExchange(const CommandRow& row);
    Outcome Poll(const CommandRow& row);
    Outcome GetBillTable(const CommandRow& row);
    Outcome BillType(const CommandRow& row);
    Outcome SetSecurity(const CommandRow& row);
    Outcome SetOptions(const CommandRow& row);
    Outcome InitializeBC(const CommandRow& row);
    Outcome GetTime(const CommandRow& row);
    Outcome SyncTime(const CommandRow& row);
    Outcome SetCassetteType(const CommandRow& row);
    Outcome UnloadCommand(const CommandRow& row);
    Outcome UnloadingSequence(const CommandRow& row);
    Outcome DispensingSequence(const CommandRow& row);
    Outcome ExtendedCassetteStatus(const CommandRow& row);
    Outcome SetLevel(const CommandRow& row);
    Outcome GetLevel(const CommandRow& row);
    Outcome DgnFunctions(const CommandRow& row);
    Outcome Diagnostic(const CommandRow& row);

    // The row's text before sending, when it has one.
    void ShowBefore(const CommandRow& row);
    // Result line after a command: the row's success text, or its prefix
    // followed by the text of the protocol's last result code.
    Outcome Report(bool ok, const CommandRow& row);
    // Result line after a device operation: success text, or prefix + I.
    Outcome ReportCode(int code, const CommandRow& row);
    void SetResultLine(std::string text, bool show);
    void Message(std::string_view text);
    int Address() const;
    enum class PortFailureText { Plain, WithReason };
    bool OpenCurrentPort(PortFailureText failureText = PortFailureText::Plain);
    void SetSequenceFlag(std::uint8_t value);

    CKRMSInterface& m_device;
    CKRMSProtocol& m_protocol;
    CVMC& m_engine;
    CExchangeLog* m_log;
    CLogSink* m_sink;

    // Guards the members, the timing values, the current port and speed,
    // and the observer: the window's thread and a handler's worker both
    // reach them.
    mutable std::mutex m_mutex;
    PanelMembers m_members;
    TimingSettings m_timing;
    int m_currentPort { kNoPort };
    int m_speed { 9600 };
    CPanelObserver* m_observer { nullptr };
};

} // namespace orvex
