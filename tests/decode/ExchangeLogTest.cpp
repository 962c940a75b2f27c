#include "DecodeTestSupport.h"
#include "decode/CExchangeLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

using namespace orvex;
using namespace orvex::test;

namespace {

using Lines = std::vector<std::string>;

const std::string kSeparator(132, '-');

std::vector<std::string> PollRecord(std::uint8_t status)
{
    return Exchange(MakeFrame(3, { 0x33 }), MakeFrame(3, { status }));
}

// 10:15:00 local time on some day, for a fixed header.
std::time_t QuarterPastTen()
{
    std::tm fields {};
    fields.tm_year = 126;
    fields.tm_mon = 11;
    fields.tm_mday = 24;
    fields.tm_hour = 10;
    fields.tm_min = 15;
    fields.tm_isdst = -1;
    return std::mktime(&fields);
}

struct LogFixture : ::testing::Test {
    CStoringSink sink;
    CExchangeLog log { nullptr, sink, [] { return RussianContext(); } };
    std::time_t when = QuarterPastTen();
};

} // namespace

TEST_F(LogFixture, StartsWithDecodingOnAndRawFramesOff)
{
    EXPECT_EQ(log.GetDecodeFlag(), 1);
    EXPECT_EQ(log.GetSequenceFlag(), 0);
    EXPECT_EQ(log.m_rawFrames.load(), 0);
    EXPECT_EQ(CExchangeLog::kSeparator, kSeparator);
}

TEST_F(LogFixture, PollIsHeaderLineAndSeparator)
{
    log.WriteExchange("POLL", PollRecord(0x14), when);
    EXPECT_EQ(sink.Lines(), (Lines { "->POLL (10:15:00)", "<- IDLING", kSeparator }));
    EXPECT_EQ(sink.Selections(), 1);
}

TEST_F(LogFixture, HeaderUsesTheLocalTimeNow)
{
    std::time_t before = std::time(nullptr);
    log.WriteExchange("POLL", PollRecord(0x14));
    std::string header = sink.Lines().at(0);
    ASSERT_EQ(header.size(), std::string("->POLL (10:15:00)").size());
    EXPECT_EQ(header.substr(0, 8), "->POLL (");
    EXPECT_EQ(header.back(), ')');
    // Within the few seconds around the call.
    std::tm local {};
    bool near = false;
    for (std::time_t when = before - 1; when <= before + 5 && !near; ++when) {
        char text[16];
        localtime_r(&when, &local);
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
        near = header.substr(8, 8) == text;
    }
    EXPECT_TRUE(near) << header;
}

TEST_F(LogFixture, BillEventsSetTheStatusBox)
{
    log.WriteExchange("POLL", Exchange(MakeFrame(3, { 0x33 }), MakeFrame(3, { 0x80, 0x02 })), when);
    EXPECT_EQ(sink.Status(), "<- **************    10 RUS in Escrow position     **************");
}

TEST_F(LogFixture, RequestLinesComeBeforeTheReplyLine)
{
    log.WriteExchange("DISPENSE", Exchange(MakeFrame(1, { 0x3C, 0x02, 0x05, 0x03, 0x01 }), MakeFrame(1, { 0x00 })), when);
    EXPECT_EQ(sink.Lines(), (Lines { "->DISPENSE (10:15:00)", "-> 5 bills of Bill Type 2", "-> 1 bills of Bill Type 3",
                                "<- ACK", kSeparator }));
}

TEST_F(LogFixture, MultiLineRepliesEndWithTheReturnedLine)
{
    log.WriteExchange("GET OPTIONS", ReplyRecord(3, { 0xF0, 0, 0, 0 }), when);
    Lines lines = sink.Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "<-    LED BV INHIBIT option is set");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], kSeparator);
}

TEST_F(LogFixture, NamesOutsideTheTableGiveOneEmptyLine)
{
    log.WriteExchange("GET FUNDS", ReplyRecord(4, { 0x00 }), when);
    EXPECT_EQ(sink.Lines(), (Lines { "->GET FUNDS (10:15:00)", "", kSeparator }));
}

TEST_F(LogFixture, ShortRecordIsNoResponse)
{
    log.WriteExchange("POLL", {}, when);
    log.WriteExchange("POLL", { "-> 02 03 06 33 DA 81 " }, when);
    EXPECT_EQ(sink.Lines(), (Lines { "->POLL (10:15:00)", "<- ... (no response)", kSeparator, "->POLL (10:15:00)",
                                "<- ... (no response)", kSeparator }));
}

TEST_F(LogFixture, FailedExchangeShowsTheFailureLine)
{
    log.WriteExchange("IDENTIFICATION", FailedRecord("Timeout"), when);
    EXPECT_EQ(sink.Lines(), (Lines { "->IDENTIFICATION (10:15:00)", "<- Timeout", kSeparator }));
}

TEST_F(LogFixture, LastExchangeTextIsNameAndRecordLines)
{
    std::vector<std::string> record = PollRecord(0x14);
    log.WriteExchange("POLL", record, when);
    EXPECT_EQ(log.GetLastExchangeText(), "POLL" + record[0] + record[1] + record[2]);
    log.ClearLastExchangeText();
    EXPECT_EQ(log.GetLastExchangeText(), "");
}

TEST_F(LogFixture, OutputLineAddsSelectsSeparatesAndSetsStatus)
{
    log.OutputLine("Initialization: OK");
    EXPECT_EQ(sink.Lines(), (Lines { "Initialization: OK", kSeparator }));
    EXPECT_EQ(sink.Status(), "Initialization: OK");
    EXPECT_EQ(sink.Selections(), 1);
}

