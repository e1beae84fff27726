#pragma once

#include <optional>
#include <string>

#include "bluetooth/codec/bluetooth_platform_error.h"

namespace norv::BluetoothConnectionFailure {

// Short failure code for a platform Bluetooth error.
std::string code(const std::optional<BluetoothPlatformError>& error);

}  // namespace norv::BluetoothConnectionFailure
