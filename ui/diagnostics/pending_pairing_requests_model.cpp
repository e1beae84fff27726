#include "ui/diagnostics/pending_pairing_requests_model.h"

namespace norv {

std::vector<PairingRequestRow> PendingPairingRequestsModel::rows(const AdminSnapshot& snapshot, bool canChange,
                                                                 bool nothingPending) {
    std::vector<PairingRequestRow> result;
    if (!snapshot.deviceAccess) return result;
    const bool certificatesRequired = snapshot.deviceAccess->requireCertificate.value_or(false);
    const bool mayAct = canChange && nothingPending;
    for (const DeviceAccessRequest& request : snapshot.deviceAccess->requests) {
        PairingRequestRow row;
        row.request = request;
        row.label = request.deviceLabel ? QString::fromStdString(*request.deviceLabel) : QStringLiteral("New device");
        if (request.certificateSha256) {
            row.detail = QStringLiteral("SHA-256  ") + QString::fromStdString(*request.certificateSha256);
            row.detailIsFingerprint = true;
        } else if (certificatesRequired) {
            row.detail = QStringLiteral("Awaiting pairing");
        }
        row.allowEnabled = mayAct && !(certificatesRequired && !request.certificateSha256);
        row.revokeEnabled = mayAct;
        result.push_back(std::move(row));
    }
    return result;
}

}  // namespace norv
