// Replies shorter than the fields a decoder reads. Found by fuzzing the
// operator panel: a statistics reply that ends before the currency names
// copied from an empty text with no data (undefined behaviour, caught by
// the sanitizer builds).
#include "decode/CExchangeLog.h"
#include "link/CCommand.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace orvex;
using orvex::test::Bytes;
using orvex::test::MakeFrame;

namespace {

class CLineStore final : public CLogSink {
public:
    void AddLine(std::string_view line) override { m_lines.emplace_back(line); }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    std::vector<std::string> m_lines;
};

std::vector<std::string> RecordOf(const Bytes& reply)
{
    std::vector<std::string> record { "-> 02 01 06 60 1F 3B " };
    std::string hex = HexText(reply.data(), static_cast<int>(reply.size()));
    for (std::size_t start = 0; start < hex.size(); start += 60)
        record.push_back("<- " + hex.substr(start, 60));
    record.push_back("-> 02 01 06 00 7A 37 ");
    return record;
}

} // namespace

TEST(ShortReply, StatisticsEndingBeforeTheCurrencyNamesShowsThemEmpty)
{
    for (std::size_t data : { 300u, 1000u, 4300u }) {
        CLineStore sink;
        CExchangeLog log(nullptr, sink);
        log.WriteExchange("REQUEST STATISTICS", RecordOf(MakeFrame(1, Bytes(data, 0x01))), 0);
        ASSERT_FALSE(sink.m_lines.empty());
        EXPECT_EQ(sink.m_lines.back(), CExchangeLog::kSeparator);
        EXPECT_NE(std::find(sink.m_lines.begin(), sink.m_lines.end(), "<-  Currency names: "), sink.m_lines.end())
            << data << " data bytes";
    }
}
