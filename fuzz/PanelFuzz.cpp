// The operator panel's handlers with any field values (hexadecimal texts,
// the 64-bit diagnostic data, the ranged numbers) and any replies. Beside
// the sanitizers: a refused field sends nothing, a failure never reads as
// success ("OK" only when the handler succeeded), and a success never
// shows a failure text.
//
// Input: handler selector, address index, the six hexadecimal fields as
// NUL-ended texts, twelve numbers (16 bits, signed) for the ranged fields,
// two choice bytes, then up to eight replies (shape byte, reply as
// FuzzFrames reads it).
#include "app/COperatorPanel.h"
#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "support/CFuzzInput.h"
#include "support/CScriptedUnit.h"
#include "support/SettleEngine.h"
#include "support/FuzzFrames.h"
#include "vmc/CVMC.h"

#include <functional>
#include <memory>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

class CQuietSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        Check(!HasLineBreak(line), "a log line holds a line break", line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
};

using Handler = CommandId;

// Every button but those that wait for the unit for long (Initialize BC,
// the unloading and dispensing sequences poll for minutes when the replies
// keep coming) and polling mode.
constexpr Handler kHandlers[] = {
    CommandId::Reset, CommandId::Poll, CommandId::StatusRequest, CommandId::Identification,
    CommandId::ExtendedIdentification, CommandId::GetBillTable, CommandId::BillType,
    CommandId::SetBarcodeParameters, CommandId::SetSecurity, CommandId::ExtractBar,
    CommandId::Stack, CommandId::Return, CommandId::Hold, CommandId::GetCrc32,
    CommandId::RequestStatistics, CommandId::ModuleIdentification,
    CommandId::ValidationSoftwareIdentification, CommandId::SetOptions, CommandId::GetOptions,
    CommandId::GetTime, CommandId::GetCassetteStatus, CommandId::SetCassetteType,
    CommandId::UnloadCommand, CommandId::DispenseCommand, CommandId::PowerRecovery,
    CommandId::EmptyDispenser, CommandId::ExtendedCassetteStatus, CommandId::SetLevel,
    CommandId::GetLevel, CommandId::DgnStatus, CommandId::DgnIdent, CommandId::DgnFunctions,
    CommandId::DgnSensors, CommandId::DgnValidator, CommandId::DgnCassette,
    CommandId::DgnDispenser, CommandId::DgnSwitch, CommandId::DgnChassis, CommandId::DgnComm,
    CommandId::Diagnostic,
};

bool EndsWithOk(const std::string& line)
{
    return line.size() >= 2 && line.compare(line.size() - 2, 2, "OK") == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static CScriptedUnit* fake = new CScriptedUnit;
    static CKRMSInterface& device = *[] {
        auto* made = new CKRMSInterface(fake->MakePort());
        if (!made->OpenPort(0, 0))
            Fail("the memory line did not open");
        made->SetPollInterval(0);
        made->SetIntercommandInterval(0);
        return made;
    }();
    static CVMC engine(&device);
    static CQuietSink sink;
    static CExchangeLog log(device.GetProtocol(), sink);
    static COperatorPanel& panel = *[] {
        auto* made = new COperatorPanel(device, engine, &log, &sink);
        made->Attach(0);
        return made;
    }();
    fake->ClearReplies();

    CFuzzInput input(bytes, size);
    Handler handler = kHandlers[input.Byte() % std::size(kHandlers)];
    PanelMembers members;
    members.deviceAddress = input.Byte() % 5;
    members.enabledBills = input.Text();
    members.escrowMask = input.Text();
    members.security = input.Text();
    members.options = input.Text();
    members.diagnosticCode = input.Text();
    members.diagnosticData = input.Text();
    auto number = [&input] { return static_cast<int>(static_cast<std::int16_t>(input.Word())); };
    members.dispenseType1 = static_cast<unsigned>(number());
    members.dispenseNumber1 = number();
    members.dispenseType2 = static_cast<unsigned>(number());
    members.dispenseNumber2 = number();
    members.dispenseNumber3 = number();
    members.unloadCassette = number();
    members.unloadNumber = number();
    members.settingsCassette = number();
    members.extendedStatusCassette = number();
    members.feedingCassette = number();
    members.feedingLevel = number();
    members.feedingDisable = number();
    members.dispenseType3 = input.Byte();
    members.cassetteBillType = input.Byte();
    members.barcodeLength = input.Byte();
    members.diagnosticCassette = input.Byte();
    members.diagnosticByte = input.Byte();
    members.cassetteStatus = static_cast<CassetteStatusChoice>(input.Byte() % 3);
    for (int i = 0; i < 8 && !input.Empty(); ++i) {
        std::uint8_t shape = input.Byte();
        Bytes reply = ReadReply(input, shape, 5000);
        fake->AddReply(ReadBursts(input, reply, shape));
    }
    members.resultLine = "untouched";
    panel.SetMembers(members);
    fake->ClearWritten();

    COperatorPanel::Outcome outcome = panel.Run(handler);
    std::string result = panel.GetResultLine();
    switch (outcome) {
    case COperatorPanel::Outcome::NothingSent:
        Check(fake->Written().empty(), "a refused field still sent a frame");
        break;
    case COperatorPanel::Outcome::Failed:
        Check(!EndsWithOk(result), "a failed command reads as success", result);
        break;
    case COperatorPanel::Outcome::Succeeded:
        // Get Time shows the clock elsewhere and leaves the result line.
        Check(EndsWithOk(result) || result == "untouched", "a successful command does not say OK", result);
        break;
    }
    SettleEngine(*device.GetProtocol(), *fake);
    return 0;
}
