// Decoding cost of the exchange log: one POLL exchange (header, decoded
// line, separator) and a full statistics reply (about 130 lines), each into
// a sink that stores its lines.

#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "decode/Decoders.h"
#include "link/Frame.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace orvex {

namespace {

class CStoringSink : public CLogSink {
public:
    void AddLine(std::string_view line) override { m_lines.emplace_back(line); }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view text) override { m_status.assign(text); }
    void Clear() { m_lines.clear(); }
    std::size_t Size() const { return m_lines.size(); }

private:
    std::vector<std::string> m_lines;
    std::string m_status;
};

std::vector<std::string> RecordLines(const char* prefix, const std::vector<std::uint8_t>& frame)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < frame.size(); start += 20) {
        std::string line = prefix;
        for (std::size_t index = start; index < frame.size() && index < start + 20; ++index) {
            char group[4];
            std::snprintf(group, sizeof group, "%02X ", frame[index]);
            line += group;
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::uint8_t> Frame(std::uint8_t address, const std::vector<std::uint8_t>& data)
{
    return BuildFrame(address, data);
}

std::vector<std::string> Record(const std::vector<std::uint8_t>& command, const std::vector<std::uint8_t>& reply)
{
    std::vector<std::string> record = RecordLines("-> ", command);
    for (const std::string& line : RecordLines("<- ", reply))
        record.push_back(line);
    record.push_back("-> 02 01 06 00 C2 82 ");
    return record;
}

std::vector<std::uint8_t> StatisticsData()
{
    // From the country code (offset 5) to the end of the currency names.
    std::vector<std::uint8_t> data(4341 - 5, 0);
    auto at = [&data](int offset) -> std::uint8_t& { return data[static_cast<std::size_t>(offset - 5)]; };
    at(5) = 'R';
    at(6) = 'U';
    at(7) = 'S';
    at(8) = 20;
    at(10) = 0xEA;
    at(11) = 0x07;
    at(12) = 3;
    at(13) = 7;
    for (int offset = 37; offset < 2901; ++offset)
        at(offset) = static_cast<std::uint8_t>(offset * 7);
    for (int denomination = 0; denomination < 20; ++denomination) {
        int offset = 4241 + 5 * denomination;
        at(offset) = static_cast<std::uint8_t>(0x40 | (denomination + 1));
        at(offset + 1) = 'R';
        at(offset + 2) = 'U';
        at(offset + 3) = 'S';
        at(offset + 4) = 2;
    }
    for (char character : std::string("RUS,USD,EUR.more"))
        data.push_back(static_cast<std::uint8_t>(character));
    data.push_back(0);
    return data;
}

void PollExchangeDecode(benchmark::State& state)
{
    CStoringSink sink;
    DecodeContext table;
    table.deviceChoice = kDeviceChoiceCyclor;
    CExchangeLog log(nullptr, sink, [&table] { return table; });
    std::vector<std::string> record = Record(Frame(3, { 0x33 }), Frame(3, { 0x14 }));
    for (auto _ : state) {
        log.WriteExchange("POLL", record, 1000000);
        if (sink.Size() > 4096)
            sink.Clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PollExchangeDecode);

void PollEscrowDecode(benchmark::State& state)
{
    CStoringSink sink;
    DecodeContext table;
    table.deviceChoice = kDeviceChoiceCyclor;
    table.billTable[2] = BillTypeEntry { 10.0f, "RUS", 0 };
    CExchangeLog log(nullptr, sink, [&table] { return table; });
    std::vector<std::string> record = Record(Frame(3, { 0x33 }), Frame(3, { 0x81, 0x02, 0x01 }));
    for (auto _ : state) {
        log.WriteExchange("POLL", record, 1000000);
        if (sink.Size() > 4096)
            sink.Clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PollEscrowDecode);

void StatisticsDecode(benchmark::State& state)
{
    CStoringSink sink;
    CExchangeLog log(nullptr, sink);
    std::vector<std::string> record = Record(Frame(1, { 0x60 }), Frame(1, StatisticsData()));
    log.WriteExchange("REQUEST STATISTICS", record, 1000000);
    state.counters["lines"] = static_cast<double>(sink.Size());
    for (auto _ : state) {
        sink.Clear();
        log.WriteExchange("REQUEST STATISTICS", record, 1000000);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StatisticsDecode);

} // namespace

} // namespace orvex

BENCHMARK_MAIN();
