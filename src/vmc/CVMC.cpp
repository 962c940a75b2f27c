#include "vmc/CVMC.h"

#include "device/CVMCInterface.h"
#include "link/WireVocabulary.h"
#include "protocol/CKRMSProtocol.h"

#include <algorithm>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFailedPollsBeforeLostContact = 5;
// IDLING, DISABLED, INITIALIZING and the power-up states.
constexpr int kUsableStates = 0x4B;
constexpr int kLostContactWaitSeconds = 5;

bool IsPowerUp(std::uint8_t state) { return state >= wire::kPowerUp && state <= wire::kInitializing; }
bool IsFailure(std::uint8_t state)
{
    return state == wire::kInvalidCommand || (state >= wire::kBoxFull && state <= wire::kState48);
}

} // namespace

CVMC::CVMC(CVMCInterface* device)
    : m_device(device)
{
}

CVMC::~CVMC()
{
    Stop();
}

bool CVMC::Start()
{
    std::lock_guard lock(m_threadMutex);
    if (m_running.load())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    // Cleared here rather than on the new thread, so that a stop requested
    // right after the start is not lost.
    m_stop.store(0);
    m_running.store(true);
    try {
        m_thread = std::thread(&CVMC::ThreadMain, this);
    } catch (const std::system_error&) {
        m_running.store(false);
        return false;
    }
    return true;
}

bool CVMC::WaitForEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (m_running.load()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard lock(m_threadMutex);
    if (m_thread.joinable() && !m_running.load())
        m_thread.join();
    return true;
}

void CVMC::Stop()
{
    RequestStop();
    std::lock_guard lock(m_threadMutex);
    if (m_thread.joinable())
        m_thread.join();
}

std::array<CassetteRecord, kCassettes> CVMC::GetCassettes() const
{
    std::lock_guard lock(m_cassetteMutex);
    return m_cassettes;
}

void CVMC::ThreadMain()
{
    m_runCount.fetch_add(1);
    ThreadStart();
    m_exitCode.store(Run());
    ExitInstance();
    m_running.store(false);
}

void CVMC::ThreadStart()
{
    std::lock_guard lock(m_cassetteMutex);
    for (CassetteRecord& record : m_cassettes) {
        record.status = kCassetteNotRead;
        record.billCount = 0;
        record.billType = 255;
    }
}

void CVMC::ExitInstance()
{
    if (CVMCInterface* device = m_device.load())
        device->SetStopFlag(nullptr);
}

int CVMC::Run()
{
    if (std::atomic<int>* closing = m_closingFlag.load())
        closing->store(0);
    CVMCInterface* device = m_device.load();
    if (device == nullptr)
        return kNoDevice;
    device->SetStopFlag(&m_stop);
    const int address = m_deviceAddress.load();

    int result = 0;
    if (!StopRequested()) {
        result = device->InitRecycler(m_securityLevels.load(), m_barcodeLength.load(), m_options.load(), address,
            m_resetAtStart.load());
        if (result != 0)
            HandleLostContact();
    }
    if (!StopRequested()) {
        if (result == 0) {
            std::uint32_t enabled = 0, security = 0, routed = 0;
            device->GetStatus(enabled, security, routed, address);
        }
        SleepUntil(Clock::now() + std::chrono::milliseconds(50));
        if (!ReadCassettes())
            HandleLostContact();
    }

    auto nextPoll = Clock::now() + std::chrono::milliseconds(device->GetPollInterval());
    bool billHandled = false;
    int failedPolls = 0;
    while (!StopRequested()) {
        int state = 0, subState = 0;
        if (device->Poll(state, subState, address) != 0) {
            CKRMSProtocol* protocol = device->GetProtocol();
            if (protocol != nullptr && IsLineGone(protocol->GetLastLineFault().fault)) {
                if (!AwaitLine())
                    break;
                failedPolls = 0;
                billHandled = false;
                nextPoll = Clock::now() + std::chrono::milliseconds(device->GetPollInterval());
                continue;
            }
            ++failedPolls;
            if (failedPolls > kFailedPollsBeforeLostContact)
                HandleLostContact();
        } else {
            failedPolls = 0;
            if (!ActOnState(static_cast<std::uint8_t>(state), static_cast<std::uint8_t>(subState), billHandled))
                break;
        }
        if (StopRequested())
            break;
        SleepUntil(nextPoll);
        nextPoll = Clock::now() + std::chrono::milliseconds(device->GetPollInterval());
    }
    return 0;
}

