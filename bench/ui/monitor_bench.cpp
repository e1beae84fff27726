// The plain walks over the full monitor buffer (4,000 events) and the table model refreshed from a
// list: what a new filter costs, and what every redraw cost before the page followed its buffer
// (BM_DeliverMidiBatch in window_bench.cpp measures a redraw now).
#include "bench/ui/monitor_events.h"
#include "ui/monitor/midi_monitor_view_model.h"
#include "ui/monitor/midi_monitor_table_model.h"
#include "ui/theme/norv_theme.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

using norv::MidiMonitorEvent;
using norv::MidiMonitorFilter;
using norv::MidiMonitorViewModel;

std::vector<MidiMonitorEvent> buffer() {
    std::vector<MidiMonitorEvent> events;
    for (int i = 1; i <= 4000; ++i) events.push_back(norv::bench::monitorEvent(i));
    return events;
}

std::string label(const std::string& id) { return "Tablet " + id; }

void BM_FilterAll(benchmark::State& state) {
    const auto events = buffer();
    MidiMonitorFilter filter;
    for (auto _ : state) benchmark::DoNotOptimize(filter.filteredIndices(events));
}
BENCHMARK(BM_FilterAll)->Unit(benchmark::kMicrosecond);

void BM_FilterWithSearch(benchmark::State& state) {
    const auto events = buffer();
    MidiMonitorFilter filter;
    filter.role = "instrument";
    filter.searchText = "ch 7";
    for (auto _ : state) benchmark::DoNotOptimize(filter.filteredIndices(events));
}
BENCHMARK(BM_FilterWithSearch)->Unit(benchmark::kMicrosecond);

void BM_MenuLists(benchmark::State& state) {
    const auto events = buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(MidiMonitorViewModel::deviceIds(events, label));
        benchmark::DoNotOptimize(MidiMonitorFilter::endpoints(events));
    }
}
BENCHMARK(BM_MenuLists)->Unit(benchmark::kMicrosecond);

// A redraw as a plain walk: filter, menu lists and the table's 1,000 newest rows.
void BM_RedrawTable(benchmark::State& state) {
    const auto events = buffer();
    MidiMonitorFilter filter;
    filter.searchText = state.range(0) != 0 ? "note" : "";
    norv::MidiMonitorTableModel model;
    for (auto _ : state) {
        const auto filtered = filter.filteredIndices(events);
        benchmark::DoNotOptimize(MidiMonitorViewModel::deviceIds(events, label));
        benchmark::DoNotOptimize(MidiMonitorFilter::endpoints(events));
        model.refresh(events, filtered, label);
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_RedrawTable)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    norv::NorvTheme::applyTo(app);  // styled as the application is: painting goes through its style sheet
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
