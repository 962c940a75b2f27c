#include "SimHarness.h"

#include "sim/SimControl.h"
#include "sim/SimFrameParser.h"

#include <random>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

const Bytes kPoll = MakeFrame(1, { 0x33 });
const Bytes kReset = MakeFrame(1, { 0x30 });

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

std::vector<Bytes> Scan(const Bytes& bytes)
{
    return ScanFrames(bytes.data(), bytes.size()).frames;
}

// ---- Frames --------------------------------------------------------------

TEST(SimFrameScan, FindsBackToBackFrames)
{
    EXPECT_EQ(Scan(Join({ kPoll, kReset })), (std::vector<Bytes> { kPoll, kReset }));
}

TEST(SimFrameScan, ResynchronisesAfterNoise)
{
    EXPECT_EQ(Scan(Join({ { 0xFF, 0x00, 0x13, 0x02, 0x02 }, kPoll })), (std::vector<Bytes> { kPoll }));
}

TEST(SimFrameScan, SkipsABadCheckCode)
{
    Bytes damaged = kReset;
    damaged.back() ^= 1;
    SimFrameScan scan = ScanFrames(Join({ damaged, kPoll }).data(), damaged.size() + kPoll.size());
    EXPECT_EQ(scan.frames, (std::vector<Bytes> { kPoll }));
    EXPECT_EQ(scan.consumed, damaged.size() + kPoll.size());
}

TEST(SimFrameScan, SkipsImpossibleLengths)
{
    Bytes tooShort { 0x02, 0x01, 0x05, 0x33, 0x00 };
    Bytes longForm { 0x02, 0x01, 0x00, 0x01, 0x2C, 0x60 };
    EXPECT_EQ(Scan(Join({ tooShort, longForm, kPoll })), (std::vector<Bytes> { kPoll }));
}

TEST(SimFrameScan, WaitsForTheRestOfAFrame)
{
    Bytes half(kReset.begin(), kReset.begin() + 4);
    SimFrameScan scan = ScanFrames(half.data(), half.size());
    EXPECT_TRUE(scan.frames.empty());
    EXPECT_EQ(scan.consumed, 0u);
}

TEST(SimFrameScan, TruncatedFrameDoesNotSwallowTheNextCommand)
{
    // A sync and a length of 0x40 would hide the POLL that follows if the
    // scanner trusted it.
    SimFrameScan scan = ScanFrames(Join({ { 0x02, 0x01, 0x40, 0x11 }, kPoll }).data(), 4 + kPoll.size());
    EXPECT_EQ(scan.frames, (std::vector<Bytes> { kPoll }));
}

TEST(SimFrameParser, AssemblesAFrameDeliveredByteByByte)
{
    CSimFrameParser parser;
    auto now = CSimFrameParser::Clock::now();
    std::vector<Bytes> frames;
    for (std::uint8_t byte : kPoll) {
        auto got = parser.Feed(&byte, 1, now);
        frames.insert(frames.end(), got.begin(), got.end());
        now += 2ms;
    }
    EXPECT_EQ(frames, (std::vector<Bytes> { kPoll }));
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(SimFrameParser, DropsAPartialFrameAfterSilence)
{
    CSimFrameParser parser;
    auto now = CSimFrameParser::Clock::now();
    Bytes start(kReset.begin(), kReset.begin() + 3);
    EXPECT_TRUE(parser.Feed(start.data(), start.size(), now).empty());
    parser.Idle(now + 20ms);
    EXPECT_EQ(parser.Pending(), 3u);
    parser.Idle(now + 60ms);
    EXPECT_EQ(parser.Pending(), 0u);
    auto frames = parser.Feed(kPoll.data(), kPoll.size(), now + 70ms);
    EXPECT_EQ(frames, (std::vector<Bytes> { kPoll }));
}

TEST(SimFrameParser, RandomNoiseNeverYieldsADamagedFrame)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> size(1, 64);
    CSimFrameParser parser;
    auto now = CSimFrameParser::Clock::now();
    std::size_t polls = 0;
    std::size_t found = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes chunk(static_cast<std::size_t>(size(random)));
        for (auto& value : chunk)
            value = static_cast<std::uint8_t>(byte(random) < 20 ? 0x02 : byte(random));
        if (round % 10 == 0) {
            chunk.insert(chunk.end(), kPoll.begin(), kPoll.end());
            ++polls;
        }
        for (const Bytes& frame : parser.Feed(chunk.data(), chunk.size(), now)) {
            ASSERT_GE(frame.size(), 6u);
            ASSERT_EQ(frame.size(), frame[2]);
            ASSERT_TRUE(SimHarness::CheckCodeHolds(frame));
            found += frame == kPoll;
        }
        ASSERT_LE(parser.Pending(), kSimMaxCommandFrame);
        now += (round % 7 == 0) ? 80ms : 1ms;
    }
    // Noise may eat a POLL that follows an unfinished frame; most survive.
    EXPECT_GT(found, polls * 8 / 10);
}

