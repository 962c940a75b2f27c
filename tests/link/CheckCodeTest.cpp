#include "link/CheckCode.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;

namespace {

std::vector<std::uint8_t> Finished(std::vector<std::uint8_t> frame, std::uint8_t address)
{
    FinishFrame(frame.data(), static_cast<int>(frame.size()), address);
    return frame;
}

} // namespace

TEST(CheckCode, MatchesKermitCheckValue)
{
    const char* text = "123456789";
    EXPECT_EQ(CheckCodeOver(reinterpret_cast<const std::uint8_t*>(text), 9), 0x2189);
}

TEST(CheckCode, AcknowledgementFramesForEveryAddress)
{
    struct Case {
        std::uint8_t address;
        std::uint8_t code;
        std::vector<std::uint8_t> expected;
    };
    const Case cases[] {
        { 1, 0x00, { 0x02, 0x01, 0x06, 0x00, 0x7A, 0x37 } },
        { 3, 0x00, { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82 } },
        { 4, 0x00, { 0x02, 0x04, 0x06, 0x00, 0xC7, 0x0E } },
        { 1, 0xFF, { 0x02, 0x01, 0x06, 0xFF, 0x02, 0x38 } },
        { 3, 0xFF, { 0x02, 0x03, 0x06, 0xFF, 0xBA, 0x8D } },
        { 4, 0xFF, { 0x02, 0x04, 0x06, 0xFF, 0xBF, 0x01 } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Finished({ 0x02, 0x00, 0x06, c.code, 0, 0 }, c.address), c.expected)
            << "address " << int(c.address) << " code " << int(c.code);
}

TEST(CheckCode, CommandFramesToTheValidator)
{
    EXPECT_EQ(Finished({ 0x02, 0x00, 0x06, 0x33, 0, 0 }, 3), (std::vector<std::uint8_t> { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 }));
    EXPECT_EQ(Finished({ 0x02, 0x00, 0x06, 0x31, 0, 0 }, 3), (std::vector<std::uint8_t> { 0x02, 0x03, 0x06, 0x31, 0xC8, 0xA2 }));
    EXPECT_EQ(Finished({ 0x02, 0x00, 0x06, 0x30, 0, 0 }, 3), (std::vector<std::uint8_t> { 0x02, 0x03, 0x06, 0x30, 0x41, 0xB3 }));
}

TEST(FrameLength, ShortAndLongForms)
{
    const std::uint8_t shortFrame[] { 0x02, 0x03, 0x1E, 0x00, 0x00 };
    const std::uint8_t longFrame[] { 0x02, 0x03, 0x00, 0x01, 0x2C };
    EXPECT_EQ(FrameLength(shortFrame), 30);
    EXPECT_EQ(FrameLength(longFrame), 300);
}

TEST(CheckCode, LongFrameCoversAllButTheLastTwoBytes)
{
    std::vector<std::uint8_t> frame(300, 0x5A);
    frame[0] = 0x02;
    frame[1] = 0x03;
    frame[2] = 0x00;
    frame[3] = 0x01;
    frame[4] = 0x2C;
    std::uint16_t expected = CheckCodeOver(frame.data(), 298);
    EXPECT_EQ(CheckCodeCompute(frame.data()), expected);
    // The check code's own bytes do not count.
    frame[298] = 0x11;
    frame[299] = 0x22;
    EXPECT_EQ(CheckCodeCompute(frame.data()), expected);
    frame[297] ^= 1;
    EXPECT_NE(CheckCodeCompute(frame.data()), expected);
}

TEST(FinishFrame, NeverWritesPastTheGivenLength)
{
    std::uint8_t frame[8] { 0x02, 0x00, 0x06, 0x33, 0, 0, 0xEE, 0xEE };
    FinishFrame(frame, 6, 3);
    EXPECT_EQ(frame[6], 0xEE);
    EXPECT_EQ(frame[7], 0xEE);
    std::uint8_t tiny[2] { 0x02, 0x00 };
    FinishFrame(tiny, 2, 3); // too short for a check code: only the address
    EXPECT_EQ(tiny[1], 3);
}
