// Every page, built once and then following the store, shows exactly what a page built fresh over
// the store's present state shows: texts, enabled, checked and visible states, tooltips, symbols,
// colours and item-view contents, in layout order. Single changes of each field, round trips
// back, and a random run of changes mixed with store events (requests in flight, refused and
// done, disconnect and reconnect). View state the user owns is left alone on both pages.
#include "tests/support/model/monitor_event_fixtures.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/ui/window_test.h"
#include "ui/components/page_disclosure.h"
#include "ui/live_page/live_page.h"
#include "ui/pages/page_factory.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QToolButton>
#include <functional>
#include <memory>
#include <random>

namespace norv {
namespace {

using test::edgeSnapshot;
using test::fullSnapshot;

QString colour(const QColor& color) { return color.name(QColor::HexArgb); }

class PageDump {
public:
    static QStringList of(QWidget* page) {
        PageDump dump;
        auto* scroll = qobject_cast<QScrollArea*>(page);
        dump.widget(scroll && scroll->widget() ? scroll->widget() : page, 0);
        return dump.lines_;
    }

private:
    void line(int depth, const QString& text) {
        lines_.append(QString(depth * 2, QLatin1Char(' ')) + text);
    }

    void widget(QWidget* w, int depth) {
        QString head = QString::fromLatin1(w->metaObject()->className());
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            head += QStringLiteral(" #") + w->objectName();
        if (w->isHidden()) {  // what a hidden block holds is not shown
            line(depth, head + QStringLiteral(" hidden"));
            return;
        }
        if (!w->isEnabled()) head += QStringLiteral(" disabled");
        if (!w->toolTip().isEmpty()) head += QStringLiteral(" tip=") + w->toolTip();
        if (const QVariant symbol = w->property("symbolName"); symbol.isValid())
            head += QStringLiteral(" symbol=") + symbol.toString();
        if (!w->styleSheet().isEmpty()) head += QStringLiteral(" style=") + w->styleSheet();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            head += QStringLiteral(" text=") + label->text() + QStringLiteral(" colour=") +
                    colour(label->palette().color(QPalette::WindowText));
            const QPixmap pixmap = label->pixmap();
            if (!pixmap.isNull()) {
                const QImage image = pixmap.toImage();
                head += QStringLiteral(" pixmap=") +
                        QString::number(qHashBits(image.constBits(),
                                                  static_cast<std::size_t>(image.sizeInBytes())));
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            head += QStringLiteral(" text=") + button->text();
            if (button->isCheckable())
                head += button->isChecked() ? QStringLiteral(" on") : QStringLiteral(" off");
        } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
            head += QStringLiteral(" text=") + field->text();
        } else if (auto* box = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < box->count(); ++i)
                head += QStringLiteral(" [") + box->itemText(i) + QStringLiteral("|") +
                        box->itemData(i).toString() + QStringLiteral("]");
            head += QStringLiteral(" current=") + box->currentText();
            line(depth, head);
            return;
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            line(depth, head);
            items(view->model(), depth + 1);
            return;
        }
        line(depth, head);
        if (QLayout* layout = w->layout()) {
            this->layout(layout, depth + 1);
        } else {
            for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!child->isWindow()) widget(child, depth + 1);
        }
    }

    void layout(QLayout* layout, int depth) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (QWidget* w = item->widget())
                widget(w, depth);
            else if (QLayout* inner = item->layout())
                this->layout(inner, depth);
        }
    }

    void items(QAbstractItemModel* model, int depth) {
        if (model == nullptr) return;
        for (int row = 0; row < model->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < model->columnCount(); ++column) {
                const QModelIndex index = model->index(row, column);
                cells.append(index.data().toString());
                if (const QVariant ink = index.data(Qt::ForegroundRole); ink.isValid())
                    cells.append(colour(ink.value<QBrush>().color()));
            }
            line(depth, cells.join(QLatin1Char('|')));
        }
    }

    QStringList lines_;
};

