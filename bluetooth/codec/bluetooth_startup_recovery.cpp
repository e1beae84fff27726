#include "bluetooth/codec/bluetooth_startup_recovery.h"

#include <array>

namespace norv {

std::optional<double> BluetoothStartupRecovery::nextDelay() {
    static constexpr std::array<double, 3> delays{1.0, 3.0, 10.0};
    ++failures;
    if (failures > static_cast<int>(delays.size())) {
        return std::nullopt;
    }
    return delays[static_cast<std::size_t>(failures - 1)];
}

}  // namespace norv
