// The monitor page over the store follows the buffer as it changes; after every change it must
// show exactly what the plain walk over the whole buffer gives: rows, menus, titles, counters,
// empty states and the exported events; now and then its painted table is checked too. Random
// streams, filter changes, listening switched, pages built over what the store holds; fixed
// seeds.
#include "core/bridge_store.h"
#include "tests/support/core/store_fakes.h"
#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/monitor/midi_monitor_table_view.h"
#include "ui/pages/page_factory.h"
#include "ui/theme/page_components.h"

#include <QCollator>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
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
        // Now and then more than the buffer holds.
        const int count = below(5) == 0 ? (below(4) == 0 ? 4000 + below(700) : 500 + below(1500)) : below(30);
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

// The Parts' rules written out on their own, sharing no filter, label, menu or table code with the
// page: only the store's buffer and the events' display labels, whose rules are tested on their own.
QString qt(const std::string& text) { return QString::fromStdString(text); }

// The composed form; the names come from short fixed lists, so each is made once.
const QString& composed(const std::string& text) {
    static std::map<std::string, QString> known;
    auto found = known.find(text);
    if (found == known.end()) found = known.emplace(text, qt(text).normalized(QString::NormalizationForm_C)).first;
    return found->second;
}
bool sameName(const std::string& a, const std::string& b) { return composed(a) == composed(b); }

struct Reference {
    const std::vector<MidiMonitorEvent>& events;
    const MidiMonitorFilter& filter;
    const std::vector<BridgeDevice>& devices;

    std::string label(const std::string& id) const {
        if (id == "shared") return "Shared";
        for (const BridgeDevice& device : devices)
            if (sameName(device.deviceId, id)) return device.label;
        return id;
    }
    static MidiMessageFamily family(const std::string& kind) {
        if (kind == "note") return MidiMessageFamily::notes;
        if (kind == "cc") return MidiMessageFamily::controlChange;
        if (kind == "pitch_bend") return MidiMessageFamily::pitchBend;
        if (kind == "poly_aftertouch" || kind == "channel_pressure") return MidiMessageFamily::pressure;
        return MidiMessageFamily::other;
    }
    static bool mpe(const MidiMonitorEvent& e) {
        return e.role == "instrument" && (e.kind == "pitch_bend" || e.kind == "poly_aftertouch" ||
                                          e.kind == "channel_pressure" || (e.kind == "cc" && e.number == 74));
    }
    bool passes(const MidiMonitorEvent& e) const {
        const auto chosen = [](const std::string& value, const std::string& filter) {
            return filter == "all" || sameName(value, filter);
        };
        if (!chosen(e.role, filter.role) || !chosen(e.deviceId, filter.deviceId)) return false;
        if (!chosen(e.endpoint, filter.endpoint)) return false;
        if (filter.channel != 0 && e.channel != filter.channel) return false;
        if (!filter.families.contains(family(e.kind))) return false;
        const QString query = qt(filter.searchText).trimmed().normalized(QString::NormalizationForm_C);
        if (query.isEmpty()) return true;
        const std::string joined = e.endpoint + " " + e.role + " " + e.kind + " " + e.messageLabel() + " " +
                                   e.dataLabel() + " " + e.valueLabel() + " " + e.byteLabel() + " " + e.source + " " +
                                   e.deviceId + " ch " + std::to_string(e.channel);
        return qt(joined).normalized(QString::NormalizationForm_C).contains(query, Qt::CaseInsensitive);
    }
    std::vector<MidiMonitorEvent> filtered() const {
        std::vector<MidiMonitorEvent> passing;
        for (const MidiMonitorEvent& e : events)
            if (passes(e)) passing.push_back(e);
        return passing;
    }
    // Every name of the buffer once, canonically equal spellings as one, as first seen.
    std::vector<std::string> names(std::string MidiMonitorEvent::*field) const {
        std::vector<std::string> names;
        for (const MidiMonitorEvent& e : events) {
            const std::string& name = e.*field;
            if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return sameName(n, name); }))
                names.push_back(name);
        }
        return names;
    }
    std::vector<std::string> endpoints() const {
        std::vector<std::string> names = this->names(&MidiMonitorEvent::endpoint);
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return composed(a).toUcs4() < composed(b).toUcs4();  // Unicode scalar order
        });
        return names;
    }
    QString messageTitle() const {
        static const char* const titles[] = {"Notes", "CC / Timbre", "Pitch Bend", "Pressure", "Other"};
        const int count = filter.families.count();
        if (count == 0) return "No Messages";
        if (count == 5) return "All Messages";
        if (count > 1) return QString::number(count) + " Message Types";
        for (const MidiMessageFamily f : MidiMessageFamily::allCases())
            if (filter.families.contains(f)) return titles[static_cast<int>(f)];
        return {};
    }
    QString cell(const MidiMonitorEvent& e, int column) const {
        const std::string texts[] = {e.timeLabel(),
                                     label(e.deviceId),
                                     e.role == "instrument" ? "INSTRUMENT" : "MIDI SURFACE",
                                     e.messageLabel(),
                                     std::to_string(e.channel),
                                     e.dataLabel(),
                                     e.valueLabel(),
                                     e.byteLabel(),
                                     e.endpoint,
                                     e.source};
        return qt(texts[column]);
    }
    // Pixel size of a column's own font; 0 for the view's.
    static int fontSize(int column) {
        static constexpr int sizes[] = {11, 0, 9, 0, 13, 13, 13, 13, 0, 0};
        return sizes[column];
    }
};

