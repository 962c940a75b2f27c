#include "ProtocolFixture.h"

#include "link/LocalTime.h"

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace orvex;
using namespace orvex::test;

namespace {

// Runs a test in a fixed time zone and puts the old one back.
class ClockTest : public ProtocolTest {
protected:
    void SetUp() override
    {
        const char* zone = std::getenv("TZ");
        m_hadZone = zone != nullptr;
        m_savedZone = zone ? zone : "";
        setenv("TZ", "UTC0", 1);
        tzset();
        ProtocolTest::SetUp();
    }

    void TearDown() override
    {
        if (m_hadZone)
            setenv("TZ", m_savedZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static std::time_t Utc(int year, int month, int day, int hour, int minute, int second)
    {
        std::tm calendar {};
        calendar.tm_year = year - 1900;
        calendar.tm_mon = month - 1;
        calendar.tm_mday = day;
        calendar.tm_hour = hour;
        calendar.tm_min = minute;
        calendar.tm_sec = second;
        return timegm(&calendar);
    }

    // The unit's clock reply: seconds, minutes, hours, weekday, day, month, year.
    void AnswerClock(Bytes bytes) { Answer(1, std::move(bytes)); }

private:
    bool m_hadZone { false };
    std::string m_savedZone;
};

} // namespace

TEST_F(ClockTest, SetSendsPackedBcdWithSundayAsOne)
{
    Answer(1, { 0x00 });
    ASSERT_TRUE(protocol.SetCyTime(Utc(2009, 3, 7, 14, 5, 9)));
    EXPECT_EQ(OnlyCommand(), Command(1, { 0x62, 0x09, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 }));
    peer.ClearFrames();
    ASSERT_TRUE(protocol.SetCyTime(Utc(2024, 12, 29, 23, 59, 58))); // a Sunday
    EXPECT_EQ(OnlyCommand(), Command(1, { 0x62, 0x58, 0x59, 0x23, 0x01, 0x29, 0x12, 0x24 }));
}

TEST_F(ClockTest, SetUsesTheLocalTime)
{
    setenv("TZ", "XXX-3", 1); // three hours east of UTC
    tzset();
    Answer(1, { 0x00 });
    ASSERT_TRUE(protocol.SetCyTime(Utc(2009, 3, 7, 23, 0, 0)));
    EXPECT_EQ(OnlyCommand(), Command(1, { 0x62, 0x00, 0x00, 0x02, 0x01, 0x08, 0x03, 0x09 }));
}

TEST_F(ClockTest, SetRefusedOrNotAcknowledged)
{
    Answer(1, { 0x30 });
    EXPECT_FALSE(protocol.SetCyTime(Utc(2009, 3, 7, 14, 5, 9)));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    Answer(1, { 0x01 });
    EXPECT_FALSE(protocol.SetCyTime(Utc(2009, 3, 7, 14, 5, 9)));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
}

TEST_F(ClockTest, GetReadsTheCalendarBack)
{
    AnswerClock({ 0x09, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 });
    std::time_t time = 0;
    ASSERT_TRUE(protocol.GetCyTime(time));
    EXPECT_EQ(time, Utc(2009, 3, 7, 14, 5, 9));
    EXPECT_EQ(OnlyCommand(), Command(1, { 0x62 }));
}

TEST_F(ClockTest, GetIgnoresTheWeekday)
{
    AnswerClock({ 0x00, 0x00, 0x00, 0x05, 0x29, 0x02, 0x24 });
    std::time_t time = 0;
    ASSERT_TRUE(protocol.GetCyTime(time));
    EXPECT_EQ(time, Utc(2024, 2, 29, 0, 0, 0));
}

TEST_F(ClockTest, ThirtySecondsIsATimeNotARefusal)
{
    AnswerClock({ 0x30, 0x00, 0x12, 0x01, 0x01, 0x01, 0x10 });
    std::time_t time = 0;
    ASSERT_TRUE(protocol.GetCyTime(time));
    EXPECT_EQ(time, Utc(2010, 1, 1, 12, 0, 30));
    Answer(1, { 0x30 });
    EXPECT_FALSE(protocol.GetCyTime(time));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}

TEST_F(ClockTest, MonthZeroMeansNoValidTime)
{
    AnswerClock({ 0x09, 0x05, 0x14, 0x07, 0x07, 0x00, 0x09 });
    std::time_t time = 1234;
    EXPECT_FALSE(protocol.GetCyTime(time));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(time, 1234);
}

TEST_F(ClockTest, ValuesTheCalendarRejects)
{
    const Bytes rejected[] {
        { 0x0A, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 }, // nibble above 9
        { 0x09, 0x05, 0x14, 0x07, 0x07, 0x13, 0x09 }, // month 13
        { 0x09, 0x05, 0x14, 0x07, 0x32, 0x03, 0x09 }, // day 32
        { 0x09, 0x05, 0x24, 0x07, 0x07, 0x03, 0x09 }, // hour 24
        { 0x09, 0x60, 0x14, 0x07, 0x07, 0x03, 0x09 }, // minute 60
        { 0x09, 0x05, 0x14, 0x07, 0x30, 0x02, 0x09 }, // 30 February
        { 0x09, 0x05, 0x14, 0x07, 0x00, 0x03, 0x09 }, // day 0
        { 0x09, 0x05, 0x14, 0x07, 0x07, 0xA1, 0x09 }, // month nibble above 9
    };
    for (const auto& clock : rejected) {
        AnswerClock(clock);
        std::time_t time = 1234;
        EXPECT_FALSE(protocol.GetCyTime(time)) << HexText(clock.data(), 7);
        EXPECT_EQ(time, 1234);
    }
}

TEST_F(ClockTest, ShortReplyHasNoMonthAndNoTime)
{
    AnswerClock({ 0x09, 0x05, 0x14, 0x07 });
    std::time_t time = 1234;
    EXPECT_FALSE(protocol.GetCyTime(time));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(time, 1234);
}

// With TZ unset the C library rereads the zone on every mktime, rewriting
// shared state; the engine thread reading the unit's clock and the operator's
// thread decoding one must still agree with a lone conversion (and, under
// the thread checker, show no race).
TEST(LocalTime, ConversionsOnTwoThreadsAtOnceAgreeWithALoneOne)
{
    const char* zone = std::getenv("TZ");
    const std::string savedZone = zone ? zone : "";
    unsetenv("TZ");
    std::tm fields {};
    fields.tm_year = 2024 - 1900;
    fields.tm_mon = 6;
    fields.tm_mday = 14;
    fields.tm_hour = 12;
    std::time_t expected = 0;
    ASSERT_TRUE(FromLocalTime(fields, expected));
    std::atomic<int> wrong { 0 };
    auto convert = [&] {
        for (int i = 0; i < 2000; ++i) {
            std::time_t time = 0;
            std::tm local {};
            if (!FromLocalTime(fields, time) || time != expected || !ToLocalTime(time, local) || local.tm_hour != 12)
                ++wrong;
        }
    };
    std::thread engine(convert);
    convert();
    engine.join();
    if (zone)
        setenv("TZ", savedZone.c_str(), 1);
    EXPECT_EQ(wrong.load(), 0);
}
