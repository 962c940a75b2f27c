// Every command of the command set, with arguments and replies from the
// input, through a fake port, and the exchange log as the observer so each
// real record is decoded too. Caller buffers are exactly as large as the
// capacity passed, so a write past them is caught. Beside the sanitizers:
// success always leaves result code 0, the codes are the command set's,
// counts stay within the capacity given.
//
// Input, per command (up to six): selector, the command's arguments (see
// the table), shape byte and reply as FuzzFrames reads them.
#include "decode/CExchangeLog.h"
#include "protocol/CKRMSProtocol.h"
#include "support/CFuzzInput.h"
#include "support/CScriptedUnit.h"
#include "support/SettleEngine.h"
#include "support/FuzzFrames.h"

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

class CNullSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        Check(!HasLineBreak(line), "a log line holds a line break", line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
};

// A caller's buffer of exactly `capacity` bytes.
struct Buffer {
    explicit Buffer(int capacity)
        : bytes(new std::uint8_t[static_cast<std::size_t>(capacity)])
        , size(capacity)
    {
    }
    std::unique_ptr<std::uint8_t[]> bytes;
    int size;
};

int Capacity(CFuzzInput& input)
{
    return static_cast<int>(input.Below(300));
}

double Number(CFuzzInput& input)
{
    // Mostly plain prices; now and then any bit pattern, NaN and infinities included.
    std::uint8_t kind = input.Byte();
    if (kind & 0x80) {
        std::uint64_t raw = static_cast<std::uint64_t>(input.Long()) << 32 | input.Long();
        double value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }
    return input.Word() / static_cast<double>(1u << (kind & 7));
}

void CheckCount(int count, int capacity, const char* what)
{
    Check(count >= -1 && count <= capacity, what);
}

using Command = std::function<bool(CKRMSProtocol&, CFuzzInput&)>;

