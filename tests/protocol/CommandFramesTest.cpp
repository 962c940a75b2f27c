#include "ProtocolFixture.h"

#include <functional>

using namespace orvex;
using namespace orvex::test;

namespace {

// One operation of the command set: how to call it, what it must write and
// the log name it must give the observer (empty: none).
struct CommandCase {
    const char* name;
    std::function<bool(CKRMSProtocol&)> call;
    std::uint8_t address;
    Bytes codeAndParameters;
};

struct Outputs {
    std::string text;
    std::uint32_t number { 0 };
    std::uint8_t byte { 0 };
    std::uint8_t second { 0 };
    int count { 0 };
    std::time_t time { 0 };
    double total { 0.0 };
    std::uint8_t buffer[64] {};
    BillTypeEntry bills[kBillTypes];
    CassetteRecord funds[kFundsEntries];
};

std::vector<CommandCase> AllCommands(Outputs& out)
{
    static const std::uint8_t counts[25] { 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7 };
    static const std::uint8_t pairs[6] { 3, 1, 4, 0xFF, 5, 9 };
    static const std::uint8_t diagnosticData[2] { 0xAA, 0x55 };
    return {
        { "RESET", [](auto& p) { return p.Reset(3); }, 3, { 0x30 } },
        { "RESET", [](auto& p) { return p.Reset(4); }, 4, { 0x31 } },
        { "RESET", [](auto& p) { return p.Reset(1); }, 1, { 0x30 } },
        { "STATUS REQUEST", [](auto& p) { return p.StatusRequest(3); }, 3, { 0x31 } },
        { "SET SECURITY", [](auto& p) { return p.SetSecurity(0x123456, 3); }, 3, { 0x32, 0x12, 0x34, 0x56 } },
        { "POLL", [](auto& p) { return p.Poll(1); }, 1, { 0x33 } },
        { "BILL TYPE", [](auto& p) { return p.BillType(0xFFFF00, 0x00FF0F, 3); }, 3, { 0x34, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x0F } },
        { "PACK", [](auto& p) { return p.Pack(3); }, 3, { 0x35 } },
        { "RETURN", [](auto& p) { return p.Return(3); }, 3, { 0x36 } },
        { "IDENTIFICATION", [](auto& p) { return p.Identification(3); }, 3, { 0x37 } },
        { "HOLD", [](auto& p) { return p.Hold(3); }, 3, { 0x38 } },
        { "SET BAR PARAMETERS", [](auto& p) { return p.SetBarParameters(0x01, 0x0A, 3); }, 3, { 0x39, 0x01, 0x0A } },
        { "EXTRACT BARCODE", [&](auto& p) { return p.ExtractBarcode(out.text, 3); }, 3, { 0x3A } },
        { "GET CASSETTE STATUS", [](auto& p) { return p.GetCassetteStatus(); }, 1, { 0x3B } },
        { "DISPENSE", [](auto& p) { return p.Dispense(counts); }, 1, { 0x3C, 1, 2, 24, 7 } },
        { "DISPENSE", [](auto& p) { return p.DispensePairs(pairs); }, 1, { 0x3C, 3, 1, 5, 9 } },
        { "UNLOAD", [](auto& p) { return p.Unload(2, 40); }, 1, { 0x3D, 3, 40 } },
        { "EXTENDED IDENTIFICATION", [](auto& p) { return p.ExtendedIdentification(3); }, 3, { 0x3E } },
        { "SET CASSETTE TYPE", [](auto& p) { return p.SetCassetteType(0, 252, 24); }, 1, { 0x40, 1, 0x38 } },
        { "SET CASSETTE TYPE", [](auto& p) { return p.SetCassetteType(1, 0, 5); }, 1, { 0x40, 2, 0x85 } },
        { "SET CASSETTE TYPE", [](auto& p) { return p.SetCassetteType(2, 253, 7); }, 1, { 0x40, 3, 0x5F } },
        { "BILL TABLE", [&](auto& p) { return p.BillTable(out.bills, 3); }, 3, { 0x41 } },
        { "GET CASSETTE FEEDING LEVEL", [&](auto& p) { return p.GetCassetteFeedingLevel(out.buffer, 64); }, 1, { 0x43 } },
        { "SET CASSETTE FEEDING LEVEL", [](auto& p) { return p.SetCassetteFeedingLevel(0, 20, false); }, 1, { 0x44, 1, 20 } },
        { "SET CASSETTE FEEDING LEVEL", [](auto& p) { return p.SetCassetteFeedingLevel(2, 20, true); }, 1, { 0x44, 3, 0xFF } },
        { "CRC32", [&](auto& p) { return p.Crc32(out.number, 3); }, 3, { 0x51 } },
        { "MODULE IDENTIFICATION", [](auto& p) { return p.ModuleIdentification(3); }, 3, { 0x53 } },
        { "VALIDATION SOFTWARE IDENTIFICATION", [](auto& p) { return p.ValidationSoftwareIdentification(3); }, 3, { 0x54 } },
        { "REQUEST STATISTICS", [&](auto& p) { return p.RequestStatistics(out.buffer, 64, 3); }, 3, { 0x60 } },
        { "GET CY TIME", [&](auto& p) { return p.GetCyTime(out.time); }, 1, { 0x62 } },
        { "POWER RECOVERY", [&](auto& p) { return p.PowerRecovery(out.byte, out.buffer, 64, out.count); }, 1, { 0x66 } },
        { "EMPTY DISPENSER", [](auto& p) { return p.EmptyDispenser(); }, 1, { 0x67 } },
        { "SET OPTIONS", [](auto& p) { return p.SetOptions(0x01020304, 3); }, 3, { 0x68, 1, 2, 3, 4 } },
        { "GET OPTIONS", [&](auto& p) { return p.GetOptions(out.number, 3); }, 3, { 0x69 } },
        { "EXTENDED CASSETTE STATUS REQUEST", [&](auto& p) { return p.ExtendedCassetteStatus(2, out.buffer, 64, out.count); }, 1, { 0x70, 2 } },
        { "DIAGNOSTIC STATUS REQUEST", [&](auto& p) { return p.DiagnosticStatusRequest(out.byte, out.buffer, 64, out.count, 3); }, 3, { 0xF0, 0x00 } },
        { "DIAGNOSTIC IDENTIFICATION REQUEST", [](auto& p) { return p.DiagnosticIdentificationRequest(3); }, 3, { 0xF0, 0x01 } },
        { "DIAGNOSTIC SUPPORTED FUNCTIONS", [&](auto& p) { return p.DiagnosticSupportedFunctions(out.buffer, 64, out.count, 3); }, 3, { 0xF0, 0x02 } },
        { "DIAGNOSTIC SENSOR STATE", [](auto& p) { return p.DiagnosticSensorState(3); }, 3, { 0xF0, 0x10 } },
        { "DIAGNOSTIC TEST VALIDATOR", [](auto& p) { return p.DiagnosticTestValidator(3); }, 3, { 0xF0, 0x11 } },
        { "DIAGNOSTIC TEST CASSETTE", [](auto& p) { return p.DiagnosticTestCassette(2, 1); }, 1, { 0xF0, 0x12, 2 } },
        { "DIAGNOSTIC TEST DISPENSER", [](auto& p) { return p.DiagnosticTestDispenser(1); }, 1, { 0xF0, 0x13 } },
        { "DIAGNOSTIC TEST SWITCH", [](auto& p) { return p.DiagnosticTestSwitch(3); }, 3, { 0xF0, 0x14 } },
        { "DIAGNOSTIC TEST CHASSIS", [](auto& p) { return p.DiagnosticTestChassis(3); }, 3, { 0xF0, 0x15 } },
        { "DIAGNOSTIC TEST COMMUNICATION", [](auto& p) { return p.DiagnosticTestCommunication(3); }, 3, { 0xF0, 0x16 } },
        { "DIAGNOSTIC", [](auto& p) { return p.Diagnostic(0x20, diagnosticData, 2, 3); }, 3, { 0xF0, 0x20, 0xAA, 0x55 } },
        { "DIAGNOSTIC", [](auto& p) { return p.Diagnostic(0x21, nullptr, 0, 3); }, 3, { 0xF0, 0x21 } },
        { "", [&](auto& p) { return p.CardReaderSetup(2, "EUR", out.byte, out.second); }, 4, { 0x11, 2, 'E', 'U', 'R' } },
        { "", [&](auto& p) { return p.CardReaderSetup(1, "X", out.byte, out.second); }, 4, { 0x11, 1, 'X', 0, 0 } },
        { "GET FUNDS", [&](auto& p) { return p.GetFunds(out.funds, out.byte); }, 4, { 0x13, 0x00 } },
        { "VEND/REQUEST", [&](auto& p) { out.total = 0.5; return p.VendRequest(3, 1.25, out.total, nullptr, false); }, 4,
            { 0x13, 0x01, 3, 0, 0, 0, 125, 0, 0, 0, 175 } },
        { "VEND/REQUEST", [&](auto& p) { out.total = 0; return p.VendRequest(0, 2, out.total, nullptr, true); }, 4,
            { 0x13, 0x02, 0, 0, 0, 0, 2, 0, 0, 0, 2 } },
        { "VEND/CANCEL", [&](auto& p) { return p.VendCancel(out.byte); }, 4, { 0x13, 0x03 } },
        { "END SESSION", [](auto& p) { return p.EndSession(); }, 4, { 0x13, 0x04 } },
        { "START SESSION", [](auto& p) { return p.StartSession(); }, 4, { 0x13, 0x10 } },
        { "ENABLE CR", [](auto& p) { return p.EnableCR(1); }, 4, { 0x14, 1 } },
        { "ENABLE CR", [](auto& p) { return p.EnableCR(0); }, 4, { 0x14, 0 } },
        { "CR IDENTIFICATION", [](auto& p) { return p.CRIdentification(); }, 4, { 0x15 } },
        { "POLL CR", [](auto& p) { return p.PollCR(); }, 4, { 0x33 } },
    };
}

} // namespace