// A menu's items after the "All" item and the divider: text and symbol.
std::vector<std::pair<QString, QString>> menuItems(QToolButton* button) {
    Q_EMIT button->menu()->aboutToShow();
    std::vector<std::pair<QString, QString>> items;
    const QList<QAction*> actions = button->menu()->actions();
    for (qsizetype i = 2; i < actions.size(); ++i)
        items.emplace_back(actions[i]->text(), actions[i]->property("symbolName").toString());
    return items;
}

QImage windowImage(QWidget& widget) {
    return QGuiApplication::primaryScreen()->grabWindow(widget.window()->winId()).toImage();
}

class MonitorPlainWalk : public test::FakeStoreTest {
protected:
    // What the plain walk over the whole buffer gives, against what the page shows.
    void expectPlainWalk(MidiMonitorPage& page, const std::string& context) {
        SCOPED_TRACE(context);
        const std::vector<MidiMonitorEvent> events = store->midiMonitorEvents().toVector();
        const MidiMonitorFilter& filter = store->midiMonitorFilter();
        const Reference walk{events, filter, store->snapshot().devices};
        const std::vector<MidiMonitorEvent> filtered = walk.filtered();
        ASSERT_EQ(page.filteredEvents(), filtered);

        EXPECT_EQ(page.eventsLabel()->text(), QString::number(events.size()) + " EVENTS");
        EXPECT_EQ(page.droppedLabel()->text(), QString::number(store->midiDroppedEventCount()) + " DROPPED");
        EXPECT_EQ(!page.droppedLabel()->isHidden(), store->midiDroppedEventCount() > 0);
        EXPECT_EQ(page.exportButton()->isEnabled(), !filtered.empty());
        EXPECT_EQ(page.clearButton()->isEnabled(), !events.empty());
        EXPECT_EQ(page.refreshPicker()->isEnabled(), store->midiListenEnabled());
        EXPECT_EQ(page.showingTable(), !filtered.empty());
        if (filtered.empty()) {
            const bool listening = store->midiListenEnabled();
            EXPECT_EQ(page.emptyState()->titleLabel()->text(), !events.empty() ? "No matching events"
                                                               : listening   ? "Waiting for MIDI"
                                                                             : "Listening is off");
        }

        const QString deviceTitle = filter.deviceId == "all" ? "All Devices" : qt(walk.label(filter.deviceId));
        EXPECT_EQ(page.deviceMenu()->text(), deviceTitle);
        EXPECT_EQ(page.endpointMenu()->text(), filter.endpoint == "all" ? "All Endpoints" : qt(filter.endpoint));
        EXPECT_EQ(page.messageMenu()->text(), walk.messageTitle());
        const auto wanted = [](const std::vector<std::string>& choices, const auto& text, const std::string& chosen) {
            std::vector<std::pair<QString, QString>> items;
            for (const std::string& choice : choices)
                items.emplace_back(qt(text(choice)), sameName(choice, chosen) ? "checkmark" : "circle");
            return items;
        };
        // Devices sort by label, ignoring case in the user's locale; equal labels in either order.
        const auto devices = menuItems(page.deviceMenu());
        const auto wantedDevices = wanted(walk.names(&MidiMonitorEvent::deviceId),
                                          [&](const std::string& id) { return walk.label(id); }, filter.deviceId);
        EXPECT_TRUE(std::is_permutation(devices.begin(), devices.end(), wantedDevices.begin(), wantedDevices.end()));
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (std::size_t i = 1; i < devices.size(); ++i)
            EXPECT_LE(collator.compare(devices[i - 1].first, devices[i].first), 0) << "device item " << i;
        EXPECT_EQ(menuItems(page.endpointMenu()),
                  wanted(walk.endpoints(), [](const std::string& name) { return name; }, filter.endpoint));

        // The newest 1000 matching events, newest on top.
        if (!page.showingTable()) return;
        const QAbstractItemModel* shown = page.table()->model();
        const int rows = static_cast<int>(std::min<std::size_t>(filtered.size(), 1000));
        ASSERT_EQ(shown->rowCount(), rows);
        for (int row = 0; row < rows; ++row) {
            const MidiMonitorEvent& e = filtered[filtered.size() - 1 - static_cast<std::size_t>(row)];
            ASSERT_EQ(page.table()->monitorModel()->event(row), e) << "row " << row;
            const bool sampled = row < 16 || row >= rows - 4 || row % 97 == 0;
            for (int column = 0; column < MidiMonitorTableModel::columnTotal; ++column) {
                if (!sampled && column != MidiMonitorTableModel::deviceColumn) continue;
                const QModelIndex index = shown->index(row, column);
                ASSERT_EQ(index.data().toString(), walk.cell(e, column)) << "row " << row << " column " << column;
                ASSERT_EQ(index.data(Qt::FontRole).value<QFont>().pixelSize(), Reference::fontSize(column) == 0
                                                                                    ? QFont().pixelSize()
                                                                                    : Reference::fontSize(column))
                    << "column " << column;
                ASSERT_EQ(index.data(MidiMonitorTableModel::MpeRole).toBool(),
                          column == MidiMonitorTableModel::messageColumn && Reference::mpe(e))
                    << "row " << row;
            }
        }
    }

