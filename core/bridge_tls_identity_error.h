#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace norv {

// Failures of the engine's TLS identity: the vault refused (with its status), the stored
// record is damaged, or openssl could not make a new identity. what() is the user-facing text.
class BridgeTLSIdentityError : public std::runtime_error {
public:
    enum class Kind { keychain, invalidRecord, generationFailed };

    static BridgeTLSIdentityError keychain(std::int32_t status);
    static BridgeTLSIdentityError invalidRecord();
    static BridgeTLSIdentityError generationFailed();

    Kind kind() const { return kind_; }
    std::int32_t status() const { return status_; }  // only meaningful for `keychain`
    QString description() const { return QString::fromUtf8(what()); }

private:
    BridgeTLSIdentityError(Kind kind, std::int32_t status, const std::string& text)
        : std::runtime_error(text), kind_(kind), status_(status) {}
    Kind kind_;
    std::int32_t status_;
};

}  // namespace norv
