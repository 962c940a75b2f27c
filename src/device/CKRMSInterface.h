#pragma once

#include "device/CVMCInterface.h"
#include "protocol/CKRMSProtocol.h"

#include <chrono>

namespace orvex {

// The device contract on ORVEX commands: short command sequences with
// waits on the device state between them.
class CKRMSInterface : public CVMCInterface {
public:
    CKRMSInterface() = default;
    explicit CKRMSInterface(CPortTable table);
    explicit CKRMSInterface(std::unique_ptr<CCOMPort> port);
    ~CKRMSInterface() override;

    int ReadBarcode(std::string& text, int address) override;
    void Log(const std::string& line) override;
    int OpenPort(int portIndex, int responseTimeout) override;
    int NextRecoveryEvent() override;
    void SetIntercommandInterval(int milliseconds) override;
    int InitValidator(int address) override;
    int CancelVend() override;
    int ReaderSession(int start) override;
    int EnableReader(int mode) override;
    int SetupReader(std::uint8_t scale, const std::string& currency) override;
    int WaitReaderState(int flags, int timeoutMilliseconds) override;
    int Download(const std::uint8_t* image, int size) override;
    int SetCassetteType(int cassetteIndex, int typeFlags) override;
    int PollReader(int& state, int& subState) override;
    int RequestVend(double price, double& approved, int item, CassetteRecord* vendTable) override;
    int GetFunds(double& amount, int& entryIndex, const std::string& currency, CassetteRecord* funds) override;
    int Poll(int& state, int& subState, int address) override;
    CKRMSProtocol* GetProtocol() override { return &m_protocol; }
    int WaitState(int flags, int timeoutSeconds, int address) override;
    bool IsDevicePresent() override { return true; }
    int GetStatus(std::uint32_t& enabled, std::uint32_t& security, std::uint32_t& routed, int address) override;
    int GetCassettes(CassetteRecord records[kCassettes], int address) override;
    int Unload(const std::uint8_t counts[kCassettes]) override;
    int Dispense(const std::uint8_t request[25]) override;
    int ReturnBill(int address) override;
    int StackBill(int address) override;
    int EnableBills(std::uint32_t& enabled, std::uint32_t escrowMask, int address) override;
    int InitRecycler(std::uint32_t security, std::uint8_t barcodeLength, std::uint32_t options, int address, int reset) override;
    int BusReset(int address) override;

    // The clock check of InitRecycler and the window's "Sync Time".
    int CheckClock();

private:
    using Clock = std::chrono::steady_clock;

    std::uint8_t LastState() const { return GetLastPoll().state; }
    void SleepFor(int milliseconds) const { SleepUntil(Clock::now() + std::chrono::milliseconds(milliseconds)); }
    // The code of a failed command: its last result code, or -6 when the
    // engine refused it without a code.
    int CommandFailure() const;
    // The code of a wait that ran out: what the last command said, or -1000
    // when every POLL succeeded and the state simply never came.
    int WaitFailure() const;
    // InitRecycler's "wait": idling or disabled within the time-out.
    int WaitReady(int timeoutSeconds, int address);
    // Unload and Dispense: the bill out of the way, acceptance off.
    int DisableForCassettes();
    // PollReader ended on a failed exchange (not merely an unlisted state).
    bool ReaderExchangeFailed(int pollResult) const;

    CKRMSProtocol m_protocol;
    // Why the last WaitState gave 0: the code of its failed POLL, or 0 for
    // a time-out or a stop.
    std::atomic<int> m_waitFailure { 0 };
};

} // namespace orvex
