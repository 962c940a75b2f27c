// The exchange assembler on any bytes from either side, in any split.
//
// Input: runs of (direction byte: low two bits controller/device/unknown,
// a split length 0..15 in the high nibble; run length; bytes). The same
// runs are fed once whole and once in pieces of the split length: both
// give the same exchanges, and every byte fed comes out in exactly one
// frame (nothing dropped, nothing made up). Every exchange's record is built.
// When no run is cut into pieces the second feed would be the first again
// and is left out; the runs point into the input instead of copying it.
#include "capture/CExchangeAssembler.h"
#include "capture/WireRecord.h"
#include "support/CFuzzInput.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

using namespace orvex;
using orvex::fuzz::CFuzzInput;

namespace {

struct Run {
    WireDirection direction;
    std::size_t split;
    std::span<const std::uint8_t> bytes;
};

// Keeps what each exchange showed, all in one text; the records and stray
// lines are built for the first run only (the second must match it frame
// for frame).
class CCollect : public CExchangeListener {
public:
    explicit CCollect(bool lines)
        : m_lines(lines)
    {
    }
    void OnExchange(const WireExchange& exchange) override
    {
        std::string& text = shown;
        text += '|';
        text += static_cast<char>('0' - exchange.result);
        for (const WireFrame& frame : exchange.frames) {
            bytes += frame.bytes.size();
            text += static_cast<char>('0' + static_cast<int>(frame.kind));
            text += static_cast<char>('0' + static_cast<int>(frame.direction));
            text.append(frame.bytes.begin(), frame.bytes.end());
        }
        if (!m_lines)
            return;
        if (exchange.kind == WireExchangeKind::Stray)
            (void)StrayLine(exchange);
        else
            (void)RecordOf(exchange);
    }
    void OnEvent(const WireEvent&) override { }
    std::string shown;
    std::size_t bytes { 0 };

private:
    bool m_lines;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFuzzInput input(data, size);
    std::vector<Run> runs;
    runs.reserve(64);
    std::size_t total = 0;
    bool cut = false;
    while (!input.Empty() && runs.size() < 64) {
        const std::uint8_t kind = input.Byte();
        const WireDirection direction = (kind & 3) == 0 ? WireDirection::FromController
            : (kind & 3) == 1                          ? WireDirection::FromDevice
                                                       : WireDirection::Unknown;
        const std::size_t split = kind >> 4;
        const Run run { direction, split, input.Span(input.Byte()) };
        total += run.bytes.size();
        cut = cut || (split != 0 && split < run.bytes.size());
        runs.push_back(run);
    }
    CCollect whole(true);
    whole.shown.reserve(2 * total + 64);
    CCollect pieces(false);
    {
        CExchangeAssembler assembler(whole);
        std::int64_t time = 0;
        for (const Run& run : runs)
            assembler.Feed(0, run.direction, time += 1000, run.bytes);
        assembler.Finish();
    }
    if (!cut) {
        if (whole.bytes != total)
            std::abort();
        return 0;
    }
    pieces.shown.reserve(whole.shown.size());
    {
        CExchangeAssembler assembler(pieces);
        std::int64_t time = 0;
        for (const Run& run : runs) {
            time += 1000;
            const std::size_t step = run.split == 0 ? run.bytes.size() : run.split;
            for (std::size_t at = 0; at < run.bytes.size(); at += step)
                assembler.Feed(0, run.direction, time, run.bytes.subspan(at, std::min(step, run.bytes.size() - at)));
        }
        assembler.Finish();
    }
    if (whole.bytes != total || pieces.bytes != total || whole.shown != pieces.shown)
        std::abort();
    return 0;
}
