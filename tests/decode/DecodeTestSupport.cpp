#include "DecodeTestSupport.h"

#include <cstdio>

namespace orvex::test {

std::vector<std::string> RecordLines(std::string_view prefix, const Bytes& frame)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < frame.size(); start += 20) {
        std::string line(prefix);
        for (std::size_t index = start; index < frame.size() && index < start + 20; ++index) {
            char group[4];
            std::snprintf(group, sizeof group, "%02X ", frame[index]);
            line += group;
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Exchange(const Bytes& command, const Bytes& reply)
{
    std::vector<std::string> record = RecordLines("-> ", command);
    for (std::string& line : RecordLines("<- ", reply))
        record.push_back(line);
    for (std::string& line : RecordLines("-> ", MakeFrame(reply.size() > 1 ? reply[1] : 3, { 0x00 })))
        record.push_back(line);
    return record;
}

std::vector<std::string> ReplyRecord(std::uint8_t address, const Bytes& data)
{
    return Exchange(MakeFrame(address, { 0x37 }), MakeFrame(address, data));
}

std::vector<std::string> FailedRecord(std::string_view failure)
{
    std::vector<std::string> record = RecordLines("-> ", MakeFrame(3, { 0x33 }));
    record.push_back("<- " + std::string(failure));
    return record;
}

std::vector<std::string> DecodeReply(ReplyDecoder decoder, const std::vector<std::string>& record, const DecodeContext& context)
{
    DecodeOutput output;
    std::string_view line = record.size() > 1 ? std::string_view(record[1]) : std::string_view();
    std::string last = decoder(DecodeInput { line, record, context }, output);
    std::vector<std::string> lines(output.Lines().begin(), output.Lines().end());
    lines.push_back(last);
    return lines;
}

std::vector<std::string> DecodeRequest(RequestDecoder decoder, const std::vector<std::string>& record, const DecodeContext& context)
{
    DecodeOutput output;
    std::string_view line = record.empty() ? std::string_view() : std::string_view(record[0]);
    decoder(DecodeInput { line, record, context }, output);
    return std::vector<std::string>(output.Lines().begin(), output.Lines().end());
}

DecodeContext RussianContext(int deviceChoice)
{
    DecodeContext context;
    context.deviceChoice = deviceChoice;
    context.billTable[2] = BillTypeEntry { 10.0f, "RUS", 0 };
    context.billTable[3] = BillTypeEntry { 1000000.0f, "RUS", 0 };
    context.billTable[4] = BillTypeEntry { 0.5f, "USD", 0 };
    context.billTable[5] = BillTypeEntry { 100.0f, "USD", 0 };
    return context;
}

void CStoringSink::AddLine(std::string_view line)
{
    std::lock_guard guard(m_mutex);
    m_lines.emplace_back(line);
}

void CStoringSink::SelectLastLine()
{
    std::lock_guard guard(m_mutex);
    ++m_selections;
}

void CStoringSink::SetStatusText(std::string_view text)
{
    std::lock_guard guard(m_mutex);
    m_status.assign(text);
}

std::vector<std::string> CStoringSink::Lines() const
{
    std::lock_guard guard(m_mutex);
    return m_lines;
}

std::string CStoringSink::Status() const
{
    std::lock_guard guard(m_mutex);
    return m_status;
}

int CStoringSink::Selections() const
{
    std::lock_guard guard(m_mutex);
    return m_selections;
}

void CStoringSink::Clear()
{
    std::lock_guard guard(m_mutex);
    m_lines.clear();
    m_status.clear();
    m_selections = 0;
}

} // namespace orvex::test
