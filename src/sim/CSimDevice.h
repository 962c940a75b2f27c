#pragma once

#include "link/WireVocabulary.h"
#include "sim/SimControl.h"
#include "sim/SimFrameParser.h"
#include "sim/SimTypes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace orvex {

// What the unit is doing. The rest state reads as IDLING or DISABLED by
// the enable mask; every other phase is reported to at least one POLL and
// lasts at least its time before the next one begins.
enum class SimPhase : std::uint8_t {
    PowerUp,
    Initializing,
    Rest,
    Accepting,
    Escrow,
    Stacking,
    Stacked,
    Returning,
    Returned,
    Rejecting,
    DispenseMoving,
    DispenseWaiting,
    Dispensed,
    InvalidBillNumber,
    Unloading,
    Unloaded,
    SettingType,
    TypeSet,
};

// The acceptance counters of one statistics block.
struct SimStatistics {
    std::uint16_t inserted { 0 };
    std::array<std::uint16_t, 20> accepted {};
    std::array<std::uint16_t, 20> returnedOptic {};
    std::array<std::uint16_t, 20> returnedMagnetic {};
    std::array<std::uint16_t, 20> returnedCapacity {};
    std::uint16_t unrecognized { 0 };
    std::uint16_t returnedLength { 0 };
    std::array<std::uint8_t, 13> failures {}; // magnetic .. jams at exit sensor
};

// The virtual peripheral's state machine, ledger and replies. No I/O and
// no clock of its own: every call is given the time, so it runs the same
// under a test's clock as on a line. Not thread-safe; CSimulator locks.
class CSimDevice {
public:
    using Clock = std::chrono::steady_clock;

    CSimDevice(const SimOptions& options, Clock::time_point now);

    // Empty when the options were sound; the device is usable only then.
    const std::string& SetupError() const { return m_setupError; }

    bool PlaysAddress(std::uint8_t address) const;
    // The reply to one well-formed frame: exactly one frame for a command
    // to a device it plays, nothing for the host's ACK/NAK, a foreign
    // address, or while silent. Bytes may be noise under "garbage next".
    SimBytes HandleFrame(const SimBytes& frame, Clock::time_point now);
    // One parsed control command; the one-line answer.
    std::string Control(const SimControlCommand& command, Clock::time_point now);
    // Timers that run without the host: automatic bills, escrow time-out.
    void Advance(Clock::time_point now);
    SimSnapshot Snapshot(Clock::time_point now);
    std::string StateLine(Clock::time_point now);

    void CountSkipped(std::uint64_t frames) { m_framesSkipped += frames; }
    const std::vector<SimBill>& Bills() const { return m_bills; }
    const SimStatistics& Statistics() const { return m_statistics; }
    SimPhase Phase() const { return m_phase; }

private:
    struct PollState {
        std::uint8_t state { 0 };
        std::vector<std::uint8_t> detail; // bytes after the state
    };

    SimBytes UnitCommand(const SimBytes& frame, Clock::time_point now, bool& poll);
    SimBytes ReaderCommand(const SimBytes& frame, Clock::time_point now, bool& poll);

    // Unit commands.
    PollState CurrentPoll(Clock::time_point now) const;
    std::uint8_t PhaseCode() const;
    bool Frozen(Clock::time_point now) const;
    bool AtRest() const;
    std::vector<std::uint8_t> Ack() const { return { wire::kAck }; }
    std::vector<std::uint8_t> Invalid() const { return { wire::kInvalidCommand }; }
    std::vector<std::uint8_t> Reset(Clock::time_point now);
    std::vector<std::uint8_t> Dispense(const SimBytes& frame, Clock::time_point now);
    std::vector<std::uint8_t> Unload(const SimBytes& frame, Clock::time_point now);
    std::vector<std::uint8_t> SetCassetteType(const SimBytes& frame, Clock::time_point now);
    std::vector<std::uint8_t> Identification(bool extended) const;
    std::vector<std::uint8_t> StatisticsData() const;
    std::vector<std::uint8_t> ClockData() const;
    std::vector<std::uint8_t> SetClock(const SimBytes& frame);
    std::vector<std::uint8_t> PowerRecovery();
    std::vector<std::uint8_t> Diagnostic(const SimBytes& frame, Clock::time_point now);
    std::uint32_t RoutedMask() const;

