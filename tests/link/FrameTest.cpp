#include "link/Frame.h"
#include "link/WireVocabulary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace orvex;

namespace {

using Bytes = std::vector<std::uint8_t>;

FrameVerdict Judge(const Bytes& bytes, int& length)
{
    return JudgeFrame(std::span<const std::uint8_t>(bytes.data(), bytes.size()), length);
}

} // namespace

TEST(JudgeFrame, VerdictsOnWireData)
{
    struct Case {
        Bytes bytes;
        FrameVerdict verdict;
        int length;
    };
    const Case cases[] {
        { { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 }, FrameVerdict::Whole, 6 },
        // Bytes after a whole frame belong to the next one.
        { { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82, 0x02 }, FrameVerdict::Whole, 6 },
        { { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x80 }, FrameVerdict::BadCheckCode, 6 },
        { { 0x03, 0x03, 0x06, 0x33, 0xDA, 0x81 }, FrameVerdict::BadSync, 0 },
        { { 0x02, 0x03, 0x05, 0x33, 0xDA }, FrameVerdict::BadLength, 5 },
        { { 0x02, 0x03, 0x01 }, FrameVerdict::BadLength, 1 },
        // Long form: 0 in byte 2, the length in bytes 3 and 4.
        { { 0x02, 0x03, 0x00, 0x00, 0x06, 0x00 }, FrameVerdict::BadLength, 6 },
        { { 0x02, 0x03, 0x00, 0x00 }, FrameVerdict::NeedMore, 0 },
        { { 0x02, 0x03, 0x00, 0x01, 0x2C }, FrameVerdict::NeedMore, 300 },
        { {}, FrameVerdict::NeedMore, 0 },
        { { 0x02, 0x03 }, FrameVerdict::NeedMore, 0 },
        { { 0x02, 0x03, 0x06, 0x33, 0xDA }, FrameVerdict::NeedMore, 6 },
    };
    for (const Case& c : cases) {
        int length = -1;
        EXPECT_EQ(Judge(c.bytes, length), c.verdict) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(length, c.length) << ::testing::PrintToString(c.bytes);
    }
}

TEST(BuildFrame, HostFramesAndBothForms)
{
    EXPECT_EQ(BuildAck(3), (Bytes { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82 }));
    EXPECT_EQ(BuildNak(1), (Bytes { 0x02, 0x01, 0x06, 0xFF, 0x02, 0x38 }));
    EXPECT_EQ(BuildCommandFrame(wire::kValidatorAddress, wire::kPoll), (Bytes { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 }));
    EXPECT_EQ(BuildCommandFrame(wire::kValidatorAddress, wire::kReset), (Bytes { 0x02, 0x03, 0x06, 0x30, 0x41, 0xB3 }));

    // 250 body bytes are the longest short frame; one more takes the long form.
    for (std::size_t body : { std::size_t { 1 }, std::size_t { 250 }, std::size_t { 251 }, std::size_t { 400 } }) {
        Bytes data(body, 0x5A);
        Bytes frame = BuildFrame(wire::kCyclorAddress, data);
        bool longForm = body > 250;
        ASSERT_EQ(frame.size(), body + (longForm ? 7 : 5)) << body;
        EXPECT_EQ(frame[2] == 0, longForm) << body;
        EXPECT_EQ(frame[1], wire::kCyclorAddress);
        EXPECT_EQ(frame[longForm ? 5 : 3], 0x5A);
        int length = 0;
        EXPECT_EQ(JudgeFrame(frame, length), FrameVerdict::Whole) << body;
        EXPECT_EQ(length, static_cast<int>(frame.size()));
        // Every shorter prefix waits for more; any changed byte after the
        // header fails the check code.
        for (std::size_t cut = 1; cut < frame.size(); cut += 37)
            EXPECT_EQ(JudgeFrame(std::span(frame).first(cut), length), FrameVerdict::NeedMore) << body << " cut " << cut;
        frame[frame.size() / 2 + 2] ^= 0x01;
        EXPECT_EQ(JudgeFrame(frame, length), FrameVerdict::BadCheckCode) << body;
    }
}

TEST(CommandLogName, EveryRowNamesItsOwnFrame)
{
    std::set<std::string> names;
    for (const wire::CommandName& row : wire::CommandNames()) {
        Bytes data;
        if (row.subCommand != wire::kNoSubCommand)
            data.push_back(static_cast<std::uint8_t>(row.subCommand));
        if (row.data == wire::CommandData::Some)
            data.push_back(0x01);
        std::uint8_t address = row.address == wire::kAnyAddress ? wire::kValidatorAddress : row.address;
        Bytes frame = BuildCommandFrame(address, row.code, data);
        EXPECT_EQ(wire::CommandLogName(frame), row.logName) << ::testing::PrintToString(frame);
        names.insert(std::string(row.logName));
    }
    // The command set's names, each reachable from the wire (RESET and
    // VEND/REQUEST have two rows each).
    EXPECT_EQ(names.size(), 50u);
}

TEST(CommandLogName, SharedCodesAndUnknownFrames)
{
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x04, 0x06, 0x31, 0x00, 0x00 }), "RESET");
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x03, 0x06, 0x31, 0xC8, 0xA2 }), "STATUS REQUEST");
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x04, 0x06, 0x33, 0x00, 0x00 }), "POLL CR");
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x01, 0x06, 0x33, 0x00, 0x00 }), "POLL");
    // A command the reader has no row for keeps its ordinary name there.
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x04, 0x06, 0x37, 0x00, 0x00 }), "IDENTIFICATION");
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x01, 0x06, 0x62, 0x00, 0x00 }), "GET CY TIME");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(1, 0x62, Bytes(7, 0x11))), "SET CY TIME");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(3, 0xF0, Bytes { 0x42, 0x01 })), "DIAGNOSTIC");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(3, 0xF0, Bytes { 0x12, 0x02 })), "DIAGNOSTIC TEST CASSETTE");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(4, 0x13, Bytes { 0x02 })), "VEND/REQUEST");
    // No name: the reader's set-up, a session sub-command nobody defines,
    // reader codes sent elsewhere, unknown codes, frames too short to hold a code.
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(4, 0x11, Bytes { 1, 'E', 'U', 'R' })), "");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(4, 0x13, Bytes { 0x7E })), "");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(3, 0x15)), "");
    EXPECT_EQ(wire::CommandLogName(BuildCommandFrame(3, 0x99)), "");
    EXPECT_EQ(wire::CommandLogName(Bytes { 0x02, 0x03, 0x06 }), "");
    EXPECT_EQ(wire::CommandLogName(Bytes {}), "");
    // The long form names from byte 5.
    Bytes longBody(300, 0);
    longBody[0] = 0x60;
    EXPECT_EQ(wire::CommandLogName(BuildFrame(3, longBody)), "REQUEST STATISTICS");
}
