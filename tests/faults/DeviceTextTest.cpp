// Texts a unit sends (barcodes, identification strings, country codes)
// reach the log as characters. Found by fuzzing the exchange log: a line
// break among them split a log line in two, so a saved log could be forged
// or misread; control bytes now show as '?'.
#include "decode/CExchangeLog.h"
#include "link/CCommand.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <mutex>
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
    void SetStatusText(std::string_view text) override { m_status.assign(text); }

    std::vector<std::string> m_lines;
    std::string m_status;
};

std::vector<std::string> Record(const Bytes& command, const Bytes& reply)
{
    std::vector<std::string> record;
    auto add = [&record](const char* prefix, const Bytes& frame) {
        std::string hex = HexText(frame.data(), static_cast<int>(frame.size()));
        for (std::size_t start = 0; start < hex.size(); start += 60)
            record.push_back(prefix + hex.substr(start, 60));
    };
    add("-> ", command);
    add("<- ", reply);
    add("-> ", Bytes { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82 });
    return record;
}

std::vector<std::string> Written(std::string_view name, const Bytes& replyData)
{
    CLineStore sink;
    CExchangeLog log(nullptr, sink);
    log.WriteExchange(name, Record(MakeFrame(3, { 0x3A }), MakeFrame(3, replyData)), 0);
    return sink.m_lines;
}

bool HasControlByte(const std::string& line)
{
    for (unsigned char c : line)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

} // namespace

TEST(DeviceText, LineBreakInBarcodeStaysOnOneLine)
{
    auto lines = Written("EXTRACT BARCODE", { 'A', '\n', '-', '>', 'P', '\r', 'B' });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "<- Barcode: A?->P?B");
    EXPECT_EQ(lines[2], CExchangeLog::kSeparator);
}

TEST(DeviceText, EscapeAndNulBytesShowAsQuestionMarks)
{
    auto lines = Written("EXTRACT BARCODE", { 0x1B, '[', '2', 'J', 0x00, 0x7F, 'x' });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "<- Barcode: ?[2J??x");
}

TEST(DeviceText, PrintableAndHighBytesAreKept)
{
    // Upper bytes may be a national code page; only control bytes go.
    auto lines = Written("EXTRACT BARCODE", { '1', '2', ' ', 0xC0, 0xFF });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string("<- Barcode: 12 \xC0\xFF"));
}

TEST(DeviceText, NoDecodedLineOfAnIdentificationHoldsAControlByte)
{
    Bytes data(40, '\n');
    for (const char* name : { "IDENTIFICATION", "VALIDATION SOFTWARE IDENTIFICATION", "MODULE IDENTIFICATION",
             "BILL TABLE", "DIAGNOSTIC IDENTIFICATION REQUEST" }) {
        for (const std::string& line : Written(name, data))
            EXPECT_FALSE(HasControlByte(line)) << name;
    }
}
