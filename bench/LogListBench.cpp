// The window's log list at ten million lines: appending through the model
// (no view), scrolling the offscreen view to the end, saving to a file,
// filtering by one field (errors, bill events, one command).
// Goals: appending above 2,000,000 lines/s, memory within the text plus 32
// bytes a line, scroll-to-end under 16 ms, saving under 2 s, filtering
// under 1 s.

#include "app/window/CLogListModel.h"
#include "app/window/CLogListView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t kLines = 10'000'000;
constexpr std::size_t kLineLength = 40;
// Lines handed over per frame while appending: 2,000,000 lines/s at 60 Hz.
constexpr std::size_t kLinesPerFrame = 32768;

std::string MakeLine(std::size_t number)
{
    std::string line = "<- 02 03 06 " + std::to_string(number);
    line.resize(kLineLength, 'x');
    return line;
}

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void Fill(orvex::CLogListModel& model)
{
    const std::string line = MakeLine(0);
    for (std::size_t i = 0; i < kLines; ++i) {
        model.AddLine(line);
        if (i % kLinesPerFrame == 0)
            model.FlushPending();
    }
    model.FlushPending();
}

void AppendTenMillionLines(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto model = std::make_unique<orvex::CLogListModel>();
        long residentBefore = ResidentBytes();
        state.ResumeTiming();
        Fill(*model);
        state.PauseTiming();
        double text = static_cast<double>(kLines * kLineLength);
        state.counters["overhead_bytes_per_line"] = (static_cast<double>(model->MemoryUsage()) - text) / kLines;
        state.counters["resident_overhead_bytes_per_line"] = (static_cast<double>(ResidentBytes() - residentBefore) - text) / kLines;
        model.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLines));
}
BENCHMARK(AppendTenMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

struct Filled {
    orvex::CLogListModel model;
    orvex::CLogListView view;
    Filled()
    {
        view.setModel(&model);
        QObject::connect(&model, &orvex::CLogListModel::LongestLineChanged, &view, &orvex::CLogListView::SetLongestLine);
        view.resize(600, 800);
        view.show();
        Fill(model);
        QApplication::processEvents();
    }
};

Filled& TenMillion()
{
    static Filled* filled = new Filled;
    return *filled;
}

void ScrollToEndAtTenMillionLines(benchmark::State& state)
{
    Filled& filled = TenMillion();
    for (auto _ : state) {
        state.PauseTiming();
        filled.view.scrollToTop();
        filled.view.repaint();
        state.ResumeTiming();
        // One frame's work: the scroll, and the paint of what comes into view.
        filled.view.scrollToBottom();
        filled.view.repaint();
    }
    state.counters["painted_rows"] = filled.view.LastPaintedRows();
    state.counters["at_end"] = filled.view.verticalScrollBar()->value() == filled.view.verticalScrollBar()->maximum();
}
BENCHMARK(ScrollToEndAtTenMillionLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void SaveTenMillionLines(benchmark::State& state)
{
    Filled& filled = TenMillion();
    QTemporaryDir directory(QDir::tempPath() + QStringLiteral("/orvex-bench-XXXXXX"));
    QString path = directory.filePath(QStringLiteral("log.txt"));
    for (auto _ : state) {
        if (!filled.model.SaveToFile(path))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLines * (kLineLength + 1)));
}
BENCHMARK(SaveTenMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Exchanges as polling writes them with raw frames on: a header, the
// frames, the decoded line, a separator; every eighth exchange a timeout,
// every sixteenth a stacked bill.
void FillExchanges(orvex::CLogListModel& model)
{
    const std::string separator(132, '-');
    std::size_t written = 0;
    for (std::size_t exchange = 0; written < kLines; ++exchange) {
        model.AddLine("->POLL (12:00:00)");
        model.AddLine("-> 02 03 06 33 DA 81");
        if (exchange % 8 == 7) {
            model.AddLine("<- Timeout");
        } else {
            model.AddLine("<- 02 03 06 14 A5 B1");
            model.AddLine(exchange % 16 == 3 ? "<- **************    10 RUS packed into cassette 1     **************" : "<- IDLING");
        }
        model.AddLine(separator);
        written += exchange % 8 == 7 ? 4 : 5;
        if (exchange % 8192 == 0)
            model.FlushPending();
    }
    model.FlushPending();
}

void FilterTenMillionLines(benchmark::State& state)
{
    static const orvex::CLogFilter::Kind kinds[] { orvex::CLogFilter::Kind::Errors, orvex::CLogFilter::Kind::BillEvents,
        orvex::CLogFilter::Kind::LogName };
    const auto kind = kinds[state.range(0)];
    auto model = std::make_unique<orvex::CLogListModel>();
    FillExchanges(*model);
    for (auto _ : state) {
        model->SetFilter(orvex::CLogFilter(kind, "POLL"));
        state.PauseTiming();
        state.counters["rows_shown"] = model->rowCount();
        model->SetFilter(orvex::CLogFilter());
        state.ResumeTiming();
    }
    state.counters["lines"] = static_cast<double>(model->LineCount());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * model->LineCount()));
}
// 0: errors only, 1: bill events only, 2: one command (every line shown).
BENCHMARK(FilterTenMillionLines)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