    // State machine.
    void Enter(SimPhase phase, Clock::time_point now);
    void Settle(Clock::time_point now);
    Clock::duration Duration(SimPhase phase) const;
    Clock::duration Scaled(double milliseconds) const;
    void FinishStacking();
    void ReturnChannelBill();
    void MoveToDispenser();
    int MoveUnloaded(Clock::time_point now, bool complete);
    void ApplyCassetteType();
    // What RESET and a power cut do to an operation under way.
    void Interrupt(Clock::time_point now, bool powerCut);
    std::string InsertBill(int type, const std::string& barcode, Clock::time_point now);

    // Card reader.
    std::vector<std::uint8_t> ReaderPollData(Clock::time_point now) const;
    std::uint8_t ReaderState(Clock::time_point now) const;

    std::string Describe(int type) const;
    std::string StateName(std::uint8_t state) const;

    SimOptions m_options;
    std::string m_setupError;
    std::vector<SimBill> m_bills;
    std::uint8_t m_address { 1 };
    bool m_cyclor { true };
    std::mt19937 m_random;

    SimPhase m_phase { SimPhase::PowerUp };
    Clock::time_point m_phaseStart {};
    bool m_reported { false };
    std::uint8_t m_powerUpCode { wire::kPowerUp };

    std::uint32_t m_enableMask { 0 };
    std::uint32_t m_escrowMask { 0 };
    std::uint32_t m_security { 0 };
    std::uint32_t m_optionWord { 0 };
    std::uint8_t m_barFormat { 1 };
    std::uint8_t m_barLength { 0 };
    std::array<std::uint8_t, kSimCassettes> m_feedingLevel { { 50, 50, 50 } };

    // The bill in the channel, its fate and destination (0 box, 1..3).
    int m_channelType { -1 };
    std::uint8_t m_rejectReason { 0 };
    bool m_toEscrow { false };
    int m_destination { 0 };
    std::string m_channelBarcode;
    std::string m_lastBarcode;
    bool m_taken { false };
    Clock::time_point m_escrowSince {};

    std::uint8_t m_failure { 0 };
    std::uint8_t m_failureDetail[2] { 0, 0 };
    bool m_boxRemoved { false };
    Clock::time_point m_busyUntil {};
    bool m_silent { false };
    bool m_corruptNext { false };
    bool m_garbageNext { false };
    bool m_nakNext { false };

    // DISPENSE: the pairs asked for, and what each cassette gives.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> m_dispenseRequest;
    std::array<int, kSimCassettes> m_dispensePlan {};
    std::array<int, kSimBillTypes> m_dispenser {}; // bills waiting, by type
    // UNLOAD and SET CASSETTE TYPE under way.
    int m_unloadCassette { 0 };
    int m_unloadAsked { 0 };
    int m_unloadMoved { 0 };
    int m_typeCassette { 0 };
    int m_typeValue { kSimUnassignedType };

    std::vector<std::uint8_t> m_recovery; // state byte, then its data
    SimLedger m_ledger;
    SimStatistics m_statistics;
    std::int64_t m_clockOffset { 0 }; // unit local time minus the host's UTC seconds

    double m_autoSeconds { 0 };
    Clock::time_point m_nextAuto {};

    std::uint8_t m_testCode { 0 };
    std::uint8_t m_testCassette { 0 };
    Clock::time_point m_testDone {};

    // Card reader.
    std::uint8_t m_readerBase { wire::kReaderPowerUp };
    bool m_readerEnabled { false };
    Clock::time_point m_readerBusyUntil {};
    bool m_readerCancelPending { false };
    std::uint32_t m_readerFunds { 0 };  // hundredths

    std::uint64_t m_framesReceived { 0 };
    std::uint64_t m_exchangesAnswered { 0 };
    std::uint64_t m_framesSkipped { 0 };
};

} // namespace orvex
