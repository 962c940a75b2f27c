// The exchange log with every decoder: a record of arbitrary lines and
// frames under any log name, decoded and raw, with and without a bill
// table, for every device choice. Beside the sanitizers: every exchange
// written starts with its header and ends with one separator, raw lines
// appear as they stand, and no line carries a line break that would split
// it in a saved log.
//
// Input: name (a byte below the table size picks a log name, any other is
// followed by a NUL-ended name), flags (bit 0 decode, 1 raw frames,
// 2 sequence, 3 bill table; bits 4..6 the device choice, mod 5), header
// time (32 bits), with a bill table 24 entries of value (32-bit float) and
// three country characters, the line count (0..8), then per line its kind
// and content (see ReadLine).
#include "decode/CExchangeLog.h"
#include "decode/Decoders.h"
#include "protocol/CKRMSProtocol.h"
#include "support/CFuzzInput.h"
#include "support/FuzzCheck.h"
#include "support/FuzzFrames.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

constexpr std::array kLogNames {
    "POLL", "BILL TYPE", "SET CY TIME", "GET CY TIME", "GET CASSETTE STATUS", "POWER RECOVERY",
    "EXTENDED CASSETTE STATUS REQUEST", "DISPENSE", "DOWNLOAD", "CLEAR STATISTICS", "HOLD", "PACK", "RESET",
    "EMPTY DISPENSER", "RETURN", "SUSPEND", "EXTRACT BARCODE", "BILL TABLE", "REQUEST STATISTICS",
    "READ USER DATA", "WRITE USER DATA", "IDENTIFICATION", "VALIDATION SOFTWARE IDENTIFICATION",
    "EXTENDED IDENTIFICATION", "MODULE IDENTIFICATION", "SET BAR PARAMETERS", "SET OPTIONS", "GET OPTIONS",
    "CRC32", "SET CASSETTE TYPE", "SET SECURITY", "STATUS REQUEST", "UNLOAD", "DIAGNOSTIC",
    "DIAGNOSTIC SENSOR STATE", "DIAGNOSTIC TEST VALIDATOR", "DIAGNOSTIC TEST DISPENSER", "DIAGNOSTIC TEST SWITCH",
    "DIAGNOSTIC TEST CHASSIS", "DIAGNOSTIC TEST COMMUNICATION", "DIAGNOSTIC TEST CASSETTE",
    "DIAGNOSTIC SUPPORTED FUNCTIONS", "DIAGNOSTIC IDENTIFICATION REQUEST", "DIAGNOSTIC STATUS REQUEST",
    // Outside the table: header, one empty line, separator.
    "GET FUNDS", "POLL CR", "VEND/REQUEST", "GET CASSETTE FEEDING LEVEL",
};

class CCheckingSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        Check(!HasLineBreak(line), "a log line holds a line break", line);
        // The strings of earlier runs are written over, not made anew.
        if (m_count < m_lines.size())
            m_lines[m_count].assign(line);
        else
            m_lines.emplace_back(line);
        ++m_count;
        // ORVEX_FUZZ_SHOW=1 prints the log, to check what a seed decodes to.
        static const bool show = std::getenv("ORVEX_FUZZ_SHOW") != nullptr;
        if (show)
            std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
    }
    void SelectLastLine() override { Check(m_count != 0, "selected a line in an empty log"); }
    void SetStatusText(std::string_view text) override { m_status.assign(text); }
    void Clear()
    {
        m_count = 0;
        m_status.clear();
    }
    std::size_t Count() const { return m_count; }
    const std::string& Line(std::size_t index) const { return m_lines[index]; }
    const std::string& Last() const { return m_lines[m_count - 1]; }

private:
    std::vector<std::string> m_lines;
    std::size_t m_count { 0 };
    std::string m_status;
};

std::string WithoutBreaks(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// Line kinds: 0 a frame sent, 1 a frame received (each: shape byte, then
// a reply as FuzzFrames reads it, split into 20-byte lines), 2 "<- " and a
// failure text, 3 a line of raw text up to a NUL.
void ReadLine(CFuzzInput& input, CRecordPool& record)
{
    std::uint8_t kind = input.Byte();
    switch (kind % 4) {
    case 0:
    case 1: {
        std::uint8_t shape = input.Byte();
        Bytes frame = ReadReply(input, shape, 8192);
        record.Add(kind % 4 == 0 ? "-> " : "<- ", frame);
        break;
    }
    case 2:
        record.Next().assign("<- " + CKRMSProtocol::ErrorText(-static_cast<int>(input.Byte() % 9)));
        break;
    default:
        // The engine writes the record; whatever it holds, never a line break.
        record.Next().assign(WithoutBreaks(input.Text()));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    std::uint8_t choice = input.Byte();
    // Log names are the program's own texts: any text, but no line break.
    std::string name = choice < kLogNames.size() ? kLogNames[choice] : WithoutBreaks(input.Text());
    std::uint8_t flags = input.Byte();
    std::time_t when = static_cast<std::time_t>(input.Long());

    DecodeContext context;
    context.deviceChoice = ((flags >> 4) & 7) % 5;
    if (flags & 8) {
        for (BillTypeEntry& entry : context.billTable) {
            std::uint32_t raw = input.Long();
            std::memcpy(&entry.value, &raw, sizeof entry.value);
            Bytes country = input.Bytes(3);
            entry.country.assign(country.begin(), country.end());
        }
    }
    static CRecordPool pool;
    pool.Start();
    std::size_t lines = input.Below(8);
    for (std::size_t i = 0; i < lines && !input.Empty(); ++i)
        ReadLine(input, pool);
    const std::vector<std::string>& record = pool.Record();

    static CCheckingSink sink;
    sink.Clear();
    CExchangeLog log(nullptr, sink, [&context] { return context; });
    log.SetDecodeFlag(flags & 1);
    log.SetRawFrames((flags >> 1) & 1);
    log.SetSequenceFlag((flags >> 2) & 1);
    // Twice: with the sequence flag the second is a repeat.
    for (int pass = 0; pass < 2; ++pass) {
        std::size_t before = sink.Count();
        log.WriteExchange(name, record, when);
        std::size_t written = sink.Count() - before;
        if (written == 0) {
            Check((flags & 2) == 0, "raw frames wrote nothing");
            continue;
        }
        const std::string& header = sink.Line(before);
        Check(header.compare(0, 2 + name.size(), "->" + name) == 0 && header.back() == ')', "the header is not first");
        Check(sink.Last() == CExchangeLog::kSeparator, "the exchange does not end with the separator");
        for (std::size_t i = before + 1; i + 1 < sink.Count(); ++i)
            Check(sink.Line(i) != CExchangeLog::kSeparator, "a separator inside one exchange");
        if (flags & 2) {
            Check(written >= record.size() + 2, "raw lines missing");
            for (std::size_t i = 0; i < record.size(); ++i)
                Check(sink.Line(sink.Count() - 1 - record.size() + i) == record[i], "a raw line changed");
        }
        Check(log.GetLastExchangeText().size() >= name.size(), "the last exchange text lost its name");
    }
    return 0;
}
