#pragma once

#include <cstdint>
#include <vector>

namespace norv {

// The byte buffers of the Bluetooth wire: frames, blocks, queued state and pipe data.
using BluetoothBytes = std::vector<std::uint8_t>;

}  // namespace norv