// Opens every group, on the page that followed and on the fresh one alike, so their contents are
// compared too.
void openGroups(QWidget* page) {
    for (PageDisclosure* group : page->findChildren<PageDisclosure*>()) group->setExpanded(true);
    for (QToolButton* toggle : page->findChildren<QToolButton*>())
        if (toggle->isCheckable() && toggle->text() == QStringLiteral("Connection identities"))
            toggle->setChecked(true);
}

// Changes the device of that id, when the snapshot still lists it.
void onDevice(AdminSnapshot& snapshot, const std::string& id,
              const std::function<void(BridgeDevice&)>& change) {
    for (BridgeDevice& candidate : snapshot.devices)
        if (candidate.deviceId == id) change(candidate);
}

using Change = std::pair<const char*, std::function<void(AdminSnapshot&)>>;

// One change of each field a page shows, each keeping the snapshot valid.
const std::vector<Change>& changes() {
    static const std::vector<Change> all = {
        {"rename a connected device",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-studio-7f3a", [](BridgeDevice& d) { d.label = "Stage iPad"; });
         }},
        {"rename a known device",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-old-0a11", [](BridgeDevice& d) { d.label = "Spare iPad"; });
         }},
        {"disconnect a device",
         [](AdminSnapshot& s) {
             onDevice(s, "pixel-tab-9b04", [](BridgeDevice& d) { d.connected = false; });
         }},
        {"connect a device",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-old-0a11", [](BridgeDevice& d) { d.connected = true; });
         }},
        {"archive a device",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-old-0a11", [](BridgeDevice& d) { d.archived = true; });
         }},
        {"restore a device",
         [](AdminSnapshot& s) {
             onDevice(s, "galaxy-s9-31d0", [](BridgeDevice& d) { d.archived = false; });
         }},
        {"remove a device",
         [](AdminSnapshot& s) {
             if (s.devices.size() > 1) s.devices.erase(s.devices.begin() + 1);
         }},
        {"reorder devices",
         [](AdminSnapshot& s) {
             if (s.devices.size() > 2) std::swap(s.devices[0], s.devices[2]);
         }},
        {"change a transport",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-studio-7f3a", [](BridgeDevice& d) { d.activeTransport = "USB"; });
         }},
        {"change a mode",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-studio-7f3a",
                      [](BridgeDevice& d) { d.connectionMode = std::string("manual"); });
         }},
        {"lose link quality",
         [](AdminSnapshot& s) {
             onDevice(s, "iphone-mini-22c1", [](BridgeDevice& d) { d.linkQuality.reset(); });
         }},
        {"rename an endpoint",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-studio-7f3a", [](BridgeDevice& d) {
                 for (MidiEndpoint& endpoint : d.endpoints) endpoint.name += " 2";
             });
         }},
        {"drop endpoints",
         [](AdminSnapshot& s) {
             onDevice(s, "pixel-tab-9b04", [](BridgeDevice& d) { d.endpoints.clear(); });
         }},
        {"move an assignment",
         [](AdminSnapshot& s) {
             onDevice(s, "ipad-studio-7f3a", [](BridgeDevice& d) {
                 d.assignedTrackLiveId = 104;
                 d.assignedTrackName = "Drums";
             });
         }},
        {"clear an assignment",
         [](AdminSnapshot& s) {
             onDevice(s, "iphone-mini-22c1",
                      [](BridgeDevice& d) { d.assignedTrackLiveId.reset(); });
         }},
        {"Live offline", [](AdminSnapshot& s) { s.bridge.remoteScriptIdleSeconds = 9.0; }},
        {"engine version", [](AdminSnapshot& s) { s.bridge.bridgeVersion = "2.5.0"; }},
        {"port", [](AdminSnapshot& s) { s.bridge.publicPort = 9400; }},
        {"Wi-Fi off", [](AdminSnapshot& s) { s.bridge.wirelessEnabled = false; }},
        {"USB tunnels",
         [](AdminSnapshot& s) {
             s.bridge.usbTunnelEnabled = false;
             s.bridge.androidAdbTunnelEnabled = true;
         }},
        {"event lane", [](AdminSnapshot& s) { s.bridge.fastControlMidiActive = false; }},
        {"control counters", [](AdminSnapshot& s) { s.bridge.fastControlMidiSentCount = 6000; }},
        {"route status",
         [](AdminSnapshot& s) { s.bridge.instrumentMidiLiveRouteStatus = "waiting_for_port"; }},
        {"automatic routing off",
         [](AdminSnapshot& s) {
             DeviceRoutingPolicy policy =
                 s.bridge.deviceRoutingPolicy.value_or(DeviceRoutingPolicy::defaultPolicy());
             policy.automaticDeviceRoutingEnabled = false;
             s.bridge.deviceRoutingPolicy = policy;
         }},
        {"drop a track plan",
         [](AdminSnapshot& s) {
             if (s.bridge.deviceRoutingPlan && !s.bridge.deviceRoutingPlan->empty())
                 s.bridge.deviceRoutingPlan->erase(s.bridge.deviceRoutingPlan->begin());
         }},
        {"track status",
         [](AdminSnapshot& s) {
             if (s.bridge.deviceRoutingStatuses)
                 for (DeviceTrackRoutingStatus& status : *s.bridge.deviceRoutingStatuses)
                     status.status = "arm_failed";
         }},
        {"rename a track",
         [](AdminSnapshot& s) {
             if (s.liveTracks.size() > 1) s.liveTracks[1].name = "Sub Bass";
         }},
        {"remove a track",
         [](AdminSnapshot& s) {
             if (!s.liveTracks.empty()) s.liveTracks.erase(s.liveTracks.begin());
         }},
        {"identity name",
         [](AdminSnapshot& s) {
             if (s.deviceAccess) s.deviceAccess->bridgeName = "Stage Mac";
         }},
        {"no pairing requests",
         [](AdminSnapshot& s) {
             if (s.deviceAccess) s.deviceAccess->requests.clear();
         }},
        {"certificates optional",
         [](AdminSnapshot& s) {
             if (s.deviceAccess) s.deviceAccess->requireCertificate = false;
         }},
        {"forget a device",
         [](AdminSnapshot& s) {
             if (s.deviceAccess) s.deviceAccess->forgotten.push_back("ipad-old-0a11");
         }},
        {"rename a settings profile",
         [](AdminSnapshot& s) {
             if (s.uiPreferences && !s.uiPreferences->profiles.empty())
                 s.uiPreferences->profiles[0].count = 150;
         }},
        {"drop settings", [](AdminSnapshot& s) { s.uiPreferences.reset(); }},
        {"push result",
         [](AdminSnapshot& s) {
             if (s.uiPreferences) s.uiPreferences->result.failed = 0;
         }},
        {"detailed capture",
         [](AdminSnapshot& s) {
             DiagnosticStatus status = s.diagnostics.value_or(DiagnosticStatus{});
             status.detailedSecondsRemaining = 75;
             status.queueDropped = 9;
             s.diagnostics = status;
         }},
    };
    return all;
}

