#pragma once

#include "link/CCOMPort.h"
#include "link/CCommand.h"
#include "link/GuardedValue.h"
#include "protocol/BillTypeEntry.h"
#include "link/LineMode.h"
#include "protocol/CExchangeLock.h"
#include "protocol/COutputInterface.h"
#include "protocol/CassetteRecord.h"
#include "protocol/ResultCodes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orvex {

class CReplyView;
// The bus master's protocol engine: one command/reply exchange at a time
// (address and check code filled in, queues purged, reply read and judged,
// ACK or NAK sent back, record kept, intercommand pause), and every ORVEX
// command as one operation.
//
// Calling order inside every command operation: compose the frame,
// Exchange, CommandDone(name), store the status as the last result code,
// then the command's own checks. Operations return true on success and
// leave the reason in the last result code.
class CReplyView;

class CKRMSProtocol {
public:
    CKRMSProtocol();
    explicit CKRMSProtocol(CPortTable table);
    explicit CKRMSProtocol(std::unique_ptr<CCOMPort> port);
    virtual ~CKRMSProtocol();
    CKRMSProtocol(const CKRMSProtocol&) = delete;
    CKRMSProtocol& operator=(const CKRMSProtocol&) = delete;

    // ---- Transactions ----------------------------------------------------

    // Opens the slot with the serial mode text. Waits for a running
    // exchange to end (1000 ms at most, then 0 without touching the port).
    int OpenPort(int portIndex, int responseTimeout);
    // The line's mode text ("9600,n,8,1") that the next OpenPort uses; the
    // application sets it (device search, Port menu, orvexctl --baud).
    void SetSerialMode(std::string mode) { m_serialMode.Set(std::move(mode)); }
    std::string GetSerialMode() const { return m_serialMode.Get(); }
    CCOMPort* GetPort() { return m_port.get(); }
    // The port table changed between exchanges (the exchange lock taken as
    // OpenPort takes it): a port name the operator entered put into a slot
    // (the slot, or -1 with `error` saying why), or every slot probed again.
    int AddPortPath(const std::string& path, std::string& error);
    bool RescanPorts(std::string& error);
    // Closes the open port between exchanges (for a monitor that listens
    // on the same line); false when an exchange did not end in time.
    bool ClosePort();
    // Runs `change` holding the exchange lock (taken here unless the caller
    // holds it, 1000 ms at most); false, without running it, when an
    // exchange did not end in time. For changes to the line's watchers
    // while polling mode runs.
    bool BetweenExchanges(const std::function<void()>& change);
    int GetPortError(int portIndex) const { return m_port->GetPortError(portIndex); }

    // One complete exchange. Takes the lock (1000 ms at most) and leaves it
    // taken for CommandDone.
    CCommand Exchange(const CCommand& command, int address);
    // Tells the observer, then releases the lock if this exchange took it.
    void CommandDone(const std::string& name);
    // One send/receive step, without record or lock.
    CCommand Transact(const CCommand& command, int address);

    static std::string ErrorText(int code);
    static std::uint16_t UpdateCheckCode(std::uint8_t byte, std::uint16_t value);
    static std::uint16_t ComputeCheckCode(const std::uint8_t* frame);
    // RTS raised for 100 ms.
    void LineResetPulse();

    void SetObserver(COutputInterface* observer) { m_observer.store(observer); }
    COutputInterface* GetObserver() const { return m_observer.load(); }

    // The record of the last exchange. Only the thread that holds the lock
    // (inside its observer call) sees it; any other thread sees an empty
    // record, so a reader never races the exchange that is writing it.
    const std::vector<std::string>& GetExchangeRecord() const;
    // The reply and command frames of the exchange the caller holds the
    // lock for (empty objects otherwise).
    const CCommand& GetLastSent() const;

    int GetLastResultCode() const { return m_lastResultCode.load(); }
    // Why the line failed the last exchange when it went away or failed
    // (device disconnected, connection lost, an I/O error); LineFault::None
    // after a plain time-out or a good exchange.
    LineResult GetLastLineFault() const;
    // " (device disconnected)" and the like for a result line; empty when
    // the line did not fail.
    std::string LineFaultSuffix() const;
    // After the line went away: waits (sleeping, until `stopRequested`
    // says so) for the same adapter or server to come back and reopens it
    // with the same settings. Logs the return. False when stopped first.
    bool ReconnectPort(const std::function<bool()>& stopRequested);
    void SetLastResultCode(int code) { m_lastResultCode.store(code); }
    int GetResponseTimeout() const { return m_responseTimeout.load(); }
    void SetIntercommandInterval(int milliseconds) { m_intercommandInterval.store(milliseconds < 0 ? 0 : milliseconds); }
    int GetIntercommandInterval() const { return m_intercommandInterval.load(); }
    // Lent by the device interface: while set and non-zero the intercommand
    // pause ends at once, so stopping never sits out a long pause.
    void SetStopFlag(std::atomic<std::uint8_t>* stop) { m_stopFlag.store(stop); }

