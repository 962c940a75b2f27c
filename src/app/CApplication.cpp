#include "app/CApplication.h"

#include "Version.h"
#include "app/CStartupObserver.h"
#include "link/LineMode.h"
#include "link/WireVocabulary.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace orvex {

namespace {

constexpr int kSearchedPorts = 16;
constexpr int kReaderPorts = 4;
constexpr int kInitAttempts = 5;
constexpr int kSearchAnimation = 133;
constexpr int kInitAnimation = 136;
// The bill table index passed when no further bill type is found.
constexpr int kNoBillType = 23;

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// The next bill type from `from` whose value is not zero, among 0..22.
int NextBillType(const std::array<BillTypeEntry, kBillTypes>& table, int from)
{
    for (int index = from; index < kNoBillType; ++index) {
        if (table[static_cast<std::size_t>(index)].value != 0.0f)
            return index;
    }
    return kNoBillType;
}

} // namespace

CApplication::CApplication()
    : m_engine(std::make_unique<CVMC>(&m_device))
{
    ShareClosingFlag();
}

CApplication::CApplication(CPortTable table)
    : m_device(std::move(table))
    , m_engine(std::make_unique<CVMC>(&m_device))
{
    ShareClosingFlag();
}

void CApplication::ShareClosingFlag()
{
    m_device.SetClosingFlag(&m_closing);
    m_engine->SetClosingFlag(&m_closing);
}

CApplication::~CApplication()
{
    m_engine->Stop();
}

std::string CApplication::VersionText()
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d build %d", ORVEX_VERSION_MAJOR, ORVEX_VERSION_MINOR, ORVEX_VERSION_PATCH,
        ORVEX_VERSION_BUILD);
    return text;
}

void CApplication::ApplyCommandLine(const CommandLine& commandLine)
{
    m_commandLine = commandLine;
    if (commandLine.escrowOff)
        m_engine->SetEscrowMask(0);
}

CApplication::StartupResult CApplication::Startup(const std::vector<std::string>& words, CStartupObserver& observer)
{
    // The socket library needs no initialisation on this platform.
    m_startupCode = -1;
    ApplyCommandLine(CommandLine::Parse(words));
    if (!m_device.IsDevicePresent())
        return StartupResult::End;

    m_searchWindowShown = true;
    observer.OnSearchWindow(true);
    observer.OnAnimation(kSearchAnimation);
    observer.OnSearchText("Searching for Devices...");
    // Cancel ends the waits of the device interface as well as the search.
    m_device.SetStopFlag(&m_cancel);
    const StartupResult result = RunSearch(observer);
    m_device.SetStopFlag(nullptr);
    return result;
}

CApplication::StartupResult CApplication::RunSearch(CStartupObserver& observer)
{
    Sleep(300);
    SearchPorts(observer);
    if (m_commandLine.setMode) {
        if (!IsStartupCancelled())
            m_startupCode = SetCassetteDefaults(observer);
        EndSearchWindow(observer);
        return StartupResult::End;
    }

    bool initialise = m_foundPort != kNoPort;
    if (!initialise && !IsStartupCancelled()) {
        initialise = SearchCardReader(observer) != kNoPort;
        if (!initialise && !IsStartupCancelled())
            observer.OnMessage("No device found. You have to set COM port manualy.");
    }
    if (initialise && !IsStartupCancelled())
        m_startupCode = InitializeDevice(observer);
    EndSearchWindow(observer);
    return StartupResult::OpenMainWindow;
}

