#include "PanelFixture.h"

#include "vmc/CVMC.h"

using namespace orvex;
using namespace orvex::test;
using Outcome = COperatorPanel::Outcome;

// ---- Result lines --------------------------------------------------------------

TEST_F(PanelTest, PollSucceedsOnTheChosenAddress)
{
    Answer(0x33, { 0x14 });
    EXPECT_EQ(m_panel.Run(CommandId::Poll), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Poll: OK");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x03, 0x06, 0x33 }));
    // "Wait..." is shown while the command runs.
    EXPECT_EQ(m_observer.Results().front(), "Wait...");
}

TEST_F(PanelTest, PollToTheCardReaderSendsNothing)
{
    Set([](PanelMembers& m) {
        m.deviceAddress = 4;
        m.resultLine = "Reset: OK";
    });
    EXPECT_EQ(m_panel.Run(CommandId::Poll), Outcome::NothingSent);
    EXPECT_TRUE(m_peer.Frames().empty());
    EXPECT_EQ(m_panel.GetResultLine(), "Reset: OK");
}

TEST_F(PanelTest, FailurePrefixIsFollowedDirectlyByTheText)
{
    Silence();
    EXPECT_EQ(m_panel.Run(CommandId::Reset), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Reset:Timeout");
    EXPECT_EQ(m_panel.Run(CommandId::Poll), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Poll: Timeout");
    EXPECT_EQ(m_panel.Run(CommandId::ExtendedIdentification), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Extended  Identification : Timeout");
}

TEST_F(PanelTest, NakGivesAckNotRecieved)
{
    Answer(0x35, { 0xFF });
    EXPECT_EQ(m_panel.Run(CommandId::Stack), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Pack:ACK not recieved");
}

TEST_F(PanelTest, ShortReplyFailsWithUnexpectedReplyNeverOk)
{
    // EXTENDED IDENTIFICATION takes the part number only from 109 bytes on.
    Answer(0x3E, Bytes(20, 0x41));
    EXPECT_EQ(m_panel.Run(CommandId::ExtendedIdentification), Outcome::Failed);
    EXPECT_EQ(m_application.Protocol().GetLastResultCode(), 0);
    EXPECT_EQ(m_panel.GetResultLine(), "Extended  Identification : Unexpected reply");

    Answer(0x53, Bytes(10, 0x41));
    EXPECT_EQ(m_panel.Run(CommandId::ModuleIdentification), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Module Identification : Unexpected reply");
}

TEST_F(PanelTest, ExtendedCassetteStatusTooLongForItsBufferIsAFailure)
{
    Answer(0x70, Bytes(130, 0x05)); // 129 bytes from byte 4
    EXPECT_EQ(m_panel.Run(CommandId::ExtendedCassetteStatus), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Requesting Extended Cassette Status : Unexpected reply");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x01, 0x07, 0x70, 0x01 }));
}

TEST_F(PanelTest, GetBillTableReportsErrorTextInEveryCase)
{
    Answer(0x41, { 0x01, 'U', 'S', 'D', 0x00, 0x05, 'U', 'S', 'D', 0x00 });
    EXPECT_EQ(m_panel.Run(CommandId::GetBillTable), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Get Bill Table : OK");
    EXPECT_FLOAT_EQ(m_application.Device().GetBillTable()[1].value, 5.0f);
}

// ---- Hexadecimal inputs ----------------------------------------------------------

TEST_F(PanelTest, BillTypeSendsBothMasksAndStoresThem)
{
    Set([](PanelMembers& m) {
        m.enabledBills = "00000f";
        m.escrowMask = "3";
    });
    EXPECT_EQ(m_panel.Run(CommandId::BillType), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Bill Type: OK");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x03, 0x0C, 0x34, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x03 }));
    EXPECT_EQ(m_application.Engine().GetEnabledBills(), 0x0Fu);
    EXPECT_EQ(m_application.Engine().GetEscrowMask(), 0x3u);
}

TEST_F(PanelTest, BillTypeWithAnEmptyEscrowMaskSendsNothing)
{
    Set([](PanelMembers& m) {
        m.enabledBills = "0000FF";
        m.escrowMask = "";
    });
    EXPECT_EQ(m_panel.Run(CommandId::BillType), Outcome::NothingSent);
    EXPECT_TRUE(m_peer.Frames().empty());
    EXPECT_EQ(m_application.Engine().GetEnabledBills(), 0xFFFFFFu);
    EXPECT_EQ(m_application.Engine().GetEscrowMask(), 0xFFFFFFu);
}

TEST_F(PanelTest, SecurityAndOptionsWithoutHexDigitSendNothing)
{
    Set([](PanelMembers& m) {
        m.security = "xyz";
        m.options = " ";
        m.resultLine = "kept";
    });
    EXPECT_EQ(m_panel.Run(CommandId::SetSecurity), Outcome::NothingSent);
    EXPECT_EQ(m_panel.Run(CommandId::SetOptions), Outcome::NothingSent);
    EXPECT_TRUE(m_peer.Frames().empty());
    EXPECT_EQ(m_panel.GetResultLine(), "kept");
}

TEST_F(PanelTest, SetOptionsSendsTheWholeWord)
{
    EXPECT_EQ(m_panel.Run(CommandId::SetOptions), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Setting Options: OK");
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x03, 0x0A, 0x68, 0x60, 0x00, 0x00, 0x00 }));
}

TEST_F(PanelTest, DiagnosticWithTenBytesSendsEightDataBytesThenZeros)
{
    Set([](PanelMembers& m) {
        m.diagnosticCode = "2A";
        m.diagnosticData = "1122334455667788";
        m.diagnosticByte = 10;
    });
    EXPECT_EQ(m_panel.Run(CommandId::Diagnostic), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Diagnostics: OK");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x03, 0x11, 0xF0, 0x2A, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00,
                             0x00 }));
}

TEST_F(PanelTest, DiagnosticWithoutHexDigitsSendsCodeAndDataZero)
{
    Set([](PanelMembers& m) {
        m.diagnosticCode = "";
        m.diagnosticData = "g";
        m.diagnosticByte = 2;
    });
    EXPECT_EQ(m_panel.Run(CommandId::Diagnostic), Outcome::Succeeded);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x03, 0x09, 0xF0, 0x00, 0x00, 0x00 }));
}

TEST_F(PanelTest, DiagnosticTooLongForAFrameIsRefused)
{
    Set([](PanelMembers& m) { m.diagnosticByte = 250; });
    EXPECT_EQ(m_panel.Run(CommandId::Diagnostic), Outcome::NothingSent);
    EXPECT_EQ(m_observer.Messages().size(), 1u);
    EXPECT_TRUE(m_peer.Frames().empty());
}

// ---- Cassettes and dispensing ------------------------------------------------------

TEST_F(PanelTest, EscrowCassetteTypeSetsBillTypeTo24)
{
    Set([](PanelMembers& m) {
        m.settingsCassette = 1;
        m.cassetteStatus = CassetteStatusChoice::Escrow;
        m.cassetteBillType = 5;
        m.deviceAddress = 3; // the Cyclor unit's commands go to 1 all the same
    });
    EXPECT_EQ(m_panel.Run(CommandId::SetCassetteType), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Set Cassete Status: OK");
    EXPECT_EQ(m_panel.GetMembers().cassetteBillType, 24);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x01, 0x08, 0x40, 0x02, 0x38 }));
}

