#pragma once

#include "core/bridge_identity_vault.h"

#include <mutex>

namespace norv {

// A vault in memory, for tests and for runs without a Secret Service.
class MemoryBridgeIdentityVault : public BridgeIdentityVault {
public:
    MemoryBridgeIdentityVault() = default;
    explicit MemoryBridgeIdentityVault(QByteArray record) : record_(std::move(record)) {}

    std::optional<QByteArray> read() override;
    void insert(const QByteArray& record) override;

    // A status that every later read fails with (0: reads succeed).
    void setReadFailure(int status);

private:
    std::mutex lock_;
    std::optional<QByteArray> record_;
    int readFailure_ = 0;
};

}  // namespace norv
