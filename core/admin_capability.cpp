#include "core/admin_capability.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace norv {
namespace {

std::mutex& capabilityLock() {
    static std::mutex lock;
    return lock;
}

std::optional<AdminCapability::Identity>& currentIdentity() {
    static std::optional<AdminCapability::Identity> identity;
    return identity;
}

QString randomToken() {
    std::array<std::uint8_t, 32> key{};
    std::size_t filled = 0;
    while (filled < key.size()) {
        const ssize_t n = ::getrandom(key.data() + filled, key.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            // No secure randomness means no safe token; there is no sound fallback.
            throw std::runtime_error("The system random source is unavailable");
        }
        filled += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    QString token;
    token.reserve(64);
    for (std::uint8_t byte : key) {
        token.append(QLatin1Char(kHex[byte >> 4]));
        token.append(QLatin1Char(kHex[byte & 0x0f]));
    }
    return token;
}

// Overwrites the token's characters where they lie, without detaching: the storage is the
// launch's, shared by begin()'s caller and the capability alone (readers get copies of their own).
void overwrite(QString& token) {
    if (token.isEmpty()) return;
    ::explicit_bzero(const_cast<QChar*>(token.constData()), std::size_t(token.size()) * sizeof(QChar));
}

}  // namespace

QString AdminCapability::begin(std::optional<QString> certificatePEM) {
    QString token = randomToken();
    Identity identity{token, std::move(certificatePEM)};
    std::lock_guard guard(capabilityLock());
    currentIdentity() = std::move(identity);
    return token;
}

void AdminCapability::end(const QString& token) {
    std::lock_guard guard(capabilityLock());
    if (!currentIdentity() || currentIdentity()->token != token) return;
    overwrite(currentIdentity()->token);
    currentIdentity().reset();
}

std::optional<AdminCapability::Identity> AdminCapability::current() {
    std::lock_guard guard(capabilityLock());
    const std::optional<Identity>& identity = currentIdentity();
    if (!identity) return std::nullopt;
    // A copy of the token's characters, so that end() never overwrites what a reader holds.
    return Identity{QString(identity->token.constData(), identity->token.size()), identity->certificatePEM};
}

}  // namespace norv
