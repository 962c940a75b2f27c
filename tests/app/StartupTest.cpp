#include "app/CApplication.h"
#include "app/CStartupObserver.h"
#include "app/CommandLine.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <memory>

using namespace orvex;
using namespace orvex::test;

// ---- Command line --------------------------------------------------------------

TEST(CommandLineWords, SetAndEdActOnlyInFullAndUpperCase)
{
    EXPECT_TRUE(CommandLine::Parse("SET").setMode);
    EXPECT_FALSE(CommandLine::Parse("set").setMode);
    EXPECT_FALSE(CommandLine::Parse("SETX").setMode);
    EXPECT_TRUE(CommandLine::Parse("TEST ED").escrowOff);
    EXPECT_FALSE(CommandLine::Parse("Ed").escrowOff);
}

TEST(CommandLineWords, WordsPastTheSixthAreIgnored)
{
    const CommandLine line = CommandLine::Parse("a b  c\td e f SET");
    EXPECT_EQ(line.words.size(), 6u);
    EXPECT_FALSE(line.setMode);
    EXPECT_EQ(line.words[3], "d");
}

TEST(CommandLineWords, LongWordsAreCutAt1023)
{
    const CommandLine line = CommandLine::Parse(std::vector<std::string> { std::string(5000, 'x'), "SET" });
    ASSERT_EQ(line.words.size(), 2u);
    EXPECT_EQ(line.words[0].size(), 1023u);
    EXPECT_TRUE(line.setMode);
    // A word that is SET only after the cut does not act.
    EXPECT_FALSE(CommandLine::Parse("SET" + std::string(1100, ' ')).words.empty());
    EXPECT_FALSE(CommandLine::Parse(std::string(1023, 'S') + "SET").setMode);
}

TEST(CommandLineWords, EdSetsTheEscrowMaskToZero)
{
    CApplication application(CPortTable(std::vector<std::string> {}));
    application.ApplyCommandLine(CommandLine::Parse("ED"));
    EXPECT_EQ(application.Engine().GetEscrowMask(), 0u);
}

TEST(Version, TextHasFourParts)
{
    const std::string text = CApplication::VersionText();
    int major = -1, minor = -1, patch = -1, build = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d.%d.%d build %d", &major, &minor, &patch, &build), 4) << text;
    EXPECT_GE(build, 0);
}

// ---- Search ----------------------------------------------------------------------

namespace {

class TextRecorder : public CStartupObserver {
public:
    void OnSearchText(const std::string& text) override { texts.push_back("text: " + text); }
    void OnMessage(const std::string& text) override { texts.push_back("message: " + text); }
    void OnSearchWindow(bool shown) override { texts.push_back(shown ? "shown" : "hidden"); }
    std::vector<std::string> texts;
};

// A peer that answers POLL at `address` with idling, only while the
// host's serial mode is `mode` (a pty has no baud rate of its own).
PtyPeer::Responder AnswersAt(std::uint8_t address, std::string mode, const CKRMSProtocol& host)
{
    return [address, mode, &host](const Bytes& frame) {
        PeerReply reply;
        if (frame.size() >= 4 && frame[1] == address && frame[3] == 0x33
            && host.GetSerialMode() == mode)
            reply.bytes = MakeFrame(address, { 0x14, 0x00, 0x00 });
        return reply;
    };
}

} // namespace

TEST(PortSearch, FindsAValidatorAnsweringOnlyAt9600OnTheThirdPort)
{
    PtyPeer first, second, third;
    CApplication application(CPortTable({ first.SlavePath(), second.SlavePath(), third.SlavePath() }));
    third.SetResponder(AnswersAt(3, "9600,n,8,1", application.Protocol()));
    application.Device().SetIntercommandInterval(0);
    TextRecorder recorder;
    EXPECT_EQ(application.SearchPorts(recorder), 2);
    EXPECT_EQ(application.Engine().GetDeviceAddress(), 3);
    EXPECT_EQ(application.Protocol().GetSerialMode(), "9600,n,8,1");
    EXPECT_EQ(recorder.texts, (std::vector<std::string> { "text: Bill Validator found on COM3" }));
    // Address 1 then 3 at 19200, then 1 then 3 at 9600.
    const auto frames = third.Commands();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0][1], 1);
    EXPECT_EQ(frames[1][1], 3);
    EXPECT_EQ(frames[2][1], 1);
    EXPECT_EQ(frames[3][1], 3);
}

TEST(PortSearch, CyclorUnitIsPreferredOverAValidator)
{
    PtyPeer peer;
    peer.SetResponder([](const Bytes& frame) {
        PeerReply reply;
        if (frame.size() >= 4 && frame[3] == 0x33)
            reply.bytes = MakeFrame(frame[1], { 0x14, 0x00, 0x00 });
        return reply;
    });
    CApplication application(CPortTable({ peer.SlavePath() }));
    TextRecorder recorder;
    EXPECT_EQ(application.SearchPorts(recorder), 0);
    EXPECT_EQ(application.Engine().GetDeviceAddress(), 1);
    EXPECT_EQ(application.Protocol().GetSerialMode(), "19200,n,8,1");
    EXPECT_EQ(recorder.texts, (std::vector<std::string> { "text: Cyclor Unit found on COM1" }));
    EXPECT_EQ(peer.Commands().size(), 1u);
}

TEST(PortSearch, PortThatCannotOpenIsSkippedAtBothSpeeds)
{
    PtyPeer peer;
    CApplication application(CPortTable({ "/dev/orvex-no-such-port", peer.SlavePath() }));
    peer.SetResponder(AnswersAt(3, "9600,n,8,1", application.Protocol()));
    TextRecorder recorder;
    EXPECT_EQ(application.SearchPorts(recorder), 1);
    EXPECT_EQ(recorder.texts.back(), "text: Bill Validator found on COM2");
}

TEST(Startup, NoDeviceAnywhereSaysSoAndOpensTheWindow)
{
    CApplication application(CPortTable(std::vector<std::string> { "/dev/orvex-no-such-port" }));
    TextRecorder recorder;
    EXPECT_EQ(application.Startup({}, recorder), CApplication::StartupResult::OpenMainWindow);
    EXPECT_EQ(application.GetFoundPort(), CApplication::kNoPort);
    EXPECT_EQ(recorder.texts,
        (std::vector<std::string> { "shown", "text: Searching for Devices...", "text: Searching for Card Reader...",
            "text: Card Reader not found...", "message: No device found. You have to set COM port manualy.",
            "hidden" }));
}

TEST(Startup, CardReaderIsFoundOnTheFirstPorts)
{
    PtyPeer peer;
    peer.SetResponder([](const Bytes& frame) {
        PeerReply reply;
        if (frame.size() >= 4 && frame[1] == 4 && frame[3] == 0x33)
            reply.bytes = MakeFrame(4, { 0x01, 0x00 });
        return reply;
    });
    CApplication application(CPortTable({ peer.SlavePath() }));
    TextRecorder recorder;
    EXPECT_EQ(application.SearchCardReader(recorder), 0);
    EXPECT_EQ(recorder.texts.back(), "text: Card Reader found...");
}
