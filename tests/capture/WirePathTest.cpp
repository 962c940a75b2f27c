// The wire path's parts: the assembler against the protocol engine it
// must agree with, bytes in any split, the capture file there and back
// (and cut short anywhere), JSON of any device bytes, and orvexctl's
// decode and monitor on bad input.
#include "capture/CBusPort.h"
#include "capture/CCaptureSink.h"
#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngReader.h"
#include "capture/CPcapngWriter.h"
#include "capture/CPortTap.h"
#include "capture/JsonLines.h"
#include "capture/WireRecord.h"
#include "cli/COrvexCtl.h"
#include "link/CPtyPair.h"
#include "protocol/ProtocolFixture.h"
#include "sim/CReplayScript.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <poll.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;

namespace {

class CKeep : public CExchangeListener {
public:
    void OnExchange(const WireExchange& exchange) override { exchanges.push_back(exchange); }
    void OnEvent(const WireEvent& event) override { events.push_back(event); }
    std::vector<WireExchange> exchanges;
    std::vector<WireEvent> events;
};

Bytes Frame(std::uint8_t address, Bytes body) { return MakeFrame(address, body); }

std::string TempPath(const char* name)
{
    return "/tmp/orvex-wirepath-" + std::to_string(::getpid()) + "-" + name;
}

} // namespace

// Every way an exchange can end, sent by the engine itself: the exchanges
// its port's bytes assemble into carry the very record the engine kept.
TEST_F(ProtocolTest, AssembledExchangesCarryTheEnginesOwnRecords)
{
    const Bytes poll = Frame(1, { 0x14 });
    Bytes badCheck = Frame(1, { 0x19, 0x00 });
    badCheck.back() ^= 0x5A;
    Bytes truncated = Frame(1, Bytes(15, 0x41));
    truncated.resize(8);
    const std::vector<Bytes> replies { poll, Frame(1, { 0x37, 0x43, 0x59, 0x2D, 0x33, 0x30, 0x30, 0x2D, 0x55, 0x53, 0x44, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B }),
        badCheck, { 'A', 'B', 'C', 'D', 'E', 'F' }, {}, Frame(1, { 0xFF }), Frame(1, { 0x00 }), truncated };
    std::atomic<std::size_t> turn { 0 };
    peer.SetResponder([&](const Bytes& frame) {
        if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
            return PeerReply {};
        return PeerReply { replies[turn++ % replies.size()] };
    });
    CKeep keep;
    CExchangeAssembler assembler(keep);
    CPortTap tap(assembler, 0, BusRole::Controller);
    protocol.GetPort()->SetTap(&tap);
    for (std::size_t index = 0; index < replies.size(); ++index)
        protocol.Poll(1);
    protocol.GetPort()->SetTap(nullptr);
    tap.Finish();

    std::vector<std::vector<std::string>> assembled;
    for (const WireExchange& exchange : keep.exchanges) {
        ASSERT_EQ(exchange.kind, WireExchangeKind::Exchange) << StrayLine(exchange);
        EXPECT_EQ(exchange.name, "POLL");
        EXPECT_EQ(exchange.address, 1);
        assembled.push_back(RecordOf(exchange));
    }
    std::vector<std::vector<std::string>> records;
    for (std::size_t index = 0; index < replies.size(); ++index)
        records.push_back(observer.Records()[index]);
    EXPECT_EQ(assembled, records);
    // Times come from the wall clock, in order.
    for (std::size_t index = 1; index < keep.exchanges.size(); ++index)
        EXPECT_LE(keep.exchanges[index - 1].TimeNs(), keep.exchanges[index].TimeNs());
}