class PageDifference : public test::FakeStoreWindowTest {
protected:
    void SetUp() override {
        FakeStoreWindowTest::SetUp();
        engine->log = {QStringLiteral("2026-10-03T17:30:00Z INFO [engine] Bridge started")};
        engine->fingerprint = QStringLiteral("ab12");
        connectTo(true, fullSnapshot());
    }

    QWidget* build(BridgeSection section) {
        QWidget* page = makePage(section, *store, pageServices(), nullptr);
        page->resize(MainWindow::defaultSize);
        return page;
    }

    static void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static QStringList shown(QWidget* page) {
        openGroups(page);
        // The Live page's status line follows on its own tick; both read it now.
        if (auto* live = dynamic_cast<LivePage*>(page)) live->updateState();
        settle();
        return PageDump::of(page);
    }

    // The page that followed shows what a fresh page over the store's state shows.
    void expectAsFresh(QWidget* followed, BridgeSection section, const std::string& step) {
        SCOPED_TRACE(std::string(section.rawValue()) + " after " + step);
        settle();
        const std::unique_ptr<QWidget> fresh(build(section));
        settle();
        const QStringList expected = shown(fresh.get());
        const QStringList actual = shown(followed);
        ASSERT_EQ(actual.join(QLatin1Char('\n')).toStdString(),
                  expected.join(QLatin1Char('\n')).toStdString());
    }

