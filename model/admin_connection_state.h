#pragma once

#include <string>

namespace norv {

// The admin channel's state as the store publishes it. `disconnected` carries the reason with
// which the channel gave up; the other cases carry nothing.
class AdminConnectionState {
public:
    enum class Kind { disconnected, stopped, connecting, connected };

    static AdminConnectionState disconnected(std::string reason) {
        return AdminConnectionState(Kind::disconnected, std::move(reason));
    }
    static AdminConnectionState stopped() { return AdminConnectionState(Kind::stopped, {}); }
    static AdminConnectionState connecting() { return AdminConnectionState(Kind::connecting, {}); }
    static AdminConnectionState connected() { return AdminConnectionState(Kind::connected, {}); }

    Kind kind() const { return kind_; }
    bool isConnected() const { return kind_ == Kind::connected; }
    // The reason of `disconnected`; empty for the other cases.
    const std::string& reason() const { return reason_; }

    friend bool operator==(const AdminConnectionState&, const AdminConnectionState&) = default;

private:
    AdminConnectionState(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind_;
    std::string reason_;
};

}  // namespace norv