TEST_F(ProtocolTest, EveryCommandWritesItsFrameAndLogName)
{
    Outputs out;
    for (auto& command : AllCommands(out)) {
        SCOPED_TRACE(std::string(command.name) + " " + HexText(command.codeAndParameters.data(), static_cast<int>(command.codeAndParameters.size())));
        // The answer comes from whoever was asked.
        peer.SetResponder([](const Bytes& frame) {
            if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
                return PeerReply {};
            return PeerReply { MakeFrame(frame[1], { 0x00 }) };
        });
        peer.ClearFrames();
        auto names = observer.Names().size();
        command.call(protocol);
        EXPECT_EQ(OnlyCommand(), Command(command.address, command.codeAndParameters));
        auto after = observer.Names();
        if (*command.name) {
            ASSERT_EQ(after.size(), names + 1);
            EXPECT_EQ(after.back(), command.name);
        } else {
            EXPECT_EQ(after.size(), names); // the set-up has no log name
        }
    }
}

TEST_F(ProtocolTest, ResetToTheValidatorIsTheKnownFrame)
{
    Answer(3, { 0x00 });
    EXPECT_TRUE(protocol.Reset(3));
    EXPECT_EQ(OnlyCommand(), (Bytes { 0x02, 0x03, 0x06, 0x30, 0x41, 0xB3 }));
}