    // The table as painted, frame after frame, against the table painted afresh, and each of its
    // top rows against that row painted alone: no cell reaches into another row.
    void expectPainted(MidiMonitorPage& page, const std::string& context) {
        SCOPED_TRACE(context);
        MidiMonitorTableView* table = page.table();
        if (!page.showingTable()) return;
        table->rowAt(0);  // the delayed layout
        for (int round = 0; round < 3; ++round) QCoreApplication::processEvents();  // and what it queued
        const QImage frames = windowImage(page);
        table->viewport()->repaint();
        EXPECT_EQ(frames, windowImage(page));

        MidiMonitorTableView alone(table->parentWidget());
        alone.setVerticalScrollBarPolicy(table->verticalScrollBar()->isVisible() ? Qt::ScrollBarAlwaysOn
                                                                                 : Qt::ScrollBarAlwaysOff);
        alone.resize(table->size());
        const auto labels = monitorDeviceLabels(store->snapshot().devices);
        const auto label = [&](const std::string& id) { return monitorDeviceLabel(labels, id); };
        const int width = table->viewport()->width();
        const int rows = std::min(table->model()->rowCount(), table->viewport()->height() / 22);
        for (int row = 0; row < std::min(rows, 6); ++row) {
            alone.monitorModel()->refresh({table->monitorModel()->event(row)}, MidiMonitorFilter{}, label);
            alone.rowAt(0);
            EXPECT_EQ(table->viewport()->grab(QRect(0, row * 22, width, 22)).toImage(),
                      alone.viewport()->grab(QRect(0, 0, width, 22)).toImage())
                << "row " << row;
        }
    }
};

TEST_F(MonitorPlainWalk, EveryRedrawOfRandomStreamsAndFiltersIsThePlainWalks) {
    constexpr int kSequences = 24;
    constexpr int kSteps = 40;
    store->start();
    connectTo(true, AdminSnapshot::empty());
    QWidget window;
    window.resize(1400, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Built by the page factory, so the page reads the store's buffer in place; built again at
    // times over the buffer and filter as they stand.
    std::unique_ptr<MidiMonitorPage> page;
    const auto build = [&] {
        page.reset();
        page.reset(midiMonitorPage(*store, PageServices{dialogs, {}}, &window));
        page->setGeometry(window.rect());
        page->show();
    };
    for (int run = 0; run < kSequences; ++run) {
        Stream stream(1000u + static_cast<unsigned>(run));
        if (run % 2 == 0) {
            store->clearMidiMonitor();
            store->setMidiMonitorFilter({});
        }
        build();
        for (int step = 0; step < kSteps; ++step) {
            const int what = stream.below(22);
            if (what < 11) {
                admin->batchHandler(stream.batch());
            } else if (what < 16) {
                store->setMidiMonitorFilter(stream.filter(store->midiMonitorFilter()));
            } else if (what < 18) {
                admin->snapshotHandler(stream.snapshot());
            } else if (what < 19) {
                store->clearMidiMonitor();
            } else if (what < 20) {
                store->setMidiListenEnabled(!store->midiListenEnabled());
            } else if (what < 21) {
                build();
            } else {
                admin->stateHandler(AdminConnectionState::disconnected("gone"));  // forgets the latest sequence
                admin->stateHandler(AdminConnectionState::connected());
            }
            QCoreApplication::processEvents();  // paints what changed
            const std::string context = "run " + std::to_string(run) + " step " + std::to_string(step);
            expectPlainWalk(*page, context);
            if (step % 8 == 7) expectPainted(*page, context);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
}  // namespace norv
