// Filtering the full monitor buffer (4,000 events) and refreshing the table model from it: both
// run on every redraw, so together they must stay well under one 16 ms frame.
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
    static const char* kinds[] = {"note", "cc", "pitch_bend", "channel_pressure", "poly_aftertouch", "program_change"};
    std::vector<MidiMonitorEvent> events;
    for (int i = 0; i < 4000; ++i) {
        MidiMonitorEvent e;
        e.sequence = i + 1;
        e.timestamp = 1765269000.0 + i * 0.004;
        e.deviceId = "device-" + std::to_string(i % 6);
        e.endpoint = "Norv Endpoint " + std::to_string(i % 9);
        e.role = i % 3 == 0 ? "surface" : "instrument";
        e.kind = kinds[i % 6];
        e.channel = 1 + i % 16;
        e.number = i % 128;
        e.value = (i * 37) % 128;
        e.bytes = {0x90, e.number, e.value};
        e.source = "wifi";
        events.push_back(e);
    }
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

// One redraw of the page: filter, menu lists and the table's 1,000 newest rows.
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
