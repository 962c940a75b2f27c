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

#include <algorithm>
#include <span>
#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

class CLineSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        Check(!HasLineBreak(line), "a statistics line holds a line break", line);
        ++m_count;
        m_last.assign(line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }

    std::size_t m_count { 0 };
    std::string m_last;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    // One log for every run, as the program keeps one: its buffers are
    // reused, and nothing of one exchange reaches the next.
    static DecodeContext context;
    static CLineSink sink;
    static CExchangeLog log(nullptr, sink, [] { return context; });
    static CRecordPool pool;

    CFuzzInput input(bytes, size);
    std::uint8_t shape = input.Byte();
    std::size_t length = input.Word() % 9000;
    const std::span<const std::uint8_t> data = input.Span(input.Remaining());
    Bytes frame { wire::kSync, 0x01, 0x00, 0x00, 0x00 };
    frame.resize(std::max<std::size_t>(length, frame.size()));
    for (std::size_t i = 5; i < length; ++i)
        frame[i] = data.empty() ? 0 : data[(i - 5) % data.size()];
    if (frame.size() >= 6 && !(shape & 1))
        FinishReply(frame); // else: the length field says what the data said
    if (shape & 2 && !data.empty())
        frame[2] = data[0]; // a short frame in long clothes

    static const Bytes command { wire::kSync, 0x01, 0x06, 0x60, 0x00, 0x00 };
    pool.Start();
    pool.Add("-> ", command);
    pool.Add("<- ", frame);
    if (shape & 4)
        pool.Next().assign("-> 02 01 06 00 7A 37 ");

    context.deviceChoice = (shape >> 4) % 5;
    sink.m_count = 0;
    log.WriteExchange("REQUEST STATISTICS", pool.Record(), 0);
    Check(sink.m_count >= 3 && sink.m_last == CExchangeLog::kSeparator, "the exchange is not closed");
    return 0;
}
