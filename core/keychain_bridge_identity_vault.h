#pragma once

#include "core/bridge_identity_vault.h"

#include <QString>
#include <chrono>

namespace norv {

// The identity record in the user's Secret Service, through QtKeychain: one binary item under
// a fixed service name and the account "bridge", never synchronised, never updated or deleted.
//
// Reading never prompts: before QtKeychain is asked, the Secret Service is searched for the
// item, and a locked item fails with kStatusInteractionNotAllowed instead of raising an unlock
// prompt. Inserting looks first and refuses to replace an existing item.
//
// Every QtKeychain job runs on one keychain thread of the process; the caller waits for its
// result, at most `timeout`. Neither operation touches the caller's event loop; like every
// vault, call them from a worker thread, never from the GUI thread.
// Other QtKeychain failures carry the QKeychain::Error value as their status.
class KeychainBridgeIdentityVault : public BridgeIdentityVault {
public:
    static constexpr auto kDefaultService = "org.norv.desktop.bridge.transport.identity.v1";
    static constexpr auto kAccount = "bridge";

    explicit KeychainBridgeIdentityVault(
        QString service = QString::fromLatin1(kDefaultService),
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::optional<QByteArray> read() override;
    void insert(const QByteArray& record) override;

private:
    enum class Presence { absent, unlocked, locked, unknown };
    Presence probe() const;

    QString service_;
    std::chrono::milliseconds timeout_;
};

}  // namespace norv
