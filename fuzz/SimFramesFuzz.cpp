// The virtual peripheral's frame parser on any bytes: every frame found is
// a contiguous, well-formed piece of the input with a valid check code, in
// order; nothing is consumed twice or past the end. The incremental parser
// fed the bytes whole finds the same frames, and fed them in chunks only
// sound frames of the input.
//
// Input: chunk count (0..7), each chunk length (16 bits), then the bytes.
#include "sim/SimFrameParser.h"
#include "support/CFuzzInput.h"
#include "support/FuzzCheck.h"
#include "support/FuzzFrames.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace orvex;
using namespace orvex::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    std::size_t chunkCount = input.Below(7);
    std::vector<std::size_t> chunks;
    for (std::size_t i = 0; i < chunkCount; ++i)
        chunks.push_back(input.Word());
    Bytes data = input.Bytes(input.Remaining());

    SimFrameScan scan = ScanFrames(data.data(), data.size());
    Check(scan.consumed <= data.size() && scan.skipped <= scan.consumed, "consumed or skipped past the input");
    std::size_t searchFrom = 0;
    std::size_t frameBytes = 0;
    for (const SimBytes& frame : scan.frames) {
        Check(frame.size() >= 6 && frame.size() <= kSimMaxCommandFrame, "a frame of impossible length");
        Check(frame[0] == wire::kSync && DeclaredLength(frame) == frame.size(), "a frame whose header does not fit it");
        std::uint16_t code = ReferenceCheckCode(frame.data(), frame.size() - 2);
        Check(frame[frame.size() - 2] == (code & 0xFF) && frame[frame.size() - 1] == (code >> 8), "a frame with a bad check code");
        auto at = std::search(data.begin() + static_cast<long>(searchFrom), data.end(), frame.begin(), frame.end());
        Check(at != data.end(), "a frame that is not a piece of the input, in order");
        searchFrom = static_cast<std::size_t>(at - data.begin()) + frame.size();
        frameBytes += frame.size();
    }
    Check(searchFrom <= scan.consumed || scan.frames.empty(), "a frame past what was consumed");
    Check(frameBytes + scan.skipped == scan.consumed, "consumed bytes are neither frames nor noise");

    // The same bytes in chunks, close together in time.
    CSimFrameParser parser;
    auto now = CSimFrameParser::Clock::time_point {} + std::chrono::hours(1);
    std::vector<SimBytes> found;
    std::size_t start = 0;
    for (std::size_t chunk : chunks) {
        std::size_t take = std::min(chunk, data.size() - start);
        for (SimBytes& frame : parser.Feed(data.data() + start, take, now))
            found.push_back(std::move(frame));
        start += take;
        now += std::chrono::milliseconds(1);
    }
    for (SimBytes& frame : parser.Feed(data.data() + start, data.size() - start, now))
        found.push_back(std::move(frame));
    if (found != scan.frames && std::getenv("ORVEX_FUZZ_SHOW")) {
        auto show = [](const char* what, const std::vector<SimBytes>& frames) {
            std::fprintf(stderr, "%s:\n", what);
            for (const SimBytes& frame : frames)
                std::fprintf(stderr, "  %s\n", ReferenceHex(frame).c_str());
        };
        show("scan", scan.frames);
        show("incremental", found);
        std::fprintf(stderr, "chunks:");
        for (std::size_t chunk : chunks)
            std::fprintf(stderr, " %zu", chunk);
        std::fprintf(stderr, "\ndata: %s\n", ReferenceHex(data).c_str());
    }
    // Fed whole, the incremental parser is the scan. Fed in chunks it may
    // give up an unfinished frame for a complete one inside it (the scan's
    // look-ahead), so then each frame must only be sound.
    if (chunks.empty())
        Check(found == scan.frames, "the incremental parser found other frames than the scan");
    for (const SimBytes& frame : found) {
        std::uint16_t code = frame.size() >= 6 ? ReferenceCheckCode(frame.data(), frame.size() - 2) : 0;
        Check(frame.size() >= 6 && frame.size() <= kSimMaxCommandFrame && frame[0] == wire::kSync
                && DeclaredLength(frame) == frame.size() && frame[frame.size() - 2] == (code & 0xFF)
                && frame[frame.size() - 1] == (code >> 8),
            "the incremental parser found a frame that is not sound");
        Check(std::search(data.begin(), data.end(), frame.begin(), frame.end()) != data.end(),
            "the incremental parser found a frame that is not in the input");
    }
    if (chunks.empty())
        Check(parser.Pending() == data.size() - scan.consumed, "the incremental parser keeps another tail");
    // After the gap the tail is gone.
    parser.Idle(now + std::chrono::seconds(1));
    Check(parser.Pending() == 0, "an unfinished frame outlived the gap");
    return 0;
}
