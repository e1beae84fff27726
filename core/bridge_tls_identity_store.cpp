#include "core/bridge_tls_identity_store.h"

namespace norv {

BridgeTLSIdentityStore::BridgeTLSIdentityStore(std::shared_ptr<BridgeIdentityVault> vault,
                                               Generator generate)
    : vault_(std::move(vault)), generate_(std::move(generate)) {}

BridgeTLSIdentity BridgeTLSIdentityStore::loadOrCreate() {
    std::lock_guard guard(lock_);
    if (const auto record = vault_->read()) return BridgeTLSIdentity::decode(*record);
    BridgeTLSIdentity identity = generate_();
    vault_->insert(identity.encode());
    return identity;
}

}  // namespace norv
