#include "core/bridge_tls_identity_error.h"

#include "core/bridge_identity_vault.h"

#include <string>

namespace norv {

BridgeTLSIdentityError BridgeTLSIdentityError::keychain(std::int32_t status, const QString& reason) {
    // The user can act on this: the identity lives in the desktop's Secret Service, which must
    // run and be unlocked. The status and the service's own words go to the log only.
    return {Kind::keychain, status,
            "Bridge identity is unavailable: the Secret Service is not running or is locked. Start a "
            "Secret Service such as GNOME Keyring or KWallet, or unlock it, then start the Bridge again.",
            reason.isEmpty() ? QStringLiteral("vault status %1").arg(status)
                             : QStringLiteral("%1 (vault status %2)").arg(reason).arg(status)};
}

QString BridgeTLSIdentityError::keyringNotCreatedDescription() {
    return QStringLiteral(
        "The Bridge identity was not saved: the prompt to create a keyring was closed before a password was "
        "chosen. Choose Try Again and pick a password for the new keyring.");
}

BridgeTLSIdentityError BridgeTLSIdentityError::keyringNotCreated(const QString& reason) {
    return {Kind::keychain, BridgeIdentityVault::kStatusUserCanceled, keyringNotCreatedDescription().toStdString(),
            QStringLiteral("%1 (vault status %2)").arg(reason).arg(BridgeIdentityVault::kStatusUserCanceled)};
}

BridgeTLSIdentityError BridgeTLSIdentityError::invalidRecord() {
    return {Kind::invalidRecord, 0,
            "Bridge identity is damaged. Restore it or pair devices again."};
}

BridgeTLSIdentityError BridgeTLSIdentityError::generationFailed() {
    return {Kind::generationFailed, 0, "Could not create the Bridge identity."};
}

}  // namespace norv
