// The frame reader and judge: commands exchanged with a fake port whose
// replies arrive in arbitrary bursts.
//
// Input, per exchange (up to four): address, command code, parameter count
// (0..12) and the parameters, reply shape (bits below), reply length
// (16 bits) and the reply bytes, and with kSplitAnywhere a burst count
// (0..3) and each burst's length (16 bits). Beside the sanitizers, each exchange
// is judged a second time here, from the bytes alone, and the result code,
// the frames written back (ACK, NAK or nothing) and the exchange record
// must agree with that judgement.
#include "link/CheckCode.h"
#include "protocol/CKRMSProtocol.h"
#include "support/CScriptedUnit.h"
#include "support/SettleEngine.h"
#include "support/FuzzFrames.h"

#include "support/CFuzzInput.h"

#include <memory>
#include <string>

using namespace orvex;
using orvex::fuzz::Bytes;
using orvex::fuzz::CFuzzInput;
using orvex::fuzz::CScriptedUnit;
using orvex::fuzz::Check;
using namespace orvex::fuzz;

namespace {

Bytes Frame(std::uint8_t code, const Bytes& parameters)
{
    Bytes frame { wire::kSync, 0x00, static_cast<std::uint8_t>(parameters.size() + 6), code };
    frame.insert(frame.end(), parameters.begin(), parameters.end());
    frame.push_back(0);
    frame.push_back(0);
    return frame;
}

struct Judgement {
    int status { 0 };
    Bytes frame; // the reply frame when the status is 0
};

// The judging rules, from the first burst alone: a read never runs past a
// silence, so a frame must arrive in one burst to be whole.
Judgement Judge(const CScriptedUnit::Reply& reply)
{
    Bytes first = reply.empty() ? Bytes() : reply[0];
    if (first.size() < 6)
        return { kTimeout, {} };
    if (first[0] != wire::kSync)
        return { kSynchronizationError, {} };
    int length = first[2] != 0 ? first[2] : first[3] * 256 + first[4];
    if ((first[2] != 0 && length < 6) || (first[2] == 0 && length < 7))
        return { kDataError, {} };
    if (first.size() < static_cast<std::size_t>(length))
        return { kDataError, {} };
    std::uint16_t computed = ReferenceCheckCode(first.data(), static_cast<std::size_t>(length - 2));
    std::uint16_t received = static_cast<std::uint16_t>(first[static_cast<std::size_t>(length - 1)] * 256
        + first[static_cast<std::size_t>(length - 2)]);
    if (computed != received)
        return { kCrcError, {} };
    return { 0, Bytes(first.begin(), first.begin() + length) };
}

Bytes Acknowledgement(std::uint8_t code, std::uint8_t address)
{
    Bytes frame { wire::kSync, address, 0x06, code, 0, 0 };
    FinishFrame(frame.data(), 6, address);
    return frame;
}

std::string Hex(const Bytes& bytes)
{
    return ReferenceHex(bytes);
}

// The record lines with the given prefix from `start` on, joined; stops at
// the first line with another prefix.
std::string Joined(const std::vector<std::string>& record, std::size_t& index, const char* prefix)
{
    std::string text;
    while (index < record.size() && record[index].compare(0, 3, prefix) == 0) {
        text += record[index].substr(3);
        ++index;
    }
    return text;
}

void CheckExchange(const std::vector<std::string>& record, const Bytes& sent, const Judgement& judgement,
    const std::vector<Bytes>& written, std::uint8_t address, const CCommand& result)
{
    for (const std::string& line : record)
        Check(line.size() <= 63 && (line.compare(0, 3, "-> ") == 0 || line.compare(0, 3, "<- ") == 0),
            "record line too long or without its direction prefix");
    Check(result.GetStatus() == judgement.status, "result code differs from the judging rules");
    Check(!written.empty() && written[0] == sent, "the command was not written as finished");

    std::size_t index = 0;
    Check(Joined(record, index, "-> ") == Hex(sent), "the first record lines are not the command");
    if (judgement.status != 0) {
        Check(result.GetBytes() == nullptr && result.GetLength() == 0, "a failed reply holds bytes");
        Check(index < record.size() && record[index] == "<- " + CKRMSProtocol::ErrorText(judgement.status),
            "the failure line is missing");
        ++index;
        if (judgement.status == kTimeout) {
            Check(written.size() == 1, "something was written after a timeout");
            Check(index == record.size(), "record lines after a timeout");
            return;
        }
        Check(written.size() == 2 && written[1] == Acknowledgement(0xFF, address), "a damaged reply got no NAK");
        Check(Joined(record, index, "-> ") == Hex(written[1]) && index == record.size(), "the NAK is not recorded");
        return;
    }

    Check(result.GetLength() == static_cast<int>(judgement.frame.size())
            && Bytes(result.GetBytes(), result.GetBytes() + result.GetLength()) == judgement.frame,
        "the reply frame is not the bytes received");
    Check(Joined(record, index, "<- ") == Hex(judgement.frame), "the reply is not recorded whole");
    const Bytes& reply = judgement.frame;
    bool peerAck = reply[2] == 6 && reply[3] == 0x00;
    bool peerNak = reply[2] == 6 && reply[3] == 0xFF;
    if (peerAck) {
        Check(written.size() == 1 && index == record.size(), "an ACK reply was answered");
    } else if (peerNak) {
        Check(written.size() == 1, "a NAK reply was answered");
        Check(Joined(record, index, "-> ") == Hex(sent) && index == record.size(), "the command is not recorded again after a NAK");
    } else {
        Check(written.size() == 2 && written[1] == Acknowledgement(0x00, address), "a data reply got no ACK");
        Check(Joined(record, index, "-> ") == Hex(written[1]) && index == record.size(), "the ACK is not recorded");
    }
}

// Tells the harness what the record looked like while the lock was held.
class CRecordCopy final : public COutputInterface {
public:
    explicit CRecordCopy(CKRMSProtocol& protocol)
        : m_protocol(protocol)
    {
    }
    void OnCommandDone(std::string name) override
    {
        m_name = std::move(name);
        m_record = m_protocol.GetExchangeRecord();
    }
    std::string m_name;
    std::vector<std::string> m_record;

private:
    CKRMSProtocol& m_protocol;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    // One engine for the whole run, as in the program; every exchange
    // starts from an empty record whatever came before.
    static CScriptedUnit* fake = new CScriptedUnit;
    static CKRMSProtocol& protocol = *[] {
        auto* engine = new CKRMSProtocol(fake->MakePort());
        engine->SetIntercommandInterval(0);
        if (!engine->OpenPort(0, 0))
            Fail("the memory line did not open");
        return engine;
    }();
    static CRecordCopy observer(protocol);
    protocol.SetObserver(&observer);
    fake->ClearReplies();

    for (int i = 0; i < 4 && !input.Empty(); ++i) {
        std::uint8_t address = input.Byte();
        std::uint8_t code = input.Byte();
        if (code == 0x00 || code == 0xFF)
            code = 0x33; // the host's own ACK and NAK are not commands
        Bytes command = Frame(code, input.Bytes(input.Below(12)));
        std::uint8_t shape = input.Byte();
        CScriptedUnit::Reply reply = ReadBursts(input, ReadReply(input, shape), shape);
        fake->SetWriteFails((shape & kWriteFails) != 0);
        Judgement judgement = Judge(reply);
        fake->AddReply(reply);
        fake->ClearWritten();

        CCommand result = protocol.Exchange(CCommand(command.data(), 0, static_cast<int>(command.size())), address);
        protocol.CommandDone("POLL");

        Bytes sent = command;
        FinishFrame(sent.data(), static_cast<int>(sent.size()), address);
        CheckExchange(observer.m_record, sent, judgement, fake->Written(), address, result);
        Check(protocol.GetExchangeRecord().empty(), "the record is visible without the lock");
    }
    SettleEngine(protocol, *fake);
    return 0;
}
