#pragma once
// What the Devices page shows: devices split into connected, known and archived, the revoked
// access records, and the rules of the bulk clean-up.

#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/device_access_action.h"

#include <QString>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace norv {

struct DeviceGroups {
    std::vector<BridgeDevice> connected;  // whatever their archived flag
    std::vector<BridgeDevice> known;      // offline, not archived
    std::vector<BridgeDevice> archived;   // offline, archived
};

class DevicesViewModel {
public:
    static constexpr std::size_t cleanupLimit = 1024;

    DevicesViewModel() = delete;

    static DeviceGroups groups(const AdminSnapshot& snapshot);
    // One record per forgotten id, in that order; an id without a revoked entry gets a bare record.
    static std::vector<RevokedDevice> revoked(const AdminSnapshot& snapshot);

    static bool cleanEnabled(const AdminSnapshot& snapshot, bool canChange, const std::set<std::string>& pending);
    static QString cleanupTitle(const std::optional<std::vector<std::string>>& selection);
    static QString cleanupMessage();

    static QString connectedEmptyDetail(const AdminConnectionState& state);
    static QString groupTitle(const QString& name, std::size_t count);  // "Known (3)"

    // A revoked row's button: "Allow pairing" / pair while certificates are required, else
    // "Allow again" / allow.
    static bool certificatesRequired(const AdminSnapshot& snapshot);
    static QString revokedButtonTitle(const AdminSnapshot& snapshot);
    static DeviceAccessAction revokedAction(const AdminSnapshot& snapshot);
};

}  // namespace norv