    // ---- Command set -----------------------------------------------------
    // `address` is the bus address; commands of the Cyclor unit go to 1 and
    // those of the card reader to 4 by themselves.

    bool Reset(int address);                                   // "RESET"
    bool StatusRequest(int address);                           // "STATUS REQUEST"
    bool SetSecurity(std::uint32_t levels, int address);       // "SET SECURITY"
    bool Poll(int address);                                    // "POLL"
    bool BillType(std::uint32_t enableMask, std::uint32_t escrowMask, int address); // "BILL TYPE"
    bool Pack(int address);                                    // "PACK"
    bool Return(int address);                                  // "RETURN"
    bool Identification(int address);                          // "IDENTIFICATION"
    bool Hold(int address);                                    // "HOLD"
    bool SetBarParameters(std::uint8_t format, std::uint8_t length, int address); // "SET BAR PARAMETERS"
    bool ExtractBarcode(std::string& text, int address);       // "EXTRACT BARCODE"
    bool GetCassetteStatus();                                  // "GET CASSETTE STATUS"
    // By bill type: counts[0..24], one pair per non-zero count.
    bool Dispense(const std::uint8_t counts[25]);              // "DISPENSE"
    // By pairs: type, count three times; a count of 0xFF is left out.
    bool DispensePairs(const std::uint8_t pairs[6]);           // "DISPENSE"
    bool Unload(int cassetteIndex, std::uint8_t count);        // "UNLOAD"
    bool ExtendedIdentification(int address);                  // "EXTENDED IDENTIFICATION"
    bool SetCassetteType(int cassetteIndex, int mode, std::uint8_t type); // "SET CASSETTE TYPE"
    bool BillTable(BillTypeEntry table[kBillTypes], int address); // "BILL TABLE"
    // output[0] = L - 5, then reply bytes 3 .. L-3; at most `capacity` bytes.
    bool GetCassetteFeedingLevel(std::uint8_t* output, int capacity); // "GET CASSETTE FEEDING LEVEL"
    bool SetCassetteFeedingLevel(int cassetteIndex, std::uint8_t level, bool useDefault); // "SET CASSETTE FEEDING LEVEL"
    bool Crc32(std::uint32_t& value, int address);             // "CRC32"
    bool ModuleIdentification(int address);                    // "MODULE IDENTIFICATION"
    bool ValidationSoftwareIdentification(int address);        // "VALIDATION SOFTWARE IDENTIFICATION"
    bool RequestStatistics(std::uint8_t* buffer, int capacity, int address); // "REQUEST STATISTICS"
    bool GetCyTime(std::time_t& time);                         // "GET CY TIME"
    bool SetCyTime(std::time_t time);                          // "SET CY TIME"
    bool PowerRecovery(std::uint8_t& state, std::uint8_t* buffer, int capacity, int& count); // "POWER RECOVERY"
    bool EmptyDispenser();                                     // "EMPTY DISPENSER"
    bool SetOptions(std::uint32_t options, int address);       // "SET OPTIONS"
    bool GetOptions(std::uint32_t& options, int address);      // "GET OPTIONS"
    bool ExtendedCassetteStatus(std::uint8_t cassetteNumber, std::uint8_t* buffer, int capacity, int& count); // "EXTENDED CASSETTE STATUS REQUEST"
    bool DiagnosticStatusRequest(std::uint8_t& status, std::uint8_t* buffer, int capacity, int& count, int address);
    bool DiagnosticIdentificationRequest(int address);
    bool DiagnosticSupportedFunctions(std::uint8_t* buffer, int capacity, int& count, int address);
    bool DiagnosticSensorState(int address);
    bool DiagnosticTestValidator(int address);
    bool DiagnosticTestCassette(std::uint8_t cassetteNumber, int address);
    bool DiagnosticTestDispenser(int address);
    bool DiagnosticTestSwitch(int address);
    bool DiagnosticTestChassis(int address);
    bool DiagnosticTestCommunication(int address);
    bool Diagnostic(std::uint8_t subCommand, const std::uint8_t* data, int count, int address); // "DIAGNOSTIC"

