// The monitor page over the store follows the buffer as it changes; after every change it must
// show exactly what the plain walk over the whole buffer gives: rows, menus, titles, counters,
// empty states and the exported events. Random streams and filter changes, fixed seeds.
#include "core/bridge_store.h"
#include "tests/support/core/store_fakes.h"
#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/monitor/midi_monitor_table_view.h"
#include "ui/pages/page_factory.h"
#include "ui/theme/page_components.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>
#include <random>

namespace norv {
namespace {

// Names that sort and compare in every way the page distinguishes: case, composed and decomposed
// accents, "shared", and values that will have left the buffer.
const std::vector<std::string> kDevices = {"ipad", "pixel", "shared", "caf\u00e9", "cafe\u0301", "Zed", "gone"};
const std::vector<std::string> kEndpoints = {"Keys", "Pads", "alpha", "Alpha", "Caf\u00e9 Pad", "Cafe\u0301 Pad", "Gone"};
const std::vector<std::string> kRoles = {"instrument", "surface", "other"};
const std::vector<std::string> kKinds = {"note", "cc", "pitch_bend", "poly_aftertouch", "channel_pressure",
                                         "program_change"};
const std::vector<std::string> kSearches = {"", "  \n", "note", "ch 1", "C4", "PITCH", "caf\u00e9", "zzz"};
const std::vector<std::string> kLabels = {"Studio iPad", "studio ipad", "", "Pixel", "Alpha"};

class Stream {
public:
    explicit Stream(unsigned seed) : random_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    template <typename T>
    const T& pick(const std::vector<T>& from) { return from[static_cast<std::size_t>(below(static_cast<int>(from.size())))]; }

    // Mostly rising sequences; sometimes an old or repeated one, or a restart from 1.
    MidiMonitorBatch batch() {
        MidiMonitorBatch batch;
        if (below(25) == 0) next_ = 1;  // the engine restarted: a lower latest sequence
        const int count = below(5) == 0 ? 500 + below(1500) : below(30);
        for (int i = 0; i < count; ++i) {
            const std::int64_t sequence = below(20) == 0 ? std::max<std::int64_t>(0, next_ - below(50)) : next_++;
            batch.events.push_back(event(sequence));
        }
        batch.latestSequence = next_ - 1;
        batch.reset = below(25) == 0;
        batch.dropped = below(4) == 0 ? below(5) : 0;
        return batch;
    }

    MidiMonitorEvent event(std::int64_t sequence) {
        MidiMonitorEvent e = test::event(sequence, pick(kDevices), pick(kEndpoints), pick(kRoles), pick(kKinds),
                                         1 + below(16), below(3) == 0 ? 74 : 55 + below(10), below(16384));
        if (below(10) == 0) e.bytes.clear();
        return e;
    }

    MidiMonitorFilter filter(MidiMonitorFilter filter) {
        switch (below(7)) {
            case 0: filter.role = below(3) ? "all" : pick(kRoles); break;
            case 1: filter.deviceId = below(3) ? "all" : pick(kDevices); break;
            case 2: filter.endpoint = below(3) ? "all" : pick(kEndpoints); break;
            case 3: filter.channel = below(3) ? 0 : 1 + below(16); break;
            case 4: filter.families.toggle(MidiMessageFamily::allCases()[static_cast<std::size_t>(below(5))]); break;
            case 5: filter.families = MidiFamilySet::all(); break;
            default: filter.searchText = pick(kSearches); break;
        }
        return filter;
    }

