#include "device/CVMCInterface.h"

#include "protocol/CKRMSProtocol.h"

#include <algorithm>

namespace orvex {

// The defaults report no device activity, so the polling engine can run
// against the bare contract without hardware.

int CVMCInterface::ReadBarcode(std::string& text, int)
{
    text.clear();
    return 0;
}

void CVMCInterface::Log(const std::string&) { }

int CVMCInterface::OpenPort(int, int) { return 0; }

int CVMCInterface::NextRecoveryEvent() { return 0; }

void CVMCInterface::SetIntercommandInterval(int) { }

int CVMCInterface::InitValidator(int) { return 0; }

int CVMCInterface::CancelVend() { return 0; }

int CVMCInterface::ReaderSession(int) { return 0; }

int CVMCInterface::EnableReader(int) { return 0; }

int CVMCInterface::SetupReader(std::uint8_t, const std::string&) { return 0; }

int CVMCInterface::WaitReaderState(int, int) { return 1; }

int CVMCInterface::Download(const std::uint8_t*, int) { return 0; }

int CVMCInterface::SetCassetteType(int, int) { return 0; }

int CVMCInterface::PollReader(int& state, int& subState)
{
    state = 0;
    subState = 0;
    return 0;
}

int CVMCInterface::RequestVend(double, double&, int, CassetteRecord*) { return 0; }

int CVMCInterface::GetFunds(double&, int&, const std::string&, CassetteRecord*) { return 0; }

int CVMCInterface::Poll(int& state, int& subState, int)
{
    state = 0;
    subState = 0;
    return 0;
}

CKRMSProtocol* CVMCInterface::GetProtocol() { return nullptr; }

void CVMCInterface::EscrowNotify(int) { }

int CVMCInterface::WaitState(int, int, int) { return 0; }

bool CVMCInterface::IsDevicePresent() { return false; }

int CVMCInterface::GetStatus(std::uint32_t& enabled, std::uint32_t& security, std::uint32_t& routed, int)
{
    enabled = 0;
    security = 0;
    routed = 0;
    return 0;
}

int CVMCInterface::GetCassettes(CassetteRecord records[kCassettes], int)
{
    if (!records)
        return 0;
    for (int i = 0; i < kCassettes; ++i) {
        records[i].status = 0;
        records[i].billCount = 0;
    }
    return 0;
}

int CVMCInterface::Unload(const std::uint8_t*) { return 0; }

int CVMCInterface::Dispense(const std::uint8_t*) { return 0; }

int CVMCInterface::ReturnBill(int) { return 0; }

int CVMCInterface::StackBill(int) { return 0; }

int CVMCInterface::EnableBills(std::uint32_t&, std::uint32_t, int) { return 0; }

int CVMCInterface::InitRecycler(std::uint32_t, std::uint8_t, std::uint32_t, int, int) { return 0; }

CVMCInterface::~CVMCInterface() = default;

int CVMCInterface::BusReset(int) { return 0; }

std::string CVMCInterface::ResultText(int code)
{
    // Each family replaces the prefix of the one before it: -11001 is a
    // failure whose remainder, -1001, is read as a plain timeout.
    std::string prefix;
    long long rest = code;
    if (rest < -9999) {
        prefix = "Failure. Comm: ";
        rest += 10000;
    }
    if (rest < -1999) {
        prefix = "Command error. Comm: ";
        rest += 2000;
    }
    if (rest < -999) {
        prefix = "Communication error. Comm: ";
        rest += 1000;
    }
    return prefix + CKRMSProtocol::ErrorText(static_cast<int>(rest));
}

void CVMCInterface::SetBillValues(const std::array<BillTypeEntry, kBillTypes>& table)
{
    m_billTable.Update([&table](std::array<BillTypeEntry, kBillTypes>& billTable) {
        for (std::size_t i = 0; i < billTable.size(); ++i) {
            billTable[i].value = table[i].value;
            billTable[i].country = table[i].country;
        }
    });
}

void CVMCInterface::SetRoutedFlags(std::uint32_t routedWord)
{
    m_billTable.Update([routedWord](std::array<BillTypeEntry, kBillTypes>& billTable) {
        for (std::size_t i = 0; i < billTable.size(); ++i)
            billTable[i].routed = static_cast<std::uint8_t>((routedWord >> i) & 1u);
    });
}

bool CVMCInterface::ClosingRequested() const
{
    std::atomic<int>* closing = m_closingFlag.load();
    return closing && closing->load() != 0;
}

void CVMCInterface::ClearClosing()
{
    if (std::atomic<int>* closing = m_closingFlag.load())
        closing->store(0);
}

void CVMCInterface::SetStopFlag(std::atomic<std::uint8_t>* stop)
{
    m_stopFlag.store(stop);
    if (CKRMSProtocol* protocol = GetProtocol())
        protocol->SetStopFlag(stop);
}

bool CVMCInterface::StopRequested() const
{
    std::atomic<std::uint8_t>* stop = m_stopFlag.load();
    return stop && stop->load() != 0;
}

void CVMCInterface::WakeWaits()
{
    // Taken and released so that a sleeper between its look at the stop
    // byte and its wait cannot miss the notification.
    { std::lock_guard lock(m_sleepMutex); }
    m_sleepWake.notify_all();
}

void CVMCInterface::SleepUntil(std::chrono::steady_clock::time_point until) const
{
    std::unique_lock lock(m_sleepMutex);
    for (auto now = std::chrono::steady_clock::now(); now < until && !StopRequested();
         now = std::chrono::steady_clock::now())
        m_sleepWake.wait_until(lock, std::min(until, now + kStopLookInterval));
}

} // namespace orvex
