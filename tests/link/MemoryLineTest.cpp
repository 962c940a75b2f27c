// The memory line under a real port: bursts and silences read as a tty's
// bytes and time-outs would, without waiting for deadlines when nothing
// can come; a peer answers within the write; faults keep their cause.
#include "link/CCOMPort.h"
#include "link/CMemoryLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace orvex;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A port on one memory line; `line` is the line under slot 0 once open.
struct MemoryPort {
    CMemoryLine* line { nullptr };
    CCOMPort port { CPortTable({ "memory" }), [this](const std::string&) {
        auto made = std::make_unique<CMemoryLine>();
        line = made.get();
        return made;
    } };
};

} // namespace

TEST(MemoryLine, BurstsAndSilencesReadLikeALineAndNothingWaitsForADeadline)
{
    MemoryPort memory;
    // An hour's time-out: a read that waited for it would never end.
    ASSERT_NE(memory.port.Open(0, "9600,n,8,1", 3600 * 1000), 0);
    EXPECT_EQ(memory.port.GetPortError(1), ENOENT) << "a slot without a path opened";
    CMemoryLine& line = *memory.line;

    line.Arrive(Bytes { 1, 2, 3 });
    line.Arrive(Bytes { 4 });
    line.Silence();
    line.Arrive(Bytes { 5, 6 });
    std::uint8_t buffer[8] {};
    EXPECT_NE(memory.port.Read(buffer, 2), 0);
    // The rest of the burst, then the silence: short, a time-out.
    EXPECT_EQ(memory.port.Read(buffer, 3), 0);
    EXPECT_EQ(memory.port.GetLastReadCount(), 2);
    EXPECT_EQ(buffer[1], 4);
    EXPECT_EQ(memory.port.GetLastFault().fault, LineFault::Timeout);
    EXPECT_EQ(memory.port.DescribeLastFault(), "memory: timeout");
    // After the silence, the next burst; then nothing more can come.
    EXPECT_NE(memory.port.Read(buffer, 2), 0);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(memory.port.Read(buffer, 1), 0);
    EXPECT_EQ(memory.port.GetLastReadCount(), 0);

    // A purge throws away what was queued.
    line.Arrive(Bytes { 7 });
    memory.port.Purge(FlushDirection::Input);
    EXPECT_EQ(memory.port.Read(buffer, 1), 0);
}

TEST(MemoryLine, APeerAnswersWithinTheWriteAndWriteFaultsKeepTheirCause)
{
    MemoryPort memory;
    ASSERT_NE(memory.port.Open(0, "9600,n,8,1", 50), 0);
    CMemoryLine& line = *memory.line;

    const Bytes command { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };
    EXPECT_NE(memory.port.Write(command.data(), 6), 0);
    EXPECT_EQ(line.Writes(), std::vector<Bytes> { command });

    std::vector<Bytes> seen;
    line.SetPeer([&](const std::uint8_t* bytes, int count) {
        seen.emplace_back(bytes, bytes + count);
        line.Arrive(Bytes { 0x02, 0x03, 0x06, 0x14 });
    });
    line.ClearWrites();
    EXPECT_NE(memory.port.Write(command.data(), 6), 0);
    std::uint8_t reply[4] {};
    EXPECT_NE(memory.port.Read(reply, 4), 0);
    EXPECT_EQ(reply[3], 0x14);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_TRUE(line.Writes().empty()) << "the peer saw the write; the line need not keep it";

    line.SetWriteFault(LineFault::DeviceRemoved);
    EXPECT_EQ(memory.port.Write(command.data(), 6), 0);
    EXPECT_EQ(memory.port.DescribeLastFault(), "memory: device disconnected");
    EXPECT_EQ(seen.size(), 2u) << "the bytes of a failed write were not seen";
}

TEST(MemoryLine, FromAnotherThreadAReadWaitsForBytesUntilAHangUp)
{
    CMemoryLine line(MemoryArrival::AnyThread);
    ASSERT_EQ(line.Open("memory"), 0);
    std::thread far([&line] {
        std::this_thread::sleep_for(20ms);
        line.Arrive(Bytes { 9, 8 });
        std::this_thread::sleep_for(20ms);
        line.HangUp();
    });
    std::uint8_t buffer[4] {};
    // Waits for the bytes; then, with nothing more before the hang-up, the
    // read ends with it instead of at the deadline.
    LineResult result = line.ReadAll(buffer, 4, std::chrono::steady_clock::now() + 1h);
    far.join();
    EXPECT_EQ(result.fault, LineFault::HungUp);
    EXPECT_EQ(result.transferred, 2);
    EXPECT_EQ(buffer[1], 8);
    EXPECT_EQ(line.WriteAll(buffer, 1, std::chrono::steady_clock::now()).fault, LineFault::HungUp);
    // A read that finds nothing queued times out at its deadline.
    CMemoryLine quiet(MemoryArrival::AnyThread);
    ASSERT_EQ(quiet.Open("memory"), 0);
    EXPECT_EQ(quiet.ReadAll(buffer, 1, std::chrono::steady_clock::now() + 10ms).fault, LineFault::Timeout);
}