    void deliver(const AdminSnapshot& snapshot) { admin->snapshotHandler(snapshot); }

    void deliverEvents(std::int64_t first, int count) {
        MidiMonitorBatch batch;
        for (std::int64_t sequence = first; sequence < first + count; ++sequence)
            batch.events.push_back(
                test::event(sequence, sequence % 2 ? "ipad-studio-7f3a" : "pixel-tab-9b04",
                            "Norv Out", "instrument", "note_on", 1 + sequence % 4));
        batch.latestSequence = first + count - 1;
        admin->batchHandler(batch);
    }
};

TEST_F(PageDifference, EverySingleChangeAndItsRoundTripShowAsOnAFreshPage) {
    for (const BridgeSection section : BridgeSection::allCases()) {
        const std::unique_ptr<QWidget> page(build(section));
        deliverEvents(1, 6);
        for (const auto& [name, change] : changes()) {
            AdminSnapshot changed = fullSnapshot();
            change(changed);
            deliver(changed);
            expectAsFresh(page.get(), section, name);
            deliver(fullSnapshot());
            expectAsFresh(page.get(), section, std::string("back from ") + name);
        }
        deliver(edgeSnapshot());
        expectAsFresh(page.get(), section, "the edge snapshot");
        deliver(fullSnapshot());
        expectAsFresh(page.get(), section, "back from the edge snapshot");
    }
}

TEST_F(PageDifference, RandomChangesMixedWithStoreEventsShowAsOnAFreshPage) {
    std::mt19937 random(20261209);
    for (const BridgeSection section : BridgeSection::allCases()) {
        const std::unique_ptr<QWidget> page(build(section));
        AdminSnapshot snapshot = fullSnapshot();
        std::int64_t sequence = 1;
        for (int step = 0; step < 24; ++step) {
            std::string what;
            switch (random() % 7) {
                case 0:
                case 1:
                case 2: {
                    const Change& change = changes()[random() % changes().size()];
                    change.second(snapshot);
                    deliver(snapshot);
                    what = change.first;
                    break;
                }
                case 3:  // a request goes out and stays in flight
                    store->renameDevice("ipad-studio-7f3a", "Renamed iPad");
                    what = "a request in flight";
                    break;
                case 4:  // the oldest request is refused or done
                    if (!admin->requests.empty())
                        admin->complete(random() % 2 ? std::optional(QStringLiteral("refused"))
                                                     : std::nullopt);
                    what = "a request answered";
                    break;
                case 5:
                    admin->stateHandler(AdminConnectionState::disconnected("Connection lost"));
                    expectAsFresh(page.get(), section, "a disconnect");
                    admin->stateHandler(AdminConnectionState::connected());
                    snapshot = random() % 2 ? fullSnapshot() : edgeSnapshot();
                    deliver(snapshot);
                    what = "a reconnect";
                    break;
                default:
                    deliverEvents(sequence, 5);
                    sequence += 5;
                    what = "MIDI events";
                    break;
            }
            expectAsFresh(page.get(), section, "step " + std::to_string(step) + ": " + what);
        }
        while (!admin->requests.empty()) admin->complete();
    }
}

}  // namespace
}  // namespace norv
