#pragma once

#include <string_view>

namespace norv {

// What the user decides about a device's access to the engine. The raw value is the word the
// engine reads in the device access command.
class DeviceAccessAction {
public:
    enum Value { allow, pair, disconnect, forget };

    constexpr DeviceAccessAction(Value value) : value_(value) {}  // NOLINT: implicit like an enum
    constexpr operator Value() const { return value_; }

    constexpr std::string_view rawValue() const {
        switch (value_) {
        case allow: return "allow";
        case pair: return "pair";
        case disconnect: return "disconnect";
        case forget: return "forget";
        }
        return "disconnect";
    }

private:
    Value value_;
};

}  // namespace norv