// The same bytes cut anywhere give the same exchanges and stray frames:
// noise, a reply nobody asked for, a wrong check code and a frame cut short
// are shown, never dropped.
TEST(ExchangeAssembler, AnySplitGivesTheSameExchangesAndNothingIsDropped)
{
    Bytes wrong = Frame(1, { 0x14 });
    wrong[4] ^= 0xFF;
    std::vector<std::pair<WireDirection, Bytes>> traffic {
        { WireDirection::FromController, Frame(1, { 0x33 }) }, { WireDirection::FromDevice, Frame(1, { 0x14 }) },
        { WireDirection::FromController, { 0x55, 0xAA } },
        { WireDirection::FromController, Frame(1, { 0x37 }) }, { WireDirection::FromDevice, Frame(1, { 0x37, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22 }) },
        { WireDirection::FromController, Frame(1, { 0x00 }) },
        { WireDirection::FromDevice, Frame(1, { 0x19 }) },
        { WireDirection::FromController, Frame(1, { 0x33 }) }, { WireDirection::FromDevice, wrong },
        { WireDirection::FromController, Frame(1, { 0xFF }) },
        { WireDirection::FromController, Frame(1, { 0x33 }) }, { WireDirection::FromDevice, { 0x02, 0x01, 0x20, 0x14 } },
        { WireDirection::FromController, Frame(1, { 0xFF }) },
        { WireDirection::FromController, Frame(1, { 0x33 }) },
    };
    auto run = [&](auto split, CExchangeAssembler::Settings settings = {}) {
        CKeep keep;
        CExchangeAssembler assembler(keep, settings);
        std::int64_t time = 1000;
        for (const auto& [direction, bytes] : traffic) {
            // The source looked just before these bytes and found the line quiet.
            assembler.Idle(time);
            std::size_t at = 0;
            while (at < bytes.size()) {
                const std::size_t count = std::min(split(), bytes.size() - at);
                assembler.Feed(0, direction, time, std::span(bytes).subspan(at, count));
                at += count;
            }
            time += 100000000;
        }
        assembler.Finish();
        std::vector<std::string> shown;
        for (const WireExchange& exchange : keep.exchanges) {
            if (exchange.kind == WireExchangeKind::Stray) {
                shown.push_back(StrayLine(exchange));
                continue;
            }
            std::string text = exchange.name + ":";
            for (const std::string& line : RecordOf(exchange))
                text += " | " + line;
            shown.push_back(text);
        }
        return shown;
    };
    const std::vector<std::string> whole = run([] { return std::size_t { 1000 }; });
    const std::vector<std::string> expected {
        "POLL: | -> 02 01 06 33 62 34  | <- 02 01 06 14 DF 61 ",
        "-> Noise: 55 AA",
        "IDENTIFICATION: | -> 02 01 06 37 46 72  | <- 02 01 1C 37 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10  | <- 11 12 13 14 15 16 B5 97  | -> 02 01 06 00 7A 37 ",
        "<- Unsolicited reply: 02 01 06 19 3A BA",
        "POLL: | -> 02 01 06 33 62 34  | <- CRC error | -> 02 01 06 FF 02 38 ",
        "POLL: | -> 02 01 06 33 62 34  | <- Data error | -> 02 01 06 FF 02 38 ",
        "POLL: | -> 02 01 06 33 62 34  | <- Timeout",
    };
    EXPECT_EQ(whole, expected);
    // One receiver hearing both sides: the same exchanges, told apart by
    // the frame grammar, the addresses and the command names; the frame cut
    // short ends at the silence before the controller's NAK.
    const auto known = traffic;
    for (auto& [direction, bytes] : traffic)
        direction = WireDirection::Unknown;
    std::vector<std::string> oneLine = run([] { return std::size_t { 1000 }; }, { 50000000, CExchangeAssembler::kNever });
    std::vector<std::string> expectedOnOneLine = expected;
    expectedOnOneLine[1] = "?? Noise: 55 AA";
    EXPECT_EQ(oneLine, expectedOnOneLine);
    traffic = known;
    EXPECT_EQ(run([] { return std::size_t { 1 }; }), whole);
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round)
        EXPECT_EQ(run([&] { return std::size_t { 1 } + random() % 9; }), whole) << "round " << round;
}

// Two taps read late and out of turn (the controller's next command read
// before the unit's reply to the last): the exchanges still pair up.
TEST(ExchangeAssembler, TapsReadOutOfTurnStillPairUp)
{
    CKeep keep;
    CExchangeAssembler assembler(keep, { 50000000, CExchangeAssembler::kNever, true });
    const Bytes command = Frame(1, { 0x33 });
    const Bytes ack = Frame(1, { 0x00 });
    Bytes lateAndCommand = ack;
    lateAndCommand.insert(lateAndCommand.end(), command.begin(), command.end());
    Bytes replies = Frame(1, { 0x14 });
    const Bytes second = Frame(1, { 0x19 });
    replies.insert(replies.end(), second.begin(), second.end());
    assembler.Feed(0, WireDirection::FromController, 1000, command);
    assembler.Idle(2000);
    assembler.Feed(0, WireDirection::FromController, 300000000, lateAndCommand);
    assembler.Feed(1, WireDirection::FromDevice, 300000000, std::span(replies).first(9));
    assembler.Idle(300000001);
    assembler.Feed(1, WireDirection::FromDevice, 300000002, std::span(replies).subspan(9));
    assembler.Feed(0, WireDirection::FromController, 300000002, ack);
    assembler.Finish();
    ASSERT_EQ(keep.exchanges.size(), 2u);
    for (const WireExchange& exchange : keep.exchanges) {
        EXPECT_EQ(exchange.kind, WireExchangeKind::Exchange);
        EXPECT_EQ(exchange.result, kOk);
        ASSERT_EQ(exchange.frames.size(), 3u);
        EXPECT_EQ(exchange.frames[2].bytes, ack);
    }
    EXPECT_EQ(keep.exchanges[1].frames[1].bytes, second);
}

