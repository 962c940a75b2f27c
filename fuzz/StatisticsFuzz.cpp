// The statistics decoder on long frames: a REQUEST STATISTICS exchange
// whose reply is a long frame of any length, filled from the input and
// recorded 20 bytes a line as the engine does, written through the
// exchange log; no line of it may hold a line break.
//
// Input: shape byte (as FuzzFrames), the declared total length (16 bits),
// the first bytes of the data; the rest of the frame repeats them.
#include "decode/CExchangeLog.h"
#include "link/CheckCode.h"
#include "support/CFuzzInput.h"
#include "support/FuzzCheck.h"
#include "support/FuzzFrames.h"

#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

class CLineSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        Check(line.find_first_of("\r\n") == std::string_view::npos, "a statistics line holds a line break", line);
        m_lines.emplace_back(line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }

    std::vector<std::string> m_lines;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    std::uint8_t shape = input.Byte();
    std::size_t length = input.Word() % 9000;
    Bytes data = input.Bytes(input.Remaining());
    Bytes frame { kSync, 0x01, 0x00, 0x00, 0x00 };
    for (std::size_t i = frame.size(); i < length; ++i)
        frame.push_back(data.empty() ? 0 : data[(i - 5) % data.size()]);
    if (frame.size() >= 6 && !(shape & 1))
        FinishReply(frame); // else: the length field says what the data said
    if (shape & 2 && !data.empty())
        frame[2] = data[0]; // a short frame in long clothes

    std::vector<std::string> record = RecordLines("-> ", Bytes { kSync, 0x01, 0x06, 0x60, 0x00, 0x00 });
    for (std::string& line : RecordLines("<- ", frame))
        record.push_back(std::move(line));
    if (shape & 4)
        record.push_back("-> 02 01 06 00 7A 37 ");

    DecodeContext context;
    context.deviceChoice = (shape >> 4) % 5;
    CLineSink sink;
    CExchangeLog log(nullptr, sink, [&context] { return context; });
    log.WriteExchange("REQUEST STATISTICS", record, 0);
    Check(sink.m_lines.size() >= 3 && sink.m_lines.back() == CExchangeLog::kSeparator, "the exchange is not closed");
    return 0;
}