    // Card reader (address 4).
    bool CardReaderSetup(std::uint8_t scale, const std::string& text, std::uint8_t& first, std::uint8_t& second); // no log name
    bool GetFunds(CassetteRecord funds[kFundsEntries], std::uint8_t& firstByte); // "GET FUNDS"
    // funds may be null (amount conversion without a table).
    bool VendRequest(int entryIndex, double price, double& runningTotal, const CassetteRecord* funds, bool secondForm); // "VEND/REQUEST"
    bool VendCancel(std::uint8_t& replyByte);                  // "VEND/CANCEL"
    bool EndSession();                                         // "END SESSION"
    bool StartSession();                                       // "START SESSION"
    bool EnableCR(std::uint8_t mode);                          // "ENABLE CR"
    bool CRIdentification();                                   // "CR IDENTIFICATION"
    bool PollCR();                                             // "POLL CR"

    // Amount conversion of VEND/REQUEST; funds may be null.
    static std::uint32_t ConvertAmount(double value, const CassetteRecord* funds, int entryIndex);
    // The bill table a BILL TABLE reply holds (all unused when it is the
    // invalid-command reply); also how a watched exchange teaches the
    // decoders the table.
    static void FillBillTable(const CReplyView& reply, BillTypeEntry table[kBillTypes]);
    // The type byte of SET CASSETTE TYPE from a mode and a type.
    static std::uint8_t CassetteTypeByte(int mode, std::uint8_t type);

    // ---- Reply-derived state (copies, safe from any thread) --------------

    struct PollReply {
        std::uint8_t state { 0 };
        std::uint8_t subState { 0 };
        std::uint8_t third { 0 };
    };

    std::array<std::uint32_t, 3> GetStatusWords() const;
    std::string GetPartNumber() const;
    PollReply GetLastPoll() const;
    PollReply GetLastReaderPoll() const; // state and sub-state only
    std::array<CassetteRecord, kCassettes> GetCassetteTable() const;

protected:
    // For the command set: store the status and apply the ACK check.
    bool CheckAck(const CCommand& reply, int failureCode = kAckNotReceived);

private:
    void Pause();
    // Keeps the line's cause of a failed exchange, and logs a line that
    // went away once (not once per command) until an exchange succeeds.
    void NoteLineFault(const CCommand& reply);
    void AppendLines(const char* prefix, const CCommand& frame);
    bool HoldsLock() const;
    // Releases the lock once if this thread's exchange took it.
    void ReleaseLock();
    // Exchange, CommandDone with the log name (or only the lock release
    // when the command has none), status stored as the last result code.
    // The log name is the frame's own from the wire vocabulary, unless the
    // caller gives another (a plain DIAGNOSTIC, a unit command sent to the
    // card reader's address).
    CCommand Execute(const CCommand& frame, int address, std::string_view name = {});
    // Refuses an operation before anything is sent (a bad index, a null
    // buffer): false, with a last result code of 0 since the bus is fine.
    bool Refuse();
    // The invalid-command check of a data reply: false without a frame, and
    // false with -6 for the bare invalid-command reply.
    bool CheckData(const CReplyView& reply);
    // A command without parameters, answered with ACK.
    bool AckCommand(std::uint8_t code, int address);
    // A DIAGNOSTIC test sub-command, answered with ACK.
    bool DiagnosticTest(std::uint8_t subCommand, int address);
    // The part number of reply bytes 3..17, stored under the state mutex.
    void StorePartNumber(const CCommand& reply);
    // CRC32 and GET OPTIONS: a data reply carrying one 32-bit word (0 on failure).
    bool RequestWord(std::uint8_t code, int address, std::uint32_t& value);

    CGuardedValue<std::string> m_serialMode { kMode9600 };
    std::atomic<int> m_intercommandInterval { 20 };
    std::atomic<std::atomic<std::uint8_t>*> m_stopFlag { nullptr };
    std::atomic<COutputInterface*> m_observer { nullptr };
    std::vector<std::string> m_exchangeRecord;
    CCommand m_lastReply;
    CCommand m_lastSent;
    std::atomic<int> m_responseTimeout { 200 };
    std::atomic<int> m_lastResultCode { 0 };

    // Guards the reply-derived state below: commands store it after their
    // exchange, and both the window's and the engine's threads read it.
    mutable std::mutex m_stateMutex;
    std::array<std::uint32_t, 3> m_statusWords {};
    std::string m_partNumber { "N/A" };
    PollReply m_lastPoll;
    PollReply m_lastReaderPoll;
    std::array<CassetteRecord, kCassettes> m_cassetteTable {};
    LineResult m_lineFault;
    bool m_lineGoneLogged { false }; // written only by the lock's holder
    std::atomic<bool> m_rtsUnconfirmedLogged { false };

    CExchangeLock m_lock;
    std::atomic<std::thread::id> m_lockHolder {};
    std::unique_ptr<CCOMPort> m_port;
};

} // namespace orvex