// ---- Control lines -----------------------------------------------------------

TEST(SimControlLine, ReadsEveryCommand)
{
    struct Case {
        const char* line;
        SimControlVerb verb;
    };
    const Case cases[] = {
        { "insert 3", SimControlVerb::Insert }, { "insert-barcode AB12", SimControlVerb::InsertBarcode },
        { "auto 2.5", SimControlVerb::Auto }, { "take", SimControlVerb::Take }, { "jam", SimControlVerb::Jam },
        { "jam stacker", SimControlVerb::Jam }, { "box-remove", SimControlVerb::BoxRemove },
        { "box-insert", SimControlVerb::BoxInsert }, { "power-cut", SimControlVerb::PowerCut },
        { "silent on", SimControlVerb::Silent }, { "corrupt next", SimControlVerb::Corrupt },
        { "garbage next", SimControlVerb::Garbage }, { "nak next", SimControlVerb::Nak },
        { "busy 1", SimControlVerb::Busy }, { "fail 0x43", SimControlVerb::Fail }, { "state", SimControlVerb::State },
        { "  quit  \r\n", SimControlVerb::Quit }, { "help", SimControlVerb::Help },
    };
    for (const Case& entry : cases) {
        SimControlParse parse = ParseControlLine(entry.line);
        EXPECT_TRUE(parse.ok) << entry.line << ": " << parse.error;
        EXPECT_EQ(parse.command.verb, entry.verb) << entry.line;
    }
    EXPECT_EQ(ParseControlLine("insert 17").command.number, 17);
    EXPECT_EQ(ParseControlLine("fail 47 52 01").command.second, 0x52);
    EXPECT_TRUE(ParseControlLine("silent on").command.on);
    EXPECT_DOUBLE_EQ(ParseControlLine("auto 2.5").command.seconds, 2.5);
    EXPECT_TRUE(ParseControlLine("   ").empty);
}

TEST(SimControlLine, ErrorsNameTheWord)
{
    const std::pair<const char*, const char*> cases[] = {
        { "frobnicate", "error: frobnicate: unknown command (try help)" },
        { "insert", "error: insert: missing argument (see help)" },
        { "insert 24", "error: 24: not a bill type (0 to 23)" },
        { "insert -1", "error: -1: not a bill type (0 to 23)" },
        { "insert 2 3", "error: 3: unexpected word after insert" },
        { "silent maybe", "error: maybe: expected on or off" },
        { "corrupt always", "error: always: expected next" },
        { "busy forever", "error: forever: not a number of seconds (0 to 3600)" },
        { "auto 1e9", "error: 1e9: not a number of seconds (0 to 3600)" },
        { "fail 48", "error: 48: not a failure code (hexadecimal 41 to 47)" },
        { "fail 43 01", "error: 01: only failure 47 takes detail bytes" },
        { "jam sideways", "error: sideways: expected acceptor or stacker" },
        { "take now", "error: now: unexpected word after take" },
    };
    for (const auto& [line, error] : cases)
        EXPECT_EQ(ParseControlLine(line).error, error) << line;
}

TEST(SimControlLine, GarbageLinesGiveOneErrorLine)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> size(0, 300);
    for (int round = 0; round < 5000; ++round) {
        std::string line(static_cast<std::size_t>(size(random)), ' ');
        for (char& c : line)
            c = static_cast<char>(byte(random));
        SimControlParse parse = ParseControlLine(line);
        if (parse.ok)
            continue;
        ASSERT_EQ(parse.error.rfind("error: ", 0), 0u);
        ASSERT_EQ(parse.error.find('\n'), std::string::npos);
        for (char c : parse.error)
            ASSERT_TRUE(std::isprint(static_cast<unsigned char>(c))) << "answer must be printable";
    }
}

} // namespace
} // namespace orvex::test
