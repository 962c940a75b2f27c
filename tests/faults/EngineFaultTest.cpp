// The polling engine against a unit that stops answering, and sequences
// cut short by a power cut. Every wait is bounded and each test says the
// bound it expects.
#include "FaultHarness.h"
#include "vmc/CVMC.h"

#include <ctime>

using namespace orvex;
using namespace orvex::test;

namespace {

double ProcessSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

class EngineFault : public FaultTest {
protected:
    void TearDown() override
    {
        if (m_engine) {
            m_engine->RequestStop();
            EXPECT_TRUE(m_engine->WaitForEnd(15s)) << "the engine did not stop";
            m_engine.reset();
        }
        FaultTest::TearDown();
    }

    void StartEngine(bool busReset)
    {
        m_engine = std::make_unique<CVMC>(m_device.get());
        m_engine->SetDeviceAddress(1);
        m_engine->SetBusResetOnLostContact(busReset);
        ASSERT_TRUE(m_engine->Start());
        ASSERT_TRUE(Eventually([this] { return m_sink.Has("<- IDLING") || m_sink.Has("<- DISABLED"); }, 15s));
    }

    std::unique_ptr<CVMC> m_engine;
};

} // namespace

TEST_F(EngineFault, SilentUnitTimesOutWithoutSpinningResetsTheBusAndRecovers)
{
    Begin();
    StartEngine(true);
    ASSERT_EQ(Control("silent on").rfind("ok", 0), 0u);
    const double cpuBefore = ProcessSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    const double cpu = ProcessSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    auto lines = m_sink.Lines();
    // Five quick retries, then the lost-contact wait of 5 s: a handful of
    // POLLs, each waiting out its time-out, not a busy loop.
    EXPECT_GE(CountPrefix(lines, "<- Timeout"), 6);
    EXPECT_LE(CountPrefix(lines, "<- Timeout"), 60);
    EXPECT_TRUE(m_sink.Has("== BUS RESET =="));
    EXPECT_LT(cpu, 0.2 * wall) << cpu << " s of CPU in " << wall << " s";

    ASSERT_EQ(Control("silent off").rfind("ok", 0), 0u);
    m_sink.Clear();
    // The lost-contact wait polls on; the next answered POLL resumes the loop.
    EXPECT_TRUE(Eventually([this] { return m_sink.Has("<- IDLING") || m_sink.Has("<- DISABLED"); }, 10s));
    EXPECT_TRUE(m_engine->IsRunning());
}

TEST_F(EngineFault, SilentUnitWithoutResetOnErrorNeverResetsTheBus)
{
    Begin();
    StartEngine(false);
    ASSERT_EQ(Control("silent on").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(7s);
    EXPECT_FALSE(m_sink.Has("== BUS RESET =="));
    EXPECT_GE(CountPrefix(m_sink.Lines(), "<- Timeout"), 6);
    ASSERT_EQ(Control("silent off").rfind("ok", 0), 0u);
    m_sink.Clear();
    EXPECT_TRUE(Eventually([this] { return m_sink.Has("<- IDLING") || m_sink.Has("<- DISABLED"); }, 10s));
}

namespace {

// Runs a device sequence on a thread, cuts the power once the unit is in
// the given state, and checks the unit's bookkeeping afterwards.
class PowerCut : public FaultTest {
protected:
    void CutDuring(const std::function<int()>& sequence, std::uint8_t busyState)
    {
        std::atomic<bool> done { false };
        int result = 0;
        std::thread worker([&] {
            result = sequence();
            done = true;
        });
        bool reached = Eventually([&] { return m_simulator->Snapshot().state == busyState || done.load(); }, 10s);
        EXPECT_TRUE(reached);
        EXPECT_FALSE(done.load()) << "the sequence ended before the power cut";
        EXPECT_EQ(Control("power-cut").rfind("ok", 0), 0u);
        // The sequence sees the power-up state and gives up within its bounds.
        EXPECT_TRUE(Eventually([&] { return done.load(); }, 30s)) << "the sequence hangs after the power cut";
        worker.join();
        EXPECT_NE(result, 0) << "a sequence cut by a power cut reported success";
        EXPECT_TRUE(m_simulator->Snapshot().ledger.Balanced());

        // Re-initialising reads the power recovery record into the log.
        m_sink.Clear();
        EXPECT_TRUE(Eventually([this] { return m_device->InitRecycler(0, 18, 0x60000000, 1, 1) == 0; }, 20s));
        auto lines = m_sink.Lines();
        auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("->POWER RECOVERY (", 0) == 0; });
        ASSERT_NE(header, lines.end()) << "no POWER RECOVERY exchange after the power cut";
        ASSERT_NE(std::next(header), lines.end());
        EXPECT_EQ(std::next(header)->rfind("<- POWER CUT", 0), 0u) << *std::next(header);
        SimSnapshot after = m_simulator->Snapshot();
        EXPECT_TRUE(after.ledger.Balanced());
        EXPECT_EQ(after.ledger.initial + after.ledger.inserted,
            after.ledger.CassetteTotal() + after.ledger.dropBox + after.ledger.returned + after.ledger.dispensed
                + after.ledger.inChannel + after.ledger.inDispenser);
    }
};

} // namespace

TEST_F(PowerCut, DuringADispenseNoBillIsLostOrCountedTwice)
{
    SimOptions options = FastUnit();
    options.pace = 0.2; // slow enough to cut in the middle
    Begin(options);
    std::uint8_t counts[25] = {};
    counts[0] = 5;
    counts[1] = 3;
    CutDuring([&] { return m_device->Dispense(counts); }, 0x1D);
}

TEST_F(PowerCut, DuringAnUnloadNoBillIsLostOrCountedTwice)
{
    SimOptions options = FastUnit();
    options.pace = 0.2;
    Begin(options);
    std::uint8_t counts[kCassettes] = {};
    counts[0] = 8;
    CutDuring([&] { return m_device->Unload(counts); }, 0x1E);
}