TEST(ExchangeLogWithoutEngine, OnCommandDoneWritesNothing)
{
    CStoringSink sink;
    CExchangeLog log(nullptr, sink);
    log.OnCommandDone("POLL");
    EXPECT_TRUE(sink.Lines().empty());
}

TEST_F(LogFixture, BothFlagsClearWriteNothing)
{
    log.SetDecodeFlag(0);
    log.WriteExchange("POLL", PollRecord(0x14), when);
    EXPECT_TRUE(sink.Lines().empty());
    EXPECT_EQ(log.GetLastExchangeText(), "");
}

TEST_F(LogFixture, RawFramesWithoutDecodingShowTheRecord)
{
    log.SetDecodeFlag(0);
    log.SetRawFrames(1);
    std::vector<std::string> record = PollRecord(0x14);
    log.WriteExchange("POLL", record, when);
    EXPECT_EQ(sink.Lines(), (Lines { "->POLL (10:15:00)", record[0], record[1], record[2], kSeparator }));
}

TEST_F(LogFixture, RawFramesWithDecodingShowBothAndNeverSuppress)
{
    log.SetRawFrames(1);
    log.SetSequenceFlag(1);
    std::vector<std::string> record = PollRecord(0x14);
    log.WriteExchange("POLL", record, when);
    log.WriteExchange("POLL", record, when);
    Lines one { "->POLL (10:15:00)", "<- IDLING", record[0], record[1], record[2], kSeparator };
    Lines both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(sink.Lines(), both);
}

TEST_F(LogFixture, SequenceFlagSuppressesRepeatedExchanges)
{
    log.SetSequenceFlag(1);
    for (int repeat = 0; repeat < 3; ++repeat)
        log.WriteExchange("POLL", PollRecord(0x14), when);
    EXPECT_EQ(sink.Lines().size(), 3u);
    log.WriteExchange("POLL", PollRecord(0x19), when);
    EXPECT_EQ(sink.Lines().size(), 6u);
    EXPECT_EQ(sink.Lines()[4], "<- DISABLED");
}

TEST_F(LogFixture, WithoutSequenceFlagRepeatsAreWritten)
{
    for (int repeat = 0; repeat < 3; ++repeat)
        log.WriteExchange("POLL", PollRecord(0x14), when);
    EXPECT_EQ(sink.Lines().size(), 9u);
}

TEST_F(LogFixture, ClearingTheLastExchangeShowsTheNextRepeat)
{
    log.SetSequenceFlag(1);
    log.WriteExchange("POLL", PollRecord(0x14), when);
    log.ClearLastExchangeText();
    log.WriteExchange("POLL", PollRecord(0x14), when);
    EXPECT_EQ(sink.Lines().size(), 6u);
}

namespace {

// Blocks the first line it is given until released, as a stuck window would.
class CBlockingSink : public CStoringSink {
public:
    void AddLine(std::string_view line) override
    {
        std::unique_lock lock(m_mutex);
        if (!m_blocked) {
            m_blocked = true;
            m_entered = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_released; });
        }
        lock.unlock();
        CStoringSink::AddLine(line);
    }
    bool WaitEntered()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_entered; });
    }
    void Release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex; // guards the three flags
    std::condition_variable m_changed;
    bool m_blocked { false };
    bool m_entered { false };
    bool m_released { false };
};

} // namespace

TEST(ExchangeLogLock, AnExchangeThatWaitsTooLongIsWrittenLaterNotDropped)
{
    CBlockingSink sink;
    CExchangeLog log(nullptr, sink);
    std::time_t when = QuarterPastTen();
    std::thread first([&] { log.WriteExchange("POLL", PollRecord(0x14), when); });
    ASSERT_TRUE(sink.WaitEntered());

    auto start = std::chrono::steady_clock::now();
    log.WriteExchange("POLL", PollRecord(0x19), when);
    auto waited = std::chrono::steady_clock::now() - start;
    // The second writer gives up waiting after about a second and leaves
    // its exchange to the holder.
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(4));

    sink.Release();
    first.join();
    EXPECT_EQ(sink.Lines(), (Lines { "->POLL (10:15:00)", "<- IDLING", kSeparator, "->POLL (10:15:00)", "<- DISABLED",
                                kSeparator }));
}

TEST(ExchangeLogLock, TwoThreadsNeverInterleaveExchanges)
{
    CStoringSink sink;
    CExchangeLog log(nullptr, sink);
    std::time_t when = QuarterPastTen();
    auto writer = [&](std::uint8_t status) {
        for (int repeat = 0; repeat < 200; ++repeat)
            log.WriteExchange("POLL", PollRecord(status), when);
    };
    std::thread first(writer, 0x14);
    std::thread second(writer, 0x19);
    for (int repeat = 0; repeat < 200; ++repeat)
        log.OutputLine("free line");
    first.join();
    second.join();

    Lines lines = sink.Lines();
    int exchanges = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (lines[index] != "->POLL (10:15:00)")
            continue;
        ++exchanges;
        // A free-standing line may come between, never another exchange.
        std::size_t next = index + 1;
        while (next < lines.size() && (lines[next] == "free line" || lines[next] == kSeparator))
            ++next;
        ASSERT_LT(next, lines.size());
        EXPECT_TRUE(lines[next] == "<- IDLING" || lines[next] == "<- DISABLED");
    }
    EXPECT_EQ(exchanges, 400);
}
