#pragma once

#include "link/GuardedValue.h"
#include "protocol/BillTypeEntry.h"
#include "protocol/CassetteRecord.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace orvex {

class CKRMSProtocol;

// Result code families of the device operations, beside the protocol's.
inline constexpr int kStateNotReached = -1000;   // wait ran out, or a POLL failed
inline constexpr int kCommandErrorBase = -2000;  // -2000 + code: command failed in ReturnBill
inline constexpr int kStateNotAccepted = -10000; // a state the sequence does not accept
inline constexpr int kPollBusy = -8;             // POLL answered 0x33
inline constexpr int kReaderRefused = 7;         // CancelVend
inline constexpr int kFundsOutOfRange = 128;     // GetFunds

// The device contract the polling engine and start-up talk to. Every
// operation has a harmless default, so the engine runs without hardware.
// The slot order below is the contract's; keep it.
class CVMCInterface {
public:
    CVMCInterface() = default;
    CVMCInterface(const CVMCInterface&) = delete;
    CVMCInterface& operator=(const CVMCInterface&) = delete;

    virtual int ReadBarcode(std::string& text, int address);                 // 0
    virtual void Log(const std::string& line);                               // 1
    virtual int OpenPort(int portIndex, int responseTimeout);                // 2
    virtual int NextRecoveryEvent();                                          // 3
    virtual void SetIntercommandInterval(int milliseconds);                  // 4
    virtual int InitValidator(int address);                                  // 5
    virtual int CancelVend();                                                 // 6
    virtual int ReaderSession(int start);                                    // 7
    virtual int EnableReader(int mode);                                      // 8
    virtual int SetupReader(std::uint8_t scale, const std::string& currency); // 9
    virtual int WaitReaderState(int flags, int timeoutMilliseconds);         // 10
    virtual int Download(const std::uint8_t* image, int size);               // 11
    virtual int SetCassetteType(int cassetteIndex, int typeFlags);           // 12
    virtual int PollReader(int& state, int& subState);                       // 13
    virtual int RequestVend(double price, double& approved, int item, CassetteRecord* vendTable); // 14
    virtual int GetFunds(double& amount, int& entryIndex, const std::string& currency, CassetteRecord* funds); // 15
    virtual int Poll(int& state, int& subState, int address);                // 16
    virtual CKRMSProtocol* GetProtocol();                                    // 17
    virtual void EscrowNotify(int billType);                                 // 18
    virtual int WaitState(int flags, int timeoutSeconds, int address);       // 19
    virtual bool IsDevicePresent();                                          // 20
    virtual int GetStatus(std::uint32_t& enabled, std::uint32_t& security, std::uint32_t& routed, int address); // 21
    virtual int GetCassettes(CassetteRecord records[kCassettes], int address); // 22
    virtual int Unload(const std::uint8_t counts[kCassettes]);               // 23
    virtual int Dispense(const std::uint8_t request[25]);                    // 24
    virtual int ReturnBill(int address);                                     // 25
    virtual int StackBill(int address);                                      // 26
    virtual int EnableBills(std::uint32_t& enabled, std::uint32_t escrowMask, int address); // 27
    virtual int InitRecycler(std::uint32_t security, std::uint8_t barcodeLength, std::uint32_t options, int address, int reset); // 28
    virtual ~CVMCInterface();                                                // 29
    virtual int BusReset(int address);                                       // 30

    // The text of a result code, with the prefixes of the device families.
    static std::string ResultText(int code);

    // Shared state (readers on other threads take copies).
    std::string GetDeviceText() const { return m_deviceText.Get(); }
    std::array<BillTypeEntry, kBillTypes> GetBillTable() const { return m_billTable.Get(); }
    void SetBillTable(const std::array<BillTypeEntry, kBillTypes>& table) { m_billTable.Set(table); }
    struct PollReply {
        std::uint8_t state { 0 };
        std::uint8_t subState { 0 };
        std::uint8_t third { 0 };
    };
    PollReply GetLastPoll() const { return m_lastPoll.Get(); }
    PollReply GetLastReaderPoll() const { return m_lastReaderPoll.Get(); }

    // Owned by the polling engine; while set and non-zero every wait ends,
    // and the protocol's intercommand pause with it.
    void SetStopFlag(std::atomic<std::uint8_t>* stop);
    bool StopRequested() const;
    // Whoever sets the stop byte calls this afterwards: a wait asleep sees
    // the stop at once rather than at its next look.
    void WakeWaits();
    // The application's closing flag: while set and non-zero the card
    // reader's set-up stops waiting for a busy reader.
    void SetClosingFlag(std::atomic<int>* closing) { m_closingFlag.store(closing); }
    bool ClosingRequested() const;
    void ClearClosing();

    void SetPollInterval(int milliseconds) { m_pollInterval.store(milliseconds < 0 ? 0 : milliseconds); }
    int GetPollInterval() const { return m_pollInterval.load(); }

protected:
    // Sleeps until the time point, or less when the stop byte is set. The
    // sleep is one wait, not a series of short ones; a stop byte set without
    // WakeWaits is still seen within kStopLookInterval.
    void SleepUntil(std::chrono::steady_clock::time_point until) const;
    static constexpr std::chrono::milliseconds kStopLookInterval { 100 };

    void SetDeviceText(std::string text) { m_deviceText.Set(std::move(text)); }
    void SetLastPoll(PollReply reply) { m_lastPoll.Set(reply); }
    void SetLastReaderPoll(PollReply reply) { m_lastReaderPoll.Set(reply); }
    // Value and country from BILL TABLE; the routed flags stay.
    void SetBillValues(const std::array<BillTypeEntry, kBillTypes>& table);
    // Bit n of the routed-bills word becomes the routed flag of type n.
    void SetRoutedFlags(std::uint32_t routedWord);

    // The recovery queue of POWER RECOVERY; used on one thread at a time
    // (InitRecycler fills it, NextRecoveryEvent empties it).
    int m_recoveryLength { 0 };
    std::array<std::uint8_t, 32> m_recoveryBuffer {};
    std::uint8_t m_recoveryState { 0 };

private:
    CGuardedValue<std::string> m_deviceText;
    std::atomic<std::atomic<std::uint8_t>*> m_stopFlag { nullptr };
    mutable std::mutex m_sleepMutex; // pairs with m_sleepWake; guards nothing else
    mutable std::condition_variable m_sleepWake;
    std::atomic<int> m_pollInterval { 150 };
    std::atomic<std::atomic<int>*> m_closingFlag { nullptr };
    CGuardedValue<std::array<BillTypeEntry, kBillTypes>> m_billTable;
    CGuardedValue<PollReply> m_lastPoll;
    CGuardedValue<PollReply> m_lastReaderPoll;
};

} // namespace orvex
