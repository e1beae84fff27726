#pragma once
// What the Device settings page shows: the shared settings profiles in engine order, whether a
// push may be sent, and the engine's summary of the last push.

#include "model/admin_snapshot.h"

#include <QString>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace norv {

struct SettingsProfileRow {
    QString scope;
    QString title;
    QString source;
    QString countText;  // "142 settings"
    QString timeText;   // local time of day, short style

    bool operator==(const SettingsProfileRow&) const = default;
};

class DeviceSettingsViewModel {
public:
    DeviceSettingsViewModel(const AdminSnapshot& snapshot, bool canChange,
                            const std::set<std::string>& pendingActions);

    std::vector<SettingsProfileRow> rows() const;
    // The store may change the engine, nothing is in flight and some device is connected.
    bool pushAllowed() const;
    // The last push's summary; none without settings or while it is empty.
    std::optional<QString> resultLabel() const;

    // Seconds since 1970 (UTC) as the user's local time of day.
    static QString timeOfDay(double receivedAt);

private:
    const AdminSnapshot& snapshot_;
    bool canChange_;
    const std::set<std::string>& pendingActions_;
};

}  // namespace norv
