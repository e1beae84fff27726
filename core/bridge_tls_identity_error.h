#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace norv {

// Failures of the engine's TLS identity: the vault refused (with its status), the stored
// record is damaged, or openssl could not make a new identity. what() is the user-facing text;
// reason() says what went wrong underneath, for the log.
class BridgeTLSIdentityError : public std::runtime_error {
public:
    enum class Kind { keychain, invalidRecord, generationFailed };

    // The vault (the Secret Service here) refused; `reason` is what it reported, when known.
    static BridgeTLSIdentityError keychain(std::int32_t status, const QString& reason = {});
    // A keychain failure the user can undo at once: the Secret Service's prompt to create a
    // keyring was dismissed (or left without an answer), so nothing could be stored.
    static BridgeTLSIdentityError keyringNotCreated(const QString& reason);
    static QString keyringNotCreatedDescription();
    static BridgeTLSIdentityError invalidRecord();
    static BridgeTLSIdentityError generationFailed();

    Kind kind() const { return kind_; }
    std::int32_t status() const { return status_; }  // only meaningful for `keychain`
    QString description() const { return QString::fromUtf8(what()); }
    const QString& reason() const { return reason_; }

private:
    BridgeTLSIdentityError(Kind kind, std::int32_t status, const std::string& text, QString reason = {})
        : std::runtime_error(text), kind_(kind), status_(status), reason_(std::move(reason)) {}
    Kind kind_;
    std::int32_t status_;
    QString reason_;
};

}  // namespace norv
