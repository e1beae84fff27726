#pragma once

#include <string>

namespace norv {

// An error reported by the Bluetooth platform: its domain, code and readable description.
struct BluetoothPlatformError {
    std::string domain;
    long code = 0;
    std::string description;

    static constexpr const char* coreBluetoothDomain = "CBErrorDomain";
    static constexpr const char* attDomain = "CBATTErrorDomain";
};

}  // namespace norv