// A capture read back gives every frame as written (direction, ns time,
// bytes, comment); cut short anywhere, it gives what came before the cut
// and names the byte offset; another link type is refused by name.
TEST(CaptureFile, ReadsBackWhatWasWrittenAndStopsCleanlyWhereItIsCut)
{
    const std::string path = TempPath("roundtrip.pcapng");
    std::vector<std::string> ports { "/dev/ttyUSB0", "/dev/ttyUSB1" };
    WireExchange exchange;
    exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 1765189500118204001, Frame(1, { 0x33 }) });
    exchange.frames.push_back({ WireDirection::FromDevice, WireFrameKind::Frame, 1, 1765189500121311999, Frame(1, { 0x14 }) });
    exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 1765189500121330000, Frame(1, { 0x00 }) });
    {
        CPcapngWriter writer;
        ASSERT_TRUE(writer.Open(path, "test")) << writer.Error();
        CCaptureSink sink(writer, ports);
        sink.OnEvent(WireEvent { 0, 1765189500000000000, "opened at 9600,n,8,1" });
        const std::vector<std::string> lines { "->POLL (10:15:00)", "<- IDLING", std::string(132, '-') };
        sink.OnDecoded(exchange, lines);
        writer.Close();
        ASSERT_EQ(writer.Error(), "");
    }
    std::ifstream file(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ::unlink(path.c_str());

    CPcapngReader reader(bytes);
    CapturedPacket packet;
    ASSERT_EQ(reader.Next(packet), CPcapngReader::Step::Packet);
    EXPECT_TRUE(packet.isEvent);
    EXPECT_EQ(packet.comment, "opened at 9600,n,8,1");
    for (std::size_t index = 0; index < 3; ++index) {
        ASSERT_EQ(reader.Next(packet), CPcapngReader::Step::Packet);
        const WireFrame& frame = exchange.frames[index];
        EXPECT_EQ(packet.interface, frame.port);
        EXPECT_EQ(packet.direction, frame.direction);
        EXPECT_EQ(packet.timeNs, frame.timeNs);
        EXPECT_EQ(Bytes(packet.frame.begin(), packet.frame.end()), frame.bytes);
        EXPECT_EQ(packet.comment, index == 2 ? "->POLL (10:15:00)\n<- IDLING" : "");
    }
    EXPECT_EQ(reader.Next(packet), CPcapngReader::Step::End);
    ASSERT_EQ(reader.Interfaces().size(), 2u);
    EXPECT_EQ(reader.Interfaces()[1].name, "/dev/ttyUSB1");

    std::size_t failures = 0;
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
        CPcapngReader shorter(std::span<const std::uint8_t>(bytes).first(cut));
        std::size_t packets = 0;
        CPcapngReader::Step step;
        while ((step = shorter.Next(packet)) == CPcapngReader::Step::Packet)
            ++packets;
        // A cut at a block boundary is a shorter capture; any other cut is named.
        if (step == CPcapngReader::Step::Failed) {
            ++failures;
            EXPECT_LT(shorter.Offset(), cut);
            EXPECT_NE(shorter.Error().find("truncated"), std::string::npos) << shorter.Error();
        }
        EXPECT_LE(packets, 4u);
    }
    EXPECT_GT(failures, bytes.size() / 2);

    Bytes ethernet = bytes;
    // The first interface block follows the section header; its link type is its first field.
    const std::size_t sectionLength = ethernet[4] | ethernet[5] << 8;
    ethernet[sectionLength + 8] = 1;
    ethernet[sectionLength + 9] = 0;
    CPcapngReader refused(ethernet);
    EXPECT_EQ(refused.Next(packet), CPcapngReader::Step::Failed);
    EXPECT_NE(refused.Error().find("link type 1 (Ethernet)"), std::string::npos) << refused.Error();
}

