// The real window (shell and page factory) over a store with fake seams, showing one section:
// GUI-thread CPU time from handing the store one snapshot of 64 devices and 128 tracks until
// the event loop is idle again, and the widgets added to or taken from the window and the widgets
// painted meanwhile.
// Cases: 0 an identical snapshot, 1 one device's link figures changed, 2 a device added.
// And the MIDI monitor with its buffer full: one batch of 1, 20 or 300 new events, with no filter
// and with a search text, until the window is painted again; and 1 new event after 50 ms idle.
#include "bench/ui/large_snapshot.h"
#include "bench/ui/monitor_events.h"
#include "core/bridge_store.h"
#include "core/bridge_store_ports.h"
#include "core/dialog_service.h"
#include "support/ui/no_dialogs.h"
#include "support/ui/window_over_store.h"

#include <QApplication>
#include <QChildEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace norv;

class QuietAdmin : public AdminClientPort {
public:
    void start(SnapshotHandler onSnapshot, BatchHandler onBatch, StateHandler onState) override {
        snapshot = std::move(onSnapshot);
        batch = std::move(onBatch);
        state = std::move(onState);
    }
    void send(const std::string&, const nlohmann::json&) override {}
    void request(const std::string&, const nlohmann::json&, Completion) override {}
    SnapshotHandler snapshot;
    BatchHandler batch;
    StateHandler state;
};

class RunningEngine : public EngineControlPort {
public:
    bool isRunning() const override { return true; }
    bool isPreparing() const override { return false; }
    void start(const BridgeLaunchConfiguration&) override {}
    void restart(const BridgeLaunchConfiguration&) override {}
    void stop() override {}
    void stopForQuit(std::function<void()> done) override {
        if (done) done();
    }
    void setChangeHandler(std::function<void()>) override {}
    std::optional<QString> lastError() const override { return std::nullopt; }
    QStringList logLines() const override { return {}; }
    std::optional<QString> identityFingerprint() const override { return std::nullopt; }
    void refreshLogs() override {}
    void exportDiagnostics(const QString&, ExportCompletion) override {}
};

class NoBluetooth : public BluetoothPort {
public:
    void start(const QString&, quint16, quint16) override {}
    void stop() override {}
    void setHandlers(std::function<void(const QString&)>, std::function<void(const QString&)>) override {}
};

// Counts the events the application delivers and the widgets added to or removed from parents.
class EventCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Timer && type != QEvent::ZeroTimerEvent) ++events;
        ++allEvents;
        if (type == QEvent::Paint) ++paints;
        if (type == QEvent::ChildAdded || type == QEvent::ChildRemoved) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child && child->isWidgetType()) ++(type == QEvent::ChildAdded ? added : removed);
        }
        return false;
    }
    long events = 0;
    long allEvents = 0;  // timers too
    long added = 0;
    long removed = 0;
    long paints = 0;  // widgets painted
};

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the event loop until a pass delivers nothing but timers (bounded); with `timers`, until a
// pass delivers nothing at all, as when a zero timer (an item view's delayed layout) paints.
void untilIdle(EventCounter& counter, bool timers = false) {
    for (int pass = 0; pass < 100; ++pass) {
        const long before = timers ? counter.allEvents : counter.events;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if ((timers ? counter.allEvents : counter.events) == before) return;
    }
}

