#include "sim/CReplayScript.h"

#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngReader.h"
#include "link/CCommand.h"
#include "link/WireVocabulary.h"

#include <algorithm>

namespace orvex {

namespace {

// Keeps the command and the unit's answer of every exchange.
class CRecorder : public CExchangeListener {
public:
    explicit CRecorder(CReplayScript& script)
        : m_script(script)
    {
    }
    void OnExchange(const WireExchange& exchange) override
    {
        if (exchange.kind != WireExchangeKind::Exchange || exchange.frames.empty())
            return;
        CReplayScript::Recorded recorded { exchange.frames[0].bytes, {}, exchange.name };
        if (exchange.frames.size() > 1 && exchange.frames[1].direction == WireDirection::FromDevice)
            recorded.reply = exchange.frames[1].bytes;
        m_script.Add(std::move(recorded));
    }
    void OnEvent(const WireEvent&) override { }

private:
    CReplayScript& m_script;
};

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string text = HexText(bytes.data(), static_cast<int>(bytes.size()));
    if (!text.empty())
        text.pop_back();
    return text;
}

} // namespace

bool CReplayScript::Load(const std::string& path, std::string& error)
{
    CCaptureFile file;
    if (!file.Open(path)) {
        error = file.Error();
        return false;
    }
    CRecorder recorder(*this);
    CExchangeAssembler assembler(recorder);
    CPcapngReader reader(file.Bytes());
    CapturedPacket packet;
    CPcapngReader::Step step;
    while ((step = reader.Next(packet)) == CPcapngReader::Step::Packet) {
        if (!packet.isEvent)
            assembler.FeedPacket(packet.interface, packet.direction, packet.timeNs, packet.frame);
    }
    assembler.Finish();
    if (step == CPcapngReader::Step::Failed) {
        error = path + ": " + reader.Error() + " at byte " + std::to_string(reader.Offset());
        return false;
    }
    if (m_exchanges.empty()) {
        error = path + ": holds no exchange to replay";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> CReplayScript::Answer(std::span<const std::uint8_t> command, std::string& note)
{
    note.clear();
    // The host's own ACK and NAK ask for nothing.
    if (command.size() == 6 && command[2] == 6 && (command[3] == wire::kAck || command[3] == wire::kNak))
        return {};
    auto same = [&](const Recorded& recorded) { return std::equal(recorded.command.begin(), recorded.command.end(), command.begin(), command.end()); };
    const std::size_t expected = m_next;
    std::size_t found = m_exchanges.size();
    for (std::size_t index = m_next; index < m_exchanges.size() && found == m_exchanges.size(); ++index) {
        if (same(m_exchanges[index]))
            found = index;
    }
    for (std::size_t index = 0; index < m_next && found == m_exchanges.size(); ++index) {
        if (same(m_exchanges[index]))
            found = index;
    }
    if (found < m_exchanges.size() && found == expected)
        return m_exchanges[m_next++].reply;
    note = "the host departs from the recording at exchange " + std::to_string(expected + 1) + ": it sent " + Hex(command);
    if (expected < m_exchanges.size())
        note += ", the recording has " + Hex(m_exchanges[expected].command) + " (" + m_exchanges[expected].name + ")";
    else
        note += " after the recording's end";
    if (found == m_exchanges.size()) {
        note += "; no recorded exchange has this command, so it goes unanswered";
        return {};
    }
    note += "; answered as recorded at exchange " + std::to_string(found + 1);
    m_next = found + 1;
    return m_exchanges[found].reply;
}

} // namespace orvex
