#pragma once

#include <memory>

class QSettings;

namespace norv {

// The user's connection settings for the engine, stored under "bridge.connections." keys.
// Every loaded or saved value holds two invariants: Bonjour only with Wi-Fi, and device
// approval always on. The public port is checked by the store, not here.
struct BridgeLaunchConfiguration {
    bool wirelessEnabled = true;
    bool bonjourEnabled = true;
    bool iosUSBEnabled = true;
    bool androidUSBEnabled = true;
    int publicPort = 9311;
    bool bluetoothEnabled = false;
    bool requireDeviceApproval = true;

    // Reads the seven keys; an absent key takes its default, a stored false or 0 reads back as
    // stored. Never fails.
    static BridgeLaunchConfiguration load(const QSettings& defaults);
    // Loads from the application's own settings (organisation "Norv", application "Norv Bridge").
    static BridgeLaunchConfiguration loadStandard();
    // Writes all seven keys, normalised.
    void save(QSettings& defaults) const;

    // The value with the invariants applied.
    BridgeLaunchConfiguration normalized() const;

    // The application's own settings store.
    static std::unique_ptr<QSettings> standardSettings();

    bool operator==(const BridgeLaunchConfiguration&) const = default;
};

}  // namespace norv
