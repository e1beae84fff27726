#pragma once

#include "core/bridge_identity_vault.h"
#include "core/bridge_tls_identity.h"

#include <functional>
#include <memory>
#include <mutex>

namespace norv {

// Loads the engine's identity from the vault, or creates and stores it once. A stored record
// is validated on every load; a damaged one is reported, never regenerated or overwritten.
class BridgeTLSIdentityStore {
public:
    using Generator = std::function<BridgeTLSIdentity()>;

    explicit BridgeTLSIdentityStore(
        std::shared_ptr<BridgeIdentityVault> vault,
        Generator generate = [] { return BridgeTLSIdentity::generate(); });

    // Serialised by a lock, so two racing starts cannot both generate. Blocks (openssl may
    // run up to its time-out): call it from a worker thread. Every failure is thrown.
    BridgeTLSIdentity loadOrCreate();

private:
    std::shared_ptr<BridgeIdentityVault> vault_;
    Generator generate_;
    std::mutex lock_;
};

}  // namespace norv