    AdminSnapshot snapshot() {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        for (const std::string& id : kDevices) {
            if (below(3) == 0) continue;
            BridgeDevice device;
            device.deviceId = id;
            device.label = pick(kLabels);
            snapshot.devices.push_back(device);
        }
        if (below(3) == 0) snapshot.midiEvents = {event(next_++), event(next_++)};
        return snapshot;
    }

private:
    std::mt19937 random_;
    std::int64_t next_ = 1;
};

QStringList menuTexts(QToolButton* button, QStringList* symbols) {
    Q_EMIT button->menu()->aboutToShow();
    QStringList texts;
    const QList<QAction*> actions = button->menu()->actions();
    for (qsizetype i = 2; i < actions.size(); ++i) {  // after the "All" item and the divider
        texts.append(actions[i]->text());
        symbols->append(actions[i]->property("symbolName").toString());
    }
    return texts;
}

class MonitorPlainWalk : public test::FakeStoreTest {
protected:
    // What the plain walk over the whole buffer gives, against what the page shows.
    void expectPlainWalk(MidiMonitorPage& page, const std::string& context) {
        SCOPED_TRACE(context);
        const std::vector<MidiMonitorEvent> events = store->midiMonitorEvents().toVector();
        const MidiMonitorFilter& filter = store->midiMonitorFilter();
        const auto labels = monitorDeviceLabels(store->snapshot().devices);
        const MidiMonitorViewModel::DeviceLabel label = [&](const std::string& id) {
            return monitorDeviceLabel(labels, id);
        };
        const std::vector<MidiMonitorEvent> filtered = filter.filteredEvents(events);
        ASSERT_EQ(page.filteredEvents(), filtered);

        EXPECT_EQ(page.eventsLabel()->text(), QString::number(events.size()) + " EVENTS");
        EXPECT_EQ(page.droppedLabel()->text(), QString::number(store->midiDroppedEventCount()) + " DROPPED");
        EXPECT_EQ(!page.droppedLabel()->isHidden(), store->midiDroppedEventCount() > 0);
        EXPECT_EQ(page.exportButton()->isEnabled(), !filtered.empty());
        EXPECT_EQ(page.clearButton()->isEnabled(), !events.empty());
        EXPECT_EQ(page.showingTable(), !filtered.empty());
        if (filtered.empty()) {
            EXPECT_EQ(page.emptyState()->titleLabel()->text(), events.empty() ? "Waiting for MIDI" : "No matching events");
        }

        EXPECT_EQ(page.deviceMenu()->text(), MidiMonitorViewModel::deviceFilterTitle(filter, label));
        EXPECT_EQ(page.endpointMenu()->text(), MidiMonitorViewModel::endpointFilterTitle(filter));
        EXPECT_EQ(page.messageMenu()->text(), MidiMonitorViewModel::messageTypeFilterTitle(filter));
        const auto expectMenu = [](QToolButton* menu, const std::vector<std::string>& choices,
                                   const std::function<std::string(const std::string&)>& text,
                                   const std::string& chosen) {
            QStringList symbols, wantedTexts, wantedSymbols;
            for (const std::string& choice : choices) {
                wantedTexts.append(QString::fromStdString(text(choice)));
                wantedSymbols.append(choice == chosen ? "checkmark" : "circle");
            }
            EXPECT_EQ(menuTexts(menu, &symbols), wantedTexts);
            EXPECT_EQ(symbols, wantedSymbols);
        };
        expectMenu(page.deviceMenu(), MidiMonitorViewModel::deviceIds(events, label), label, filter.deviceId);
        expectMenu(page.endpointMenu(), MidiMonitorFilter::endpoints(events),
                   [](const std::string& name) { return name; }, filter.endpoint);

        // The table against a table made afresh from the plain walk.
        if (!page.showingTable()) return;
        MidiMonitorTableModel fresh;
        fresh.refresh(events, filter, label);
        const QAbstractItemModel* shown = page.table()->model();
        ASSERT_EQ(shown->rowCount(), fresh.rowCount());
        for (int row = 0; row < fresh.rowCount(); ++row) {
            ASSERT_EQ(page.table()->monitorModel()->event(row), fresh.event(row)) << "row " << row;
            const bool sampled = row < 16 || row >= fresh.rowCount() - 4 || row % 97 == 0;
            for (int column = 0; column < MidiMonitorTableModel::columnTotal; ++column) {
                if (!sampled && column != MidiMonitorTableModel::deviceColumn) continue;
                for (const int role : {int(Qt::DisplayRole), int(Qt::ForegroundRole), int(Qt::FontRole),
                                       MidiMonitorTableModel::MpeRole})
                    ASSERT_EQ(shown->index(row, column).data(role), fresh.index(row, column).data(role))
                        << "row " << row << " column " << column << " role " << role;
            }
        }
    }
};

TEST_F(MonitorPlainWalk, EveryRedrawOfRandomStreamsAndFiltersIsThePlainWalks) {
    constexpr int kSequences = 24;
    constexpr int kSteps = 40;
    store->start();
    connectTo(true, AdminSnapshot::empty());
    for (int run = 0; run < kSequences; ++run) {
        Stream stream(1000u + static_cast<unsigned>(run));
        store->clearMidiMonitor();
        store->setMidiMonitorFilter({});
        // Built by the page factory, so the page reads the store's buffer in place.
        const std::unique_ptr<MidiMonitorPage> page(midiMonitorPage(*store, PageServices{dialogs, {}}));
        for (int step = 0; step < kSteps; ++step) {
            const int what = stream.below(20);
            if (what < 11) {
                admin->batchHandler(stream.batch());
            } else if (what < 16) {
                store->setMidiMonitorFilter(stream.filter(store->midiMonitorFilter()));
            } else if (what < 18) {
                admin->snapshotHandler(stream.snapshot());
            } else if (what < 19) {
                store->clearMidiMonitor();
            } else {
                admin->stateHandler(AdminConnectionState::disconnected("gone"));  // forgets the latest sequence
                admin->stateHandler(AdminConnectionState::connected());
            }
            expectPlainWalk(*page, "run " + std::to_string(run) + " step " + std::to_string(step));
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
}  // namespace norv
