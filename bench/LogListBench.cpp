// The window's log list at ten million lines: appending through the model
// (no view), scrolling the offscreen view to the end, saving to a file.
// Goals: appending above 2,000,000 lines/s, memory within the text plus 32
// bytes a line, scroll-to-end under 16 ms, saving under 2 s.

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