std::vector<Command> Commands()
{
    auto address = [](CFuzzInput& input) { return static_cast<int>(input.Byte()); };
    return {
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Reset(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.StatusRequest(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.SetSecurity(in.Long(), address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Poll(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.BillType(in.Long(), in.Long(), address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Pack(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Return(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            bool ok = p.Identification(address(in));
            Check(p.GetPartNumber().size() <= 15, "part number longer than 15 characters");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Hold(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.SetBarParameters(in.Byte(), in.Byte(), address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::string text;
            bool ok = p.ExtractBarcode(text, address(in));
            Check(text.size() <= 65535, "barcode longer than any frame");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.GetCassetteStatus(); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint8_t counts[25];
            for (auto& count : counts)
                count = in.Byte() & 0x83; // mostly zero, so the pair count varies
            return p.Dispense(counts);
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint8_t pairs[6];
            for (auto& value : pairs)
                value = in.Byte();
            return p.DispensePairs(pairs);
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.Unload(static_cast<std::int8_t>(in.Byte()), in.Byte()); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            bool ok = p.ExtendedIdentification(address(in));
            Check(p.GetPartNumber().size() <= 15, "part number longer than 15 characters");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            int index = static_cast<std::int8_t>(in.Byte());
            int mode = in.Byte();
            return p.SetCassetteType(index, mode, in.Byte());
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            auto table = std::make_unique<BillTypeEntry[]>(kBillTypes);
            bool ok = p.BillTable(table.get(), address(in));
            for (int i = 0; i < kBillTypes; ++i)
                Check(table[static_cast<std::size_t>(i)].country.size() <= 3, "country code longer than 3");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(Capacity(in));
            return p.GetCassetteFeedingLevel(buffer.bytes.get(), buffer.size);
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            return p.SetCassetteFeedingLevel(static_cast<std::int8_t>(in.Byte()), in.Byte(), in.Byte() & 1);
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint32_t value = 1;
            return p.Crc32(value, address(in));
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.ModuleIdentification(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.ValidationSoftwareIdentification(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(static_cast<int>(in.Below(5000)));
            return p.RequestStatistics(buffer.bytes.get(), buffer.size, address(in));
        },
        [=](CKRMSProtocol& p, CFuzzInput&) {
            std::time_t time = 0;
            return p.GetCyTime(time);
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            // Any 64-bit time, far outside the calendar included.
            std::int64_t raw = static_cast<std::int64_t>(static_cast<std::uint64_t>(in.Long()) << 32 | in.Long());
            return p.SetCyTime(static_cast<std::time_t>(raw));
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(Capacity(in));
            std::uint8_t state = 0;
            int count = 0;
            bool ok = p.PowerRecovery(state, buffer.bytes.get(), buffer.size, count);
            CheckCount(count, buffer.size, "POWER RECOVERY count outside the buffer");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.EmptyDispenser(); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.SetOptions(in.Long(), address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint32_t options = 1;
            return p.GetOptions(options, address(in));
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(Capacity(in));
            int count = 0;
            bool ok = p.ExtendedCassetteStatus(in.Byte(), buffer.bytes.get(), buffer.size, count);
            CheckCount(count, buffer.size, "EXTENDED CASSETTE STATUS count outside the buffer");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(Capacity(in));
            std::uint8_t status = 0;
            int count = 0;
            bool ok = p.DiagnosticStatusRequest(status, buffer.bytes.get(), buffer.size, count, address(in));
            CheckCount(count, buffer.size, "DIAGNOSTIC STATUS count outside the buffer");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticIdentificationRequest(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            Buffer buffer(Capacity(in));
            int count = 0;
            bool ok = p.DiagnosticSupportedFunctions(buffer.bytes.get(), buffer.size, count, address(in));
            CheckCount(count, buffer.size, "DIAGNOSTIC SUPPORTED FUNCTIONS count outside the buffer");
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticSensorState(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestValidator(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestCassette(in.Byte(), address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestDispenser(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestSwitch(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestChassis(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.DiagnosticTestCommunication(address(in)); },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint8_t sub = in.Byte();
            int count = static_cast<int>(in.Below(255));
            Buffer data(count);
            Bytes given = in.Bytes(static_cast<std::size_t>(count));
            std::memset(data.bytes.get(), 0, static_cast<std::size_t>(count));
            if (!given.empty())
                std::memcpy(data.bytes.get(), given.data(), given.size());
            return p.Diagnostic(sub, data.bytes.get(), count, address(in));
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint8_t scale = in.Byte();
            std::string text = in.Text();
            if (text.size() < 3)
                text.resize(3, 'X'); // callers give at least three characters
            std::uint8_t first = 0, second = 0;
            return p.CardReaderSetup(scale, text, first, second);
        },
        [=](CKRMSProtocol& p, CFuzzInput&) {
            auto funds = std::make_unique<CassetteRecord[]>(kFundsEntries);
            std::uint8_t firstByte = 0;
            bool ok = p.GetFunds(funds.get(), firstByte);
            return ok;
        },
        [=](CKRMSProtocol& p, CFuzzInput& in) {
            std::uint8_t withTable = in.Byte();
            auto funds = std::make_unique<CassetteRecord[]>(kFundsEntries);
            for (int i = 0; i < kFundsEntries; ++i)
                funds[static_cast<std::size_t>(i)].decimalExponent = in.Byte();
            int entry = static_cast<int>(in.Below(kFundsEntries - 1));
            double price = Number(in);
            double total = Number(in);
            return p.VendRequest(entry, price, total, (withTable & 1) ? funds.get() : nullptr, withTable & 2);
        },
        [=](CKRMSProtocol& p, CFuzzInput&) {
            std::uint8_t replyByte = 0;
            return p.VendCancel(replyByte);
        },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.EndSession(); },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.StartSession(); },
        [=](CKRMSProtocol& p, CFuzzInput& in) { return p.EnableCR(in.Byte()); },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.CRIdentification(); },
        [=](CKRMSProtocol& p, CFuzzInput&) { return p.PollCR(); },
    };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const std::vector<Command> commands = Commands();
    static CScriptedUnit* fake = new CScriptedUnit;
    static CKRMSProtocol& protocol = *[] {
        auto* engine = new CKRMSProtocol(fake->MakePort());
        engine->SetIntercommandInterval(0);
        if (!engine->OpenPort(0, 0))
            Fail("the memory line did not open");
        return engine;
    }();
    static CNullSink sink;
    static CExchangeLog log(&protocol, sink);
    protocol.SetObserver(&log);
    fake->ClearReplies();

    CFuzzInput input(bytes, size);
    for (int i = 0; i < 6 && !input.Empty(); ++i) {
        const Command& command = commands[input.Byte() % commands.size()];
        // The reply first, so that the arguments read by the command follow it.
        std::uint8_t shape = input.Byte();
        Bytes reply = ReadReply(input, shape, 5000);
        fake->AddReply(ReadBursts(input, reply, shape));
        fake->SetWriteFails((shape & kWriteFails) != 0);
        bool ok = command(protocol, input);
        int code = protocol.GetLastResultCode();
        if (ok)
            Check(code == 0, "a command succeeded with a non-zero result code");
        Check(code <= 0 && code >= kExecutionError, "a result code outside the command set's");
        Check(protocol.GetExchangeRecord().empty(), "the lock is still held after the command");
        fake->ClearReplies();
    }
    SettleEngine(protocol, *fake);
    return 0;
}
