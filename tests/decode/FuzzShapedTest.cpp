#include "DecodeTestSupport.h"
#include "decode/CExchangeLog.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

#include <random>

using namespace orvex;
using namespace orvex::test;

namespace {

// Every log name against the same record, through the whole log.
void WriteUnderEveryName(const std::vector<std::string>& record)
{
    CStoringSink sink;
    CExchangeLog log(nullptr, sink, [] { return RussianContext(); });
    log.SetRawFrames(1);
    for (const DecoderEntry& entry : DecoderEntries())
        log.WriteExchange(entry.name, record, 0);
    // And a name without decoders: the header and an empty line.
    log.WriteExchange("GET FUNDS", record, 0);
    EXPECT_FALSE(sink.Lines().empty());
}

} // namespace

TEST(FuzzShaped, TruncatedLinesOfEveryLength)
{
    Bytes data(60, 0xFF);
    data[0] = 0x10;
    std::vector<std::string> full = ReplyRecord(1, data);
    for (std::size_t length = 0; length <= full[1].size(); ++length) {
        std::vector<std::string> record = full;
        record[1].resize(length);
        record.resize(2);
        WriteUnderEveryName(record);
        record[0].resize(std::min(record[0].size(), length));
        WriteUnderEveryName(record);
    }
}

TEST(FuzzShaped, LengthBytesThatDisagreeWithTheBytesPresent)
{
    for (int length : { 0, 1, 2, 5, 6, 7, 9, 30, 109, 125, 200, 255 }) {
        for (std::uint8_t first : { 0x00, 0x10, 0x11, 0x17, 0x3C, 0x3D, 0x30, 0xFF }) {
            char line[64];
            std::snprintf(line, sizeof line, "<- 02 01 %02X %02X FF 10 ", length, first);
            WriteUnderEveryName({ "-> 02 01 07 62 10 ", line });
            WriteUnderEveryName({ "-> 02 01 07 62 10 ", line, "<- 00 00 " });
        }
    }
    // A long frame announcing 65535 bytes with almost none present.
    WriteUnderEveryName({ "-> 02 01 06 60 ", "<- 02 01 00 FF FF 41 42 " });
    WriteUnderEveryName({ "-> 02 01 06 60 ", "<- 02 01 00 00 03 " });
}

TEST(FuzzShaped, RandomBytesAndCharacters)
{
    std::mt19937 random(12345);
    const char alphabet[] = "0123456789ABCDEF -<>aZ\x01\xFF";
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> record;
        int lines = static_cast<int>(random() % 6);
        for (int line = 0; line < lines; ++line) {
            std::string text = random() % 2 ? "<- " : "-> ";
            if (random() % 2) {
                // Well-formed groups with random values.
                int groups = static_cast<int>(random() % 24);
                for (int group = 0; group < groups; ++group) {
                    char cell[4];
                    std::snprintf(cell, sizeof cell, "%02X ", static_cast<unsigned>(random() % 256));
                    text += cell;
                }
            } else {
                int characters = static_cast<int>(random() % 70);
                for (int character = 0; character < characters; ++character)
                    text += alphabet[random() % (sizeof alphabet - 1)];
            }
            record.push_back(text);
        }
        WriteUnderEveryName(record);
    }
}

TEST(FuzzShaped, RandomStatisticsFrames)
{
    std::mt19937 random(777);
    for (int round = 0; round < 20; ++round) {
        Bytes data(static_cast<std::size_t>(random() % 4600), 0);
        for (std::uint8_t& byte : data)
            byte = static_cast<std::uint8_t>(random());
        std::vector<std::string> record = ReplyRecord(1, data);
        if (random() % 2)
            record.resize(record.size() / 2);
        WriteUnderEveryName(record);
    }
}
