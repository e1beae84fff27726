#pragma once
// The rows of the pending pairing requests panel: the engine's access requests in its order,
// each with its texts and the enabling of "Allow" and "Revoke access".

#include "model/admin_snapshot.h"

#include <QString>
#include <optional>
#include <vector>

namespace norv {

struct PairingRequestRow {
    DeviceAccessRequest request;
    QString label;                        // "New device" without a label
    std::optional<QString> detail;        // "SHA-256  <fingerprint>" or "Awaiting pairing"
    bool detailIsFingerprint = false;
    bool allowEnabled = false;
    bool revokeEnabled = false;
    friend bool operator==(const PairingRequestRow&, const PairingRequestRow&) = default;
};

class PendingPairingRequestsModel {
public:
    PendingPairingRequestsModel() = delete;

    // Empty when the engine reports no access state or no requests: nothing is drawn then.
    static std::vector<PairingRequestRow> rows(const AdminSnapshot& snapshot, bool canChange,
                                               bool nothingPending);
};

}  // namespace norv
