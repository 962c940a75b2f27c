#pragma once

#include "app/CommandLine.h"
#include "device/CKRMSInterface.h"
#include "vmc/CVMC.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class CStartupObserver;

// The application object: owns the device interface (with its protocol
// engine and port) and the polling engine for the whole run, and runs the
// start-up: command line, device search, card-reader search, device
// initialisation or the cassette default types.
class CApplication {
public:
    // A value outside the sixteen searched ports.
    static constexpr int kNoPort = 17;
    static constexpr int kSearchTimeout = 200;

    enum class StartupResult {
        OpenMainWindow, // the window opens next on the port found (or none)
        End,            // "SET" mode ran, or nothing to run on: the program ends
    };

    // The port table from the environment (ORVEX_PORTS or the serial
    // devices present), probed once.
    CApplication();
    explicit CApplication(CPortTable table);
    ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    CKRMSInterface& Device() { return m_device; }
    CKRMSProtocol& Protocol() { return *m_device.GetProtocol(); }
    CVMC& Engine() { return *m_engine; }
    int GetFoundPort() const { return m_foundPort; }
    // The result of the start-up's last step: InitValidator's, or the
    // cassette default types' ("SET"); -1 when neither ran.
    int GetStartupCode() const { return m_startupCode; }
    const CommandLine& GetCommandLine() const { return m_commandLine; }

    // The whole start-up routine, texts and messages to the observer in
    // order. The words are those after the program name.
    StartupResult Startup(const std::vector<std::string>& words, CStartupObserver& observer);

    // Its steps, for callers that run one of them alone.
    void ApplyCommandLine(const CommandLine& commandLine);
    // COM1..COM16, 19200 then 9600, address 1 then 3; the found port or kNoPort.
    int SearchPorts(CStartupObserver& observer);
    // COM1..COM4 at 19200; the found port or kNoPort.
    int SearchCardReader(CStartupObserver& observer);
    // Up to five InitValidator calls; the last result code.
    int InitializeDevice(CStartupObserver& observer);
    // "SET": default bill types into the three cassettes; 0, or the first
    // failed cassette's result code.
    int SetCassetteDefaults(CStartupObserver& observer);

    // The search window's "Cancel", from any thread: the search and the
    // device's waits end at their next turn; the main window then opens on
    // what was found so far (no port when the port search was cut short).
    // In "SET" mode the program ends, as it always does there.
    void CancelStartup() { m_cancel.store(1); }
    bool IsStartupCancelled() const { return m_cancel.load() != 0; }
    // The program-wide closing flag: set when the window closes, so long
    // waits below end; the device interface and the engine read it.
    void RequestClosing() { m_closing.store(1); }

    // "%d.%d.%d build %d" from the project version.
    static std::string VersionText();

private:
    // The start-up after the search window opened.
    StartupResult RunSearch(CStartupObserver& observer);
    void ShareClosingFlag();
    // Hides and ends the search window once.
    void EndSearchWindow(CStartupObserver& observer);

    std::atomic<int> m_closing { 0 };
    CKRMSInterface m_device;
    std::unique_ptr<CVMC> m_engine;
    int m_foundPort { kNoPort };
    int m_searchTimeout { kSearchTimeout };
    CommandLine m_commandLine;
    bool m_searchWindowShown { false };
    int m_startupCode { -1 };
    // Lent to the device as its stop flag while the start-up runs.
    std::atomic<std::uint8_t> m_cancel { 0 };
};

} // namespace orvex
