#pragma once

#include <QByteArray>
#include <optional>

namespace norv {

// Where the engine's TLS identity record is kept. Both operations may block their thread
// briefly; call them from a worker thread. Failures throw BridgeTLSIdentityError::keychain.
class BridgeIdentityVault {
public:
    // Vault statuses shared by every implementation.
    static constexpr int kStatusItemNotFound = -25300;
    static constexpr int kStatusDuplicateItem = -25299;
    static constexpr int kStatusInteractionNotAllowed = -25308;
    static constexpr int kStatusUserCanceled = -128;  // the user dismissed the service's prompt

    virtual ~BridgeIdentityVault() = default;

    // The stored record, or none. Never asks the user anything.
    virtual std::optional<QByteArray> read() = 0;

    // Stores a new record. An existing record is never replaced: that fails with
    // kStatusDuplicateItem and leaves the record as it was.
    virtual void insert(const QByteArray& record) = 0;
};

}  // namespace norv
