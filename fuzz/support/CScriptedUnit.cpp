#include "support/CScriptedUnit.h"

#include "link/CPortTable.h"
#include "link/WireVocabulary.h"


namespace orvex::fuzz {

std::unique_ptr<CCOMPort> CScriptedUnit::MakePort()
{
    auto maker = [this](const std::string&) -> std::unique_ptr<CSerialLine> {
        auto line = std::make_unique<CMemoryLine>(MemoryArrival::Queued);
        line->SetPeer([this](const std::uint8_t* bytes, int count) { OnWrite(bytes, count); });
        line->SetWriteFault(m_writeFails ? LineFault::Timeout : LineFault::None);
        m_line = line.get();
        return line;
    };
    return std::make_unique<CCOMPort>(CPortTable({ "memory" }), maker);
}

void CScriptedUnit::ClearReplies()
{
    m_replies.clear();
    SetWriteFails(false);
    m_written.clear();
    if (m_line)
        m_line->Flush(FlushDirection::Both);
}

void CScriptedUnit::SetWriteFails(bool fails)
{
    m_writeFails = fails;
    if (m_line)
        m_line->SetWriteFault(fails ? LineFault::Timeout : LineFault::None);
}

void CScriptedUnit::OnWrite(const std::uint8_t* bytes, int count)
{
    if (bytes == nullptr || count < 0)
        Fail("Write given no buffer or a negative count");
    m_written.emplace_back(bytes, bytes + count);
    bool acknowledgement = count == 6 && (bytes[3] == wire::kAck || bytes[3] == wire::kNak);
    if (acknowledgement || m_replies.empty())
        return;
    Reply reply = std::move(m_replies.front());
    m_replies.pop_front();
    for (const Bytes& burst : reply) {
        m_line->Arrive(burst);
        m_line->Silence();
    }
}

} // namespace orvex::fuzz
