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
// prompt. Inserting looks first and refuses to replace an existing item. On a Secret Service with
// no keyring yet, inserting first creates the default keyring: the service then asks the user for
// its password, and the answer is awaited for up to `promptTimeout`. A dismissed prompt fails
// with kStatusUserCanceled (BridgeTLSIdentityError::keyringNotCreated).
//
// Every QtKeychain job and prompt runs on one keychain thread of the process; the caller waits for
// its result, at most `timeout` (`promptTimeout` for the user's answer to a prompt), and is
// released when the application object goes. Neither operation touches the caller's event loop;
// like every vault, call them from a worker thread, never from the GUI thread.
// Other QtKeychain failures carry the QKeychain::Error value as their status.
class KeychainBridgeIdentityVault : public BridgeIdentityVault {
public:
    static constexpr auto kDefaultService = "org.norv.desktop.bridge.transport.identity.v1";
    static constexpr auto kAccount = "bridge";

    explicit KeychainBridgeIdentityVault(QString service = QString::fromLatin1(kDefaultService),
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                         std::chrono::milliseconds promptTimeout = std::chrono::minutes(10));

    std::optional<QByteArray> read() override;
    void insert(const QByteArray& record) override;

private:
    // noKeyring: there is no default keyring to store in, so no record either.
    enum class Presence { absent, noKeyring, unlocked, locked, unknown };
    Presence probe() const;
    void createKeyring() const;

    QString service_;
    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds promptTimeout_;
};

}  // namespace norv
