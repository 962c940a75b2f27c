#pragma once

#include "link/CheckCode.h"
#include "support/CFuzzInput.h"
#include "support/CScriptedUnit.h"

#include <string>
#include <string_view>
#include <vector>

namespace orvex::fuzz {

// How the raw bytes of a reply are shaped before they are played back, so
// that valid short and long frames are as easy to reach as broken ones.
enum ReplyShape : std::uint8_t {
    kForceSync = 1,      // byte 0 is 0x02
    kForceLength = 2,    // the length field describes the bytes given
    kPadToLength = 4,    // the bytes are filled up to the declared length
    kFixCheckCode = 8,   // the check code is the right one
    kSplitAnywhere = 16, // the bytes come in bursts cut at chosen places
    kWriteFails = 128,   // the host's write of the command fails
};

// Reply length (16 bits) and bytes, shaped as `shape` says. Padding stops
// at `padLimit` bytes.
Bytes ReadReply(CFuzzInput& input, std::uint8_t shape, std::size_t padLimit = 2048);
// One burst, or with kSplitAnywhere a burst count (0..3) and each burst's
// length (16 bits).
CScriptedUnit::Reply ReadBursts(CFuzzInput& input, const Bytes& bytes, std::uint8_t shape);

// The check code (CRC-16/KERMIT) computed here, apart from the project's
// own, so the harnesses judge frames independently of the code under test.
std::uint16_t ReferenceCheckCode(const std::uint8_t* bytes, std::size_t count);

// "%02X " per byte, and the total length a header declares (short or long
// form; at least 5 bytes given), likewise apart from the project's code.
std::string ReferenceHex(const std::uint8_t* bytes, std::size_t count);
inline std::string ReferenceHex(const Bytes& bytes) { return ReferenceHex(bytes.data(), bytes.size()); }
std::size_t DeclaredLength(const Bytes& header);

// Sets the length field (short or long form) and the check code of a frame.
void FinishReply(Bytes& frame);

// The engine's record lines of a frame: the prefix and "%02X " groups, 20
// bytes a line.
std::vector<std::string> RecordLines(std::string_view prefix, const Bytes& frame);
void AddRecordLines(std::vector<std::string>& record, std::string_view prefix, const Bytes& frame);
// Line `start / 20` of them, written over `line`.
void PutRecordLine(std::string& line, std::string_view prefix, const Bytes& frame, std::size_t start);

// A record built anew each run in strings kept from earlier runs: long
// records cost no allocation once their size has been seen, and a run
// never ends holding more than it freed (libFuzzer would look for a leak).
class CRecordPool {
public:
    void Start();
    void Add(std::string_view prefix, const Bytes& frame);
    std::string& Next();
    // The lines added since Start.
    const std::vector<std::string>& Record();

private:
    std::vector<std::string> m_record;
    std::vector<std::string> m_spare;
    std::size_t m_used { 0 };
};

} // namespace orvex::fuzz