TEST_F(PanelTest, CassetteTypeModes)
{
    Set([](PanelMembers& m) {
        m.cassetteStatus = CassetteStatusChoice::NotAssigned;
    });
    m_panel.Run(CommandId::SetCassetteType);
    Set([](PanelMembers& m) {
        m.cassetteStatus = CassetteStatusChoice::Assigned;
        m.cassetteBillType = 5;
    });
    m_panel.Run(CommandId::SetCassetteType);
    ASSERT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x01, 0x08, 0x40, 0x01, 0x5F }));
    EXPECT_EQ(Sent()[1], (Bytes { 0x02, 0x01, 0x08, 0x40, 0x01, 0x85 }));
}

TEST_F(PanelTest, CassetteChoiceOutsideOneToThreeIsRefused)
{
    Set([](PanelMembers& m) {
        m.settingsCassette = -1;
        m.unloadCassette = 3;
        m.feedingCassette = -1;
    });
    EXPECT_EQ(m_panel.Run(CommandId::SetCassetteType), Outcome::NothingSent);
    EXPECT_EQ(m_panel.Run(CommandId::UnloadCommand), Outcome::NothingSent);
    EXPECT_EQ(m_panel.Run(CommandId::UnloadingSequence), Outcome::NothingSent);
    EXPECT_EQ(m_panel.Run(CommandId::SetLevel), Outcome::NothingSent);
    EXPECT_TRUE(m_peer.Frames().empty());
    const auto messages = m_observer.Messages();
    ASSERT_EQ(messages.size(), 4u);
    for (const auto& message : messages)
        EXPECT_EQ(message, "The Cassette number should be 1..3");
}