int CApplication::SearchPorts(CStartupObserver& observer)
{
    m_foundPort = kNoPort;
    auto answers = [this](int address) {
        m_engine->SetDeviceAddress(address);
        int state = 0, subState = 0;
        return m_device.Poll(state, subState, address) == 0;
    };
    auto tryAddresses = [&answers] { return answers(wire::kCyclorAddress) || answers(wire::kValidatorAddress); };

    for (int index = 0; index < kSearchedPorts && !IsStartupCancelled(); ++index) {
        Protocol().SetSerialMode(kMode19200);
        if (m_device.OpenPort(index, m_searchTimeout) == 0)
            continue;
        Sleep(10);
        bool found = tryAddresses();
        if (!found && !IsStartupCancelled()) {
            Sleep(100);
            Protocol().SetSerialMode(kMode9600);
            if (m_device.OpenPort(index, m_searchTimeout) == 0)
                continue;
            Sleep(10);
            found = tryAddresses();
        }
        if (found) {
            m_foundPort = index;
            const char* kind = m_engine->GetDeviceAddress() == wire::kValidatorAddress ? "Bill Validator found on COM"
                                                                                 : "Cyclor Unit found on COM";
            observer.OnSearchText(kind + std::to_string(index + 1));
            break;
        }
    }
    return m_foundPort;
}

int CApplication::SearchCardReader(CStartupObserver& observer)
{
    observer.OnSearchText("Searching for Card Reader...");
    for (int index = 0; index < kReaderPorts && !IsStartupCancelled(); ++index) {
        Protocol().SetSerialMode(kMode19200);
        if (m_device.OpenPort(index, m_searchTimeout) == 0)
            continue;
        Protocol().GetPort()->SetRts(1);
        Sleep(20);
        int state = 0, subState = 0;
        if (m_device.PollReader(state, subState) == 0) {
            m_foundPort = index;
            observer.OnSearchText("Card Reader found...");
            return m_foundPort;
        }
    }
    // Also said when COM4 could not be opened at all: no reader was found.
    observer.OnSearchText("Card Reader not found...");
    return kNoPort;
}

int CApplication::InitializeDevice(CStartupObserver& observer)
{
    Sleep(700);
    observer.OnAnimation(kInitAnimation);
    observer.OnSearchText("Initializing Bill Changer...");
    int result = -1;
    for (int attempt = 0; attempt < kInitAttempts && result != 0 && !IsStartupCancelled(); ++attempt)
        result = m_device.InitValidator(m_engine->GetDeviceAddress());
    if (result != 0 && !IsStartupCancelled()) {
        observer.OnMessage("Initialization failed.");
        EndSearchWindow(observer);
    }
    observer.OnSearchText("Starting server program ...");
    return result;
}

int CApplication::SetCassetteDefaults(CStartupObserver& observer)
{
    observer.OnAnimation(kInitAnimation);
    observer.OnSearchText("Initializing Bill Changer...");
    m_device.InitRecycler(0, 18, 0, wire::kCyclorAddress, 1);
    const std::array<BillTypeEntry, kBillTypes> table = m_device.GetBillTable();

    observer.OnSearchText("Setting default type for 1st cassete...");
    Sleep(600);
    const int first = NextBillType(table, 0);
    const int r1 = m_device.SetCassetteType(0, first);
    if (r1 != 0)
        observer.OnMessage("Can't set type for 1st cassete");

    observer.OnSearchText("Setting default type for 2nd cassete...");
    Sleep(600);
    const int skipped = NextBillType(table, first + 1);
    const int second = NextBillType(table, skipped + 1);
    const int r2 = m_device.SetCassetteType(1, second);
    if (r1 != 0 || r2 != 0)
        observer.OnMessage("Can't set type for 2nd cassete");

    observer.OnSearchText("Setting default type for 3rd cassete...");
    Sleep(600);
    const int third = NextBillType(table, second + 1);
    const int r3 = m_device.SetCassetteType(2, third);
    if (r1 != 0 || r2 != 0 || r3 != 0)
        observer.OnMessage("Can't set type for 3rd cassete");

    EndSearchWindow(observer);
    if (r1 == 0 && r2 == 0 && r3 == 0)
        observer.OnMessage("Cassete types were successfuly set");
    return r1 != 0 ? r1 : (r2 != 0 ? r2 : r3);
}

void CApplication::EndSearchWindow(CStartupObserver& observer)
{
    if (!m_searchWindowShown)
        return;
    m_searchWindowShown = false;
    observer.OnSearchWindow(false);
}

} // namespace orvex