bool CVMC::ActOnState(std::uint8_t state, std::uint8_t subState, bool& billHandled)
{
    CVMCInterface* device = m_device.load();
    const int address = m_deviceAddress.load();
    if (IsPowerUp(state)) {
        if (device->InitRecycler(m_securityLevels.load(), m_barcodeLength.load(), m_options.load(), address, 1) != 0)
            HandleLostContact();
        if (!StopRequested() && !ReadCassettes())
            HandleLostContact();
        return !StopRequested();
    }
    if (IsFailure(state)) {
        HandleLostContact();
        return true;
    }
    switch (state) {
    case wire::kIdling:
        if (billHandled) {
            billHandled = false;
            ReadCassettes();
        }
        break;
    case wire::kDisabled:
        if (StopRequested())
            return false;
        if (std::uint32_t enabled = m_enabledBills.load(); enabled != 0)
            device->EnableBills(enabled, m_escrowMask.load(), address);
        break;
    case wire::kEscrowPosition:
        HandleEscrow(subState, billHandled);
        break;
    case wire::kBillStacked:
        if (subState == wire::kBarcodeCoupon)
            ReadBarcode();
        billHandled = true;
        break;
    default:
        break;
    }
    return true;
}

void CVMC::HandleEscrow(std::uint8_t billType, bool& billHandled)
{
    CVMCInterface* device = m_device.load();
    const int address = m_deviceAddress.load();
    if (billType == wire::kBarcodeCoupon)
        ReadBarcode();
    ReadCassettes();
    if (m_stackBills.load() != 0)
        device->StackBill(address);
    else
        device->ReturnBill(address);
    const CVMCInterface::PollReply last = device->GetLastPoll();
    if (last.state == wire::kBillStacked && last.subState == wire::kBarcodeCoupon)
        ReadBarcode();
    if (last.state == wire::kBillStacked || last.state == wire::kBillReturned)
        billHandled = true;
}

void CVMC::HandleLostContact()
{
    CVMCInterface* device = m_device.load();
    const int address = m_deviceAddress.load();
    const int reached = device->WaitState(kUsableStates, kLostContactWaitSeconds, address);
    // A wait cut short by the stop byte is not a lost contact; the bus
    // reset (with its 2.5 s pause) would only hold up the stop.
    if (reached == 0 && !StopRequested() && m_busResetOnLostContact.load() != 0)
        device->BusReset(address);
}

bool CVMC::AwaitLine()
{
    CVMCInterface* device = m_device.load();
    m_lineState.store(EngineLineState::WaitingForLine);
    const bool back = device->GetProtocol()->ReconnectPort([this] { return StopRequested(); });
    m_lineState.store(EngineLineState::Connected);
    if (!back || StopRequested())
        return false;
    if (device->InitRecycler(m_securityLevels.load(), m_barcodeLength.load(), m_options.load(), m_deviceAddress.load(),
            m_resetAtStart.load())
        != 0)
        HandleLostContact();
    if (!StopRequested() && !ReadCassettes())
        HandleLostContact();
    return !StopRequested();
}

bool CVMC::ReadCassettes()
{
    CVMCInterface* device = m_device.load();
    std::array<CassetteRecord, kCassettes> records;
    {
        std::lock_guard lock(m_cassetteMutex);
        records = m_cassettes;
    }
    const int result = device->GetCassettes(records.data(), m_deviceAddress.load());
    std::lock_guard lock(m_cassetteMutex);
    m_cassettes = records;
    return result == 0;
}

void CVMC::ReadBarcode()
{
    // The exchange goes into the log; the text itself is not kept.
    std::string text;
    m_device.load()->ReadBarcode(text, m_deviceAddress.load());
}

void CVMC::RequestStop()
{
    {
        // Set under the sleep's mutex, so that a sleeper cannot miss the
        // wake between its look at the stop byte and its wait.
        std::lock_guard lock(m_sleepMutex);
        m_stop.store(1);
    }
    m_sleepWake.notify_all();
    if (CVMCInterface* device = m_device.load())
        device->WakeWaits();
}

void CVMC::SleepUntil(Clock::time_point until) const
{
    std::unique_lock lock(m_sleepMutex);
    m_sleepWake.wait_until(lock, until, [this] { return StopRequested(); });
}

} // namespace orvex
