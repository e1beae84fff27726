#pragma once
// The store tests' world: a store over fakes of the admin client, the engine supervisor and the
// Bluetooth server, with a settings file of its own and a short start-up check.
#include "core/bridge_store.h"
#include "tests/support/core/store_fakes.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace norv::test {

inline const QString kApplying = QStringLiteral("Applying\u2026");

inline BridgeDevice device(const std::string& id, bool connected, const std::string& label = "Pad") {
    BridgeDevice d;
    d.deviceId = id;
    d.label = label;
    d.connected = connected;
    return d;
}

inline MidiMonitorEvent event(std::int64_t sequence) {
    MidiMonitorEvent e;
    e.sequence = sequence;
    e.kind = "note";
    return e;
}

inline std::vector<MidiMonitorEvent> events(std::int64_t from, std::int64_t to) {
    std::vector<MidiMonitorEvent> result;
    for (std::int64_t s = from; s <= to; ++s) result.push_back(event(s));
    return result;
}

inline MidiMonitorBatch batch(std::vector<MidiMonitorEvent> list, std::int64_t latest, bool reset = false,
                       std::int64_t dropped = 0) {
    MidiMonitorBatch b;
    b.events = std::move(list);
    b.latestSequence = latest;
    b.reset = reset;
    b.dropped = dropped;
    return b;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { makeStore(); }

    void makeStore() {
        store.reset();
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto adminPtr = std::make_unique<FakeAdminClient>();
        auto enginePtr = std::make_unique<FakeEngine>();
        auto bluetoothPtr = std::make_unique<FakeBluetooth>();
        admin = adminPtr.get();
        engine = enginePtr.get();
        bluetooth = bluetoothPtr.get();
        BridgeStoreOptions options;
        options.startCheckDelay = std::chrono::milliseconds(20);
        options.computerName = [] { return QStringLiteral("Studio"); };
        store = std::make_unique<BridgeStore>(std::move(adminPtr), std::move(enginePtr), std::move(bluetoothPtr),
                                              dialogs, *settings, options);
    }

    // Started, own engine running, channel connected, with the given snapshot.
    void connectOwnEngine(AdminSnapshot snapshot = AdminSnapshot::empty()) {
        store->start();
        engine->setRunning(true);
        admin->stateHandler(AdminConnectionState::connected());
        admin->snapshotHandler(snapshot);
    }

    AdminSnapshot withDevices(std::vector<BridgeDevice> devices) {
        AdminSnapshot s = AdminSnapshot::empty();
        s.devices = std::move(devices);
        return s;
    }

    std::vector<std::int64_t> heldSequences() const {
        std::vector<std::int64_t> result;
        for (const MidiMonitorEvent& e : store->midiMonitorEvents()) result.push_back(e.sequence);
        return result;
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    ScriptedDialogs dialogs;
    FakeAdminClient* admin = nullptr;
    FakeEngine* engine = nullptr;
    FakeBluetooth* bluetooth = nullptr;
    std::unique_ptr<BridgeStore> store;
};

}  // namespace norv::test
