#pragma once

#include <optional>

namespace norv {

// Counts start-up failures since the last success and hands out the retry delays.
struct BluetoothStartupRecovery {
    int failures = 0;

    // 1.0, 3.0 and 10.0 s for the first three failures, then none until reset.
    std::optional<double> nextDelay();
};

}  // namespace norv
