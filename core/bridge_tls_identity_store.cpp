#include "core/bridge_tls_identity_store.h"

#include "core/process_hardening.h"

#include <QScopeGuard>

namespace norv {

BridgeTLSIdentityStore::BridgeTLSIdentityStore(std::shared_ptr<BridgeIdentityVault> vault,
                                               Generator generate)
    : vault_(std::move(vault)), generate_(std::move(generate)) {}

BridgeTLSIdentity BridgeTLSIdentityStore::loadOrCreate() {
    std::lock_guard guard(lock_);
    if (auto record = vault_->read()) {
        // The record holds the key: overwritten once read, whatever the outcome.
        const auto wipe = qScopeGuard([&record] { ProcessHardening::wipe(*record); });
        return BridgeTLSIdentity::decode(*record);
    }
    BridgeTLSIdentity identity = generate_();
    QByteArray record = identity.encode();
    vault_->insert(record);
    ProcessHardening::wipe(record);
    return identity;
}

}  // namespace norv