struct World {
    explicit World(BridgeSection section) {
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto adminPort = std::make_unique<QuietAdmin>();
        admin = adminPort.get();
        BridgeStoreOptions options;
        options.startCheckDelay = std::chrono::hours(1);
        store = std::make_unique<BridgeStore>(std::move(adminPort), std::make_unique<RunningEngine>(),
                                              std::make_unique<NoBluetooth>(), dialogs, *settings, options);
        store->start();
        // The Live page reads only this bench's own folder and settings.
        window = test::windowOverStore(
            *store, [this] { return test::isolatedPageServices(dialogs, dir.path(), settings.get()); });
        window->resize(MainWindow::defaultSize);
        window->show();
        admin->state(AdminConnectionState::connected());
        admin->snapshot(bench::largeSnapshot());
        store->setSelection(section);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    test::NoDialogs dialogs;
    QuietAdmin* admin = nullptr;
    std::unique_ptr<BridgeStore> store;
    std::unique_ptr<MainWindow> window;
};

void BM_DeliverSnapshot(benchmark::State& state) {
    const BridgeSection section = BridgeSection::allCases()[static_cast<std::size_t>(state.range(0))];
    const int kind = static_cast<int>(state.range(1));
    const AdminSnapshot base = bench::largeSnapshot();
    const AdminSnapshot changed = bench::largeSnapshot(64, 1);
    const AdminSnapshot grown = bench::largeSnapshot(65);

    World world(section);
    EventCounter counter;
    qApp->installEventFilter(&counter);
    untilIdle(counter);

    std::vector<double> times;
    long widgetsAdded = 0, widgetsRemoved = 0, widgetsPainted = 0;
    int round = 0;
    for (auto _ : state) {
        const AdminSnapshot* next = &base;
        if (kind == 1) next = ++round % 2 ? &changed : &base;
        if (kind == 2) {
            world.admin->snapshot(base);
            untilIdle(counter);
            next = &grown;
        }
        const long addedBefore = counter.added, removedBefore = counter.removed, paintedBefore = counter.paints;
        const double start = threadSeconds();
        world.admin->snapshot(*next);
        untilIdle(counter);
        const double seconds = threadSeconds() - start;
        state.SetIterationTime(seconds);
        times.push_back(seconds);
        widgetsAdded += counter.added - addedBefore;
        widgetsRemoved += counter.removed - removedBefore;
        widgetsPainted += counter.paints - paintedBefore;
    }
    qApp->removeEventFilter(&counter);
    std::sort(times.begin(), times.end());
    const double n = static_cast<double>(times.size());
    state.counters["median_ms"] = times[times.size() / 2] * 1e3;
    state.counters["min_ms"] = times.front() * 1e3;  // the least disturbed run on a busy machine
    state.counters["widgets_added"] = static_cast<double>(widgetsAdded) / n;
    state.counters["widgets_removed"] = static_cast<double>(widgetsRemoved) / n;
    state.counters["widgets_painted"] = static_cast<double>(widgetsPainted) / n;
    state.SetLabel(QString::fromUtf8(section.rawValue().data(), static_cast<qsizetype>(section.rawValue().size()))
                       .toStdString() +
                   (kind == 0 ? " identical" : kind == 1 ? " one-changed" : " device-added"));
}
BENCHMARK(BM_DeliverSnapshot)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {0, 1, 2}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

MidiMonitorBatch monitorBatch(std::int64_t first, std::int64_t count) {
    MidiMonitorBatch batch;
    for (std::int64_t s = first; s < first + count; ++s) batch.events.push_back(bench::monitorEvent(s));
    batch.latestSequence = first + count - 1;
    return batch;
}

// Arguments: new events per batch; 0 no filter, 1 the search text "note"; the idle milliseconds
// before each batch. The demo's batches come about 50 ms apart and find the caches cold.
void BM_DeliverMidiBatch(benchmark::State& state) {
    const std::int64_t count = state.range(0);
    const auto idle = std::chrono::milliseconds(state.range(2));
    World world(BridgeSection::midiMonitor);
    if (state.range(1) != 0) {
        MidiMonitorFilter filter;
        filter.searchText = "note";
        world.store->setMidiMonitorFilter(filter);
    }
    std::int64_t next = 1;
    world.admin->batch(monitorBatch(next, BridgeStore::midiMonitorBufferLimit));
    next += BridgeStore::midiMonitorBufferLimit;
    EventCounter counter;
    qApp->installEventFilter(&counter);
    untilIdle(counter, true);

    std::vector<double> times, updates;  // the whole redraw, and the store and page before painting
    for (auto _ : state) {
        state.PauseTiming();
        MidiMonitorBatch batch = monitorBatch(next, count);
        next += count;
        if (idle.count() > 0) std::this_thread::sleep_for(idle);
        state.ResumeTiming();
        const long paintedBefore = counter.paints;
        const double start = threadSeconds();
        world.admin->batch(std::move(batch));  // handed over, as the admin channel does
        const double updated = threadSeconds();
        untilIdle(counter, true);
        const double seconds = threadSeconds() - start;
        state.SetIterationTime(seconds);
        times.push_back(seconds);
        updates.push_back(updated - start);
        state.counters["widgets_painted"] += static_cast<double>(counter.paints - paintedBefore);
    }
    qApp->removeEventFilter(&counter);
    std::sort(times.begin(), times.end());
    const double total = std::accumulate(times.begin(), times.end(), 0.0);
    state.counters["mean_ms"] = total / static_cast<double>(times.size()) * 1e3;  // what the demo pays on average
    state.counters["median_ms"] = times[times.size() / 2] * 1e3;
    state.counters["min_ms"] = times.front() * 1e3;
    state.counters["widgets_painted"] /= static_cast<double>(times.size());
    std::sort(updates.begin(), updates.end());
    state.counters["update_ms"] = updates[updates.size() / 2] * 1e3;
    state.SetLabel(std::to_string(count) + " new" + (state.range(1) != 0 ? ", search" : ", no filter") +
                   (idle.count() > 0 ? ", " + std::to_string(idle.count()) + " ms idle before" : ""));
}
BENCHMARK(BM_DeliverMidiBatch)
    ->ArgsProduct({{1, 20, 300}, {0, 1}, {0}})
    ->Args({1, 0, 50})
    ->Iterations(600)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