TEST_F(ProtocolTest, EveryCommandFailsWithTheExchangeStatus)
{
    // A damaged reply fails as fast as a missing one would, without the wait.
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    Outputs out;
    for (auto& command : AllCommands(out)) {
        SCOPED_TRACE(command.name);
        protocol.SetLastResultCode(0);
        EXPECT_FALSE(command.call(protocol));
        EXPECT_EQ(protocol.GetLastResultCode(), -4);
    }
}

// A unit answering with frames too short for the fields each operation
// reads: nothing may be read past the frame (the sanitizer build tells).
TEST_F(ProtocolTest, EveryCommandSurvivesRepliesShorterThanItsFields)
{
    Outputs out;
    for (Bytes data : { Bytes { 0x01 }, Bytes { 0x01, 0x02 }, Bytes { 0x30 }, Bytes { 0x00 }, Bytes { 0xE0, 0x45, 0x55 } }) {
        for (auto& command : AllCommands(out)) {
            SCOPED_TRACE(command.name);
            peer.SetResponder([data](const Bytes& frame) {
                if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
                    return PeerReply {};
                return PeerReply { MakeFrame(frame[1], data) };
            });
            command.call(protocol);
            EXPECT_GE(protocol.GetLastResultCode(), -7);
        }
    }
}

TEST_F(ProtocolTest, IndexOutsideItsTableIsRefusedWithoutSending)
{
    Answer(1, { 0x00 });
    std::uint8_t buffer[4] {};
    int count = 0;
    std::uint8_t state = 0;
    double total = 0;
    CassetteRecord funds[kFundsEntries];
    EXPECT_FALSE(protocol.Unload(-1, 1));
    EXPECT_FALSE(protocol.Unload(16, 1));
    EXPECT_FALSE(protocol.SetCassetteType(16, 0, 1));
    EXPECT_FALSE(protocol.SetCassetteType(-1, 0, 1));
    EXPECT_FALSE(protocol.SetCassetteFeedingLevel(16, 1, false));
    EXPECT_FALSE(protocol.VendRequest(24, 1.0, total, funds, false));
    EXPECT_FALSE(protocol.VendRequest(-1, 1.0, total, nullptr, false));
    EXPECT_FALSE(protocol.VendRequest(256, 1.0, total, nullptr, false));
    EXPECT_FALSE(protocol.PowerRecovery(state, nullptr, 4, count));
    EXPECT_FALSE(protocol.PowerRecovery(state, buffer, -1, count));
    EXPECT_FALSE(protocol.BillTable(nullptr, 3));
    EXPECT_FALSE(protocol.Dispense(nullptr));
    EXPECT_FALSE(protocol.Diagnostic(0x20, nullptr, 3, 3));
    EXPECT_FALSE(protocol.Diagnostic(0x20, buffer, 249, 3)); // past the short frame
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(peer.Frames().empty());
    EXPECT_TRUE(observer.Names().empty());
}

TEST_F(ProtocolTest, LongestDiagnosticFitsTheShortFrame)
{
    Answer(3, { 0x00 });
    Bytes data(248, 0x11);
    EXPECT_TRUE(protocol.Diagnostic(0x20, data.data(), 248, 3));
    Bytes sent = OnlyCommand();
    ASSERT_EQ(sent.size(), 255u);
    EXPECT_EQ(sent[2], 255);
}

TEST(CassetteTypeByte, ModesAndTypes)
{
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(252, 24), 0x38);
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(0, 5), 0x85);
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(1, 5), 0x85);
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(255, 5), 0x85);
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(253, 5), 0x5F);
    EXPECT_EQ(CKRMSProtocol::CassetteTypeByte(7, 5), 0x05);
}
