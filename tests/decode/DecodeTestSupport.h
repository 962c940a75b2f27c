#pragma once

#include "support/PtyPeer.h"
#include "decode/CLogSink.h"
#include "decode/DecodeContext.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::test {

// "%02X " groups after the prefix, 20 bytes a line, as the engine records.
std::vector<std::string> RecordLines(std::string_view prefix, const Bytes& frame);

// A data exchange: the command, the reply and the host's ACK.
std::vector<std::string> Exchange(const Bytes& command, const Bytes& reply);
// The same with a reply frame built from address and data.
std::vector<std::string> ReplyRecord(std::uint8_t address, const Bytes& data);
// A failed exchange: the command and "<- " with the failure text.
std::vector<std::string> FailedRecord(std::string_view failure);

// All lines a reply decoder gives (the added ones, then the returned one).
std::vector<std::string> DecodeReply(ReplyDecoder decoder, const std::vector<std::string>& record,
    const DecodeContext& context = {});
// The lines a request decoder adds.
std::vector<std::string> DecodeRequest(RequestDecoder decoder, const std::vector<std::string>& record,
    const DecodeContext& context = {});

// The table of bill type 2 worth 10 RUS, with a few more entries.
DecodeContext RussianContext(int deviceChoice = kDeviceChoiceCyclor);

// Stores what the log writes; safe from two threads.
class CStoringSink : public CLogSink {
public:
    void AddLine(std::string_view line) override;
    void SelectLastLine() override;
    void SetStatusText(std::string_view text) override;

    std::vector<std::string> Lines() const;
    std::string Status() const;
    int Selections() const;
    void Clear();

private:
    mutable std::mutex m_mutex; // guards everything below
    std::vector<std::string> m_lines;
    std::string m_status;
    int m_selections { 0 };
};

} // namespace orvex::test
