#include "core/bridge_tls_identity_error.h"

#include <string>

namespace norv {

BridgeTLSIdentityError BridgeTLSIdentityError::keychain(std::int32_t status) {
    return {Kind::keychain, status,
            "Bridge identity is unavailable in Keychain (" + std::to_string(status) + ")."};
}

BridgeTLSIdentityError BridgeTLSIdentityError::invalidRecord() {
    return {Kind::invalidRecord, 0,
            "Bridge identity is damaged. Restore it or pair devices again."};
}

BridgeTLSIdentityError BridgeTLSIdentityError::generationFailed() {
    return {Kind::generationFailed, 0, "Could not create the Bridge identity."};
}

}  // namespace norv