// Device texts of any bytes still make one valid JSON line.
TEST(JsonLines, AnyDeviceBytesGiveOneValidLine)
{
    WireExchange exchange;
    exchange.name = "IDENTIFICATION";
    exchange.address = 1;
    exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 1765189500118204001, Frame(1, { 0x37 }) });
    const std::vector<std::string> lines { std::string("<-  Part Number :\xFF\xC3\x28\"\\\x01", 23), "<- ok" };
    const std::string line = JsonExchangeLine(exchange, "/dev/pts/3", lines);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["time_us"], 1765189500118204);
    EXPECT_EQ(parsed["name"], "IDENTIFICATION");
    EXPECT_EQ(parsed["frames"][0]["hex"], "02 01 06 37 46 72");
    EXPECT_EQ(parsed["frames"][0]["direction"], "controller");
    EXPECT_EQ(parsed["lines"][1], "<- ok");
    EXPECT_EQ(parsed["result_text"], "OK");
    EXPECT_NE(parsed["lines"][0].get<std::string>().find("\"\\\x01"), std::string::npos);
}

// orvexctl decode of a capture cut short prints everything before the cut,
// then names the file and the offset; a monitor whose port disappears says
// so and ends with status 1 after flushing what it heard.
TEST(OrvexCtlWire, DecodeOfACutCaptureAndAMonitorThatLosesItsPort)
{
    const std::string path = TempPath("cut.pcapng");
    {
        CPcapngWriter writer;
        ASSERT_TRUE(writer.Open(path, "test"));
        std::vector<std::string> ports { "/dev/pts/9" };
        CCaptureSink sink(writer, ports);
        WireExchange exchange;
        exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 1000, Frame(1, { 0x33 }) });
        exchange.frames.push_back({ WireDirection::FromDevice, WireFrameKind::Frame, 0, 2000, Frame(1, { 0x14 }) });
        for (int copy = 0; copy < 2; ++copy)
            sink.OnDecoded(exchange, {});
    }
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(std::ifstream(path, std::ios::ate | std::ios::binary).tellg()) - 10), 0);
    std::ostringstream out, err;
    std::istringstream in;
    COrvexCtl ctl(out, err, in);
    EXPECT_EQ(ctl.Run({ "decode", path }), 1);
    ::unlink(path.c_str());
    EXPECT_NE(out.str().find("->POLL ("), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("<- IDLING"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(path + ": truncated block"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(" at byte "), std::string::npos) << err.str();

    CPtyPair line;
    ASSERT_EQ(line.Open(), 0);
    std::ostringstream monitorOut, monitorErr;
    COrvexCtl monitor(monitorOut, monitorErr, in);
    int status = -1;
    std::thread running([&] { status = monitor.Run({ "monitor", "--port", line.SlavePath(), "--seconds", "20" }); });
    const Bytes command = Frame(1, { 0x33 });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::write(line.Master(), command.data(), command.size()), static_cast<ssize_t>(command.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    line.Close();
    running.join();
    EXPECT_EQ(status, 1);
    EXPECT_NE(monitorErr.str().find(": device disconnected"), std::string::npos) << monitorErr.str();
    EXPECT_NE(monitorOut.str().find("->POLL ("), std::string::npos) << monitorOut.str();
    EXPECT_NE(monitorOut.str().find("<- Timeout"), std::string::npos) << monitorOut.str();
}

// The monitor reads a port again after a read that filled its whole chunk,
// and the tty may then be empty: an empty port is no lost port, however it
// is read; only a hang-up is.
TEST(BusPort, AnEmptyTtyIsNoLostPortButAHangUpIs)
{
    CPtyPair line;
    ASSERT_EQ(line.Open(), 0) << line.Error();
    const std::string path = line.SlavePath();
    CBusPort port(path);
    std::string error;
    ASSERT_TRUE(port.Open("9600,n,8,1", error)) << error;
    std::uint8_t chunk[4096];
    EXPECT_EQ(port.ReadAvailable(chunk, sizeof chunk), 0) << port.LossText();

    // Several chunks' worth at once, then silence.
    Bytes burst;
    const Bytes poll = Frame(1, { 0x33 });
    while (burst.size() <= 3 * sizeof chunk)
        burst.insert(burst.end(), poll.begin(), poll.end());
    Bytes heard;
    std::size_t written = 0;
    for (int round = 0; round < 1000 && heard.size() < burst.size(); ++round) {
        const ssize_t put = ::write(line.Master(), burst.data() + written, burst.size() - written);
        if (put > 0)
            written += static_cast<std::size_t>(put);
        pollfd entry { port.Handle(), POLLIN, 0 };
        (void)::poll(&entry, 1, 100);
        const int got = port.ReadAvailable(chunk, sizeof chunk);
        ASSERT_GE(got, 0) << port.LossText();
        heard.insert(heard.end(), chunk, chunk + got);
    }
    EXPECT_EQ(heard, burst);
    EXPECT_EQ(port.ReadAvailable(chunk, sizeof chunk), 0) << port.LossText();

    line.Close();
    EXPECT_EQ(port.ReadAvailable(chunk, sizeof chunk), -1);
    EXPECT_EQ(port.LossText(), path + ": device disconnected");
}

// The shipped dissector marks a wrong check code and filters by address
// and command name as the documentation says.
TEST(Dissector, MarksAWrongCheckCodeAndFiltersByAddressAndCommand)
{
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    folder = folder.substr(0, folder.rfind('/'));
    const std::string dissector = folder + "/../share/orvex.lua";
    if (::access("/usr/bin/tshark", X_OK) != 0 || ::access(dissector.c_str(), R_OK) != 0)
        GTEST_SKIP() << "tshark or the generated dissector is not there";
    const std::string path = TempPath("dissector.pcapng");
    {
        CPcapngWriter writer;
        ASSERT_TRUE(writer.Open(path, "test"));
        std::vector<std::string> ports { "/dev/pts/9" };
        CCaptureSink sink(writer, ports);
        Bytes wrong = Frame(1, { 0x14 });
        wrong.back() ^= 0x01;
        WireExchange exchange;
        exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 1000, Frame(1, { 0x3C, 2, 5 }) });
        exchange.frames.push_back({ WireDirection::FromDevice, WireFrameKind::BadCheckCode, 0, 2000, wrong });
        exchange.frames.push_back({ WireDirection::FromController, WireFrameKind::Frame, 0, 3000, Frame(3, { 0x33 }) });
        sink.OnDecoded(exchange, {});
    }
    auto tshark = [&](const std::string& filter) {
        const std::string out = path + ".txt";
        const std::string command = "/usr/bin/tshark -X lua_script:" + dissector + " -r " + path + " -Y '" + filter
            + "' -T fields -e frame.number > " + out + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream file(out);
        std::string numbers, number;
        while (std::getline(file, number))
            numbers += number + " ";
        ::unlink(out.c_str());
        return numbers;
    };
    EXPECT_EQ(tshark("orvex.check_code.bad"), "2 ");
    EXPECT_EQ(tshark("orvex.address == 1 && orvex.command == \"DISPENSE\""), "1 ");
    EXPECT_EQ(tshark("orvex.address == 3 && orvex.command == \"POLL\""), "3 ");
    ::unlink(path.c_str());
}