TEST_F(PanelTest, DispenseCommandWithInitialRowsAsksForOneBillOfTypeZero)
{
    EXPECT_EQ(m_panel.Run(CommandId::DispenseCommand), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Dispense: OK");
    EXPECT_EQ(m_observer.Results().front(), "Dispensing...");
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x01, 0x08, 0x3C, 0x00, 0x01 }));
}

TEST_F(PanelTest, UnloadCommandFailureUsesTheDeviceText)
{
    Answer(0x3D, { 0xFF });
    Set([](PanelMembers& m) {
        m.unloadCassette = 2;
        m.unloadNumber = 7;
    });
    EXPECT_EQ(m_panel.Run(CommandId::UnloadCommand), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Unload Cmd:ACK not recieved");
    EXPECT_EQ(Sent()[0], (Bytes { 0x02, 0x01, 0x08, 0x3D, 0x03, 0x07 }));
}

TEST_F(PanelTest, DispensingRowAboveBillType24IsRefused)
{
    Set([](PanelMembers& m) {
        m.dispenseType2 = 30;
        m.dispenseNumber2 = 2;
    });
    EXPECT_EQ(m_panel.Run(CommandId::DispensingSequence), Outcome::NothingSent);
    EXPECT_EQ(m_observer.Messages().size(), 1u);
    EXPECT_TRUE(m_peer.Frames().empty());
}

TEST_F(PanelTest, DispensingRowsOfOneTypeAddUpButMustFitAByte)
{
    Set([](PanelMembers& m) {
        m.dispenseType1 = 4;
        m.dispenseNumber1 = 200;
        m.dispenseType2 = 4;
        m.dispenseNumber2 = 100;
    });
    EXPECT_EQ(m_panel.Run(CommandId::DispensingSequence), Outcome::NothingSent);
    EXPECT_TRUE(m_peer.Frames().empty());
}

// ---- Feeding level -------------------------------------------------------------

TEST_F(PanelTest, GetLevelAddsOneLinePerCassetteAndASeparator)
{
    Answer(0x43, { 0x05, 0x07 });
    m_sink.Clear();
    EXPECT_EQ(m_panel.Run(CommandId::GetLevel), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetResultLine(), "Get Cassete Feeding Level: OK");
    const auto lines = m_sink.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "<- Cassette 1 feeding level: 5");
    EXPECT_EQ(lines[lines.size() - 2], "<- Cassette 2 feeding level: 7");
    EXPECT_EQ(lines.back(), std::string(CExchangeLog::kSeparator));
}

TEST_F(PanelTest, GetLevelFailureAddsNoLines)
{
    Answer(0x43, { 0x30 });
    m_sink.Clear();
    EXPECT_EQ(m_panel.Run(CommandId::GetLevel), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Get Cassete Feeding Level: Invalid command");
    for (const auto& line : m_sink.Lines())
        EXPECT_NE(line.rfind("<- Cassette", 0), 0u);
}

TEST_F(PanelTest, DgnFunctionsFillsTheCodeList)
{
    Answer(0xF0, { 0x00, 0x01, 0x1A });
    EXPECT_EQ(m_panel.Run(CommandId::DgnFunctions), Outcome::Succeeded);
    EXPECT_EQ(m_panel.GetMembers().diagnosticCodeList, (std::vector<std::string> { "00", "01", "1A" }));
}
