#pragma once

#include "protocol/CassetteRecord.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orvex {

class CVMCInterface;

// Whether the engine's line is there, or gone and awaited.
enum class EngineLineState { Connected, WaitingForLine };

// The simulated vending machine controller of polling mode: a worker
// thread that initialises the device, polls it, enables the bills, stacks
// or returns every escrowed bill, re-initialises after a power-up and
// recovers from lost contact. It talks only to the device contract; every
// exchange reaches the log through the protocol engine's observer.
class CVMC {
public:
    // The exit code of a run that had no device interface.
    static constexpr int kNoDevice = -1;

    explicit CVMC(CVMCInterface* device = nullptr);
    ~CVMC();
    CVMC(const CVMC&) = delete;
    CVMC& operator=(const CVMC&) = delete;

    void SetDevice(CVMCInterface* device) { m_device.store(device); }
    CVMCInterface* GetDevice() const { return m_device.load(); }

    // ---- Settings, written before the thread starts ------------------------
    void SetResetAtStart(bool reset) { m_resetAtStart.store(reset ? 1 : 0); }
    bool GetResetAtStart() const { return m_resetAtStart.load() != 0; }
    void SetSecurityLevels(std::uint32_t levels) { m_securityLevels.store(levels); }
    std::uint32_t GetSecurityLevels() const { return m_securityLevels.load(); }
    void SetBarcodeLength(std::uint8_t length) { m_barcodeLength.store(length); }
    std::uint8_t GetBarcodeLength() const { return m_barcodeLength.load(); }
    void SetEnabledBills(std::uint32_t mask) { m_enabledBills.store(mask & 0xFFFFFF); }
    std::uint32_t GetEnabledBills() const { return m_enabledBills.load(); }
    // The application's closing flag, cleared when a run starts.
    void SetClosingFlag(std::atomic<int>* closing) { m_closingFlag.store(closing); }
    // The escrow mask that re-enabling bills sends with the enabled ones.
    void SetEscrowMask(std::uint32_t mask) { m_escrowMask.store(mask & 0xFFFFFF); }
    std::uint32_t GetEscrowMask() const { return m_escrowMask.load(); }
    void SetDeviceAddress(int address) { m_deviceAddress.store(address); }
    int GetDeviceAddress() const { return m_deviceAddress.load(); }
    void SetOptions(std::uint32_t options) { m_options.store(options); }
    std::uint32_t GetOptions() const { return m_options.load(); }

    // ---- Options that may change while the thread runs -----------------------
    void SetStackBills(bool stack) { m_stackBills.store(stack ? 1 : 0); }
    bool GetStackBills() const { return m_stackBills.load() != 0; }
    void SetBusResetOnLostContact(bool reset) { m_busResetOnLostContact.store(reset ? 1 : 0); }
    bool GetBusResetOnLostContact() const { return m_busResetOnLostContact.load() != 0; }

    // ---- Thread ----------------------------------------------------------------
    // Starts the thread from the beginning (device initialisation included).
    // False when it is still running or no thread could be created.
    bool Start();
    // Sets the stop byte: every wait of the device interface ends at its
    // next turn and the loop ends.
    void RequestStop();
    bool StopRequested() const { return m_stop.load() != 0; }
    bool IsRunning() const { return m_running.load(); }
    // Waits for the thread to end; false when it still runs after `timeout`.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // Stops and waits without a bound.
    void Stop();
    // The exit code of the last run that ended (0, or kNoDevice).
    int GetExitCode() const { return m_exitCode.load(); }
    // How many times the thread was started.
    int GetRunCount() const { return m_runCount.load(); }

    std::array<CassetteRecord, kCassettes> GetCassettes() const;
    // WaitingForLine while the adapter (or server) of the port is away.
    EngineLineState GetLineState() const { return m_lineState.load(); }

private:
    void ThreadMain();
    void ThreadStart();
    int Run();
    void ExitInstance();

    // One action per poll state; false when the thread is to end.
    bool ActOnState(std::uint8_t state, std::uint8_t subState, bool& billHandled);
    void HandleEscrow(std::uint8_t billType, bool& billHandled);
    void HandleLostContact();
    // The line went away: waits for it to come back, then initialises the
    // unit again as after a lost contact. False when stopped first.
    bool AwaitLine();
    bool ReadCassettes();
    void ReadBarcode();
    // Sleeps until `until`, waking early when the stop byte is set.
    void SleepUntil(std::chrono::steady_clock::time_point until) const;

    std::atomic<std::uint8_t> m_resetAtStart { 0 };
    std::atomic<std::uint8_t> m_stackBills { 1 };
    std::atomic<std::uint32_t> m_securityLevels { 0 };
    std::atomic<std::uint8_t> m_barcodeLength { 18 };
    std::atomic<std::uint32_t> m_enabledBills { 0xFFFFFF };
    std::atomic<std::uint32_t> m_escrowMask { 0xFFFFFF };
    std::atomic<std::atomic<int>*> m_closingFlag { nullptr };
    // The stop byte; its address is the device interface's stop flag.
    std::atomic<std::uint8_t> m_stop { 0 };
    // The engine's own sleeps block on this until their time or a stop, so
    // that a poll interval costs one wake-up; the mutex only pairs with it.
    mutable std::mutex m_sleepMutex;
    mutable std::condition_variable m_sleepWake;
    std::atomic<int> m_deviceAddress { 3 };
    std::atomic<std::uint32_t> m_options { 0x60000000 };
    std::atomic<CVMCInterface*> m_device;
    std::atomic<std::uint8_t> m_busResetOnLostContact { 0 };

    mutable std::mutex m_cassetteMutex; // guards m_cassettes (written by the engine, read by anyone)
    std::array<CassetteRecord, kCassettes> m_cassettes {};

    // Guards m_thread: Start, WaitForEnd and the destructor may come from
    // different threads.
    std::mutex m_threadMutex;
    std::thread m_thread;
    std::atomic<bool> m_running { false };
    std::atomic<int> m_exitCode { 0 };
    std::atomic<int> m_runCount { 0 };
    std::atomic<EngineLineState> m_lineState { EngineLineState::Connected };
};

} // namespace orvex