// A replay answers in the recording's order, says where the host departs
// from it, and goes on from the next place that has the host's command.
TEST(ReplayScript, AnswersAsRecordedAndSaysWhereTheHostDeparts)
{
    CReplayScript script;
    const Bytes poll = Frame(1, { 0x33 });
    const Bytes identification = Frame(1, { 0x37 });
    script.Add({ poll, Frame(1, { 0x19 }), "POLL" });
    script.Add({ identification, Frame(1, { 0x37, 0x41 }), "IDENTIFICATION" });
    script.Add({ poll, {}, "POLL" });
    script.Add({ poll, Frame(1, { 0x14 }), "POLL" });
    std::string note;
    EXPECT_EQ(script.Answer(poll, note), Frame(1, { 0x19 }));
    EXPECT_EQ(note, "");
    EXPECT_EQ(script.Answer(Frame(1, { 0x00 }), note), Bytes {}) << "the host's ACK asks for nothing";
    EXPECT_EQ(note, "");
    // The recording has IDENTIFICATION next; the host polls instead.
    EXPECT_EQ(script.Answer(poll, note), Bytes {}) << "answered as at exchange 3, which timed out";
    EXPECT_NE(note.find("departs from the recording at exchange 2"), std::string::npos) << note;
    EXPECT_NE(note.find("(IDENTIFICATION)"), std::string::npos) << note;
    EXPECT_NE(note.find("exchange 3"), std::string::npos) << note;
    EXPECT_EQ(script.Answer(poll, note), Frame(1, { 0x14 }));
    EXPECT_EQ(note, "");
    EXPECT_EQ(script.Answer(Frame(1, { 0x30 }), note), Bytes {});
    EXPECT_NE(note.find("no recorded exchange has this command"), std::string::npos) << note;
}
