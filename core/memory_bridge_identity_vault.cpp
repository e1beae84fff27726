#include "core/memory_bridge_identity_vault.h"

#include "core/bridge_tls_identity_error.h"

namespace norv {

std::optional<QByteArray> MemoryBridgeIdentityVault::read() {
    std::lock_guard guard(lock_);
    if (readFailure_ != 0) throw BridgeTLSIdentityError::keychain(readFailure_);
    return record_;
}

void MemoryBridgeIdentityVault::insert(const QByteArray& record) {
    std::lock_guard guard(lock_);
    if (record_) throw BridgeTLSIdentityError::keychain(kStatusDuplicateItem);
    record_ = record;
}

void MemoryBridgeIdentityVault::setReadFailure(int status) {
    std::lock_guard guard(lock_);
    readFailure_ = status;
}

}  // namespace norv
