#pragma once
// A large admin snapshot for the window benchmarks: 64 devices (a few archived or offline),
// 128 Live tracks, a routing plan and status for every assigned track.

#include "model/admin_snapshot.h"

namespace norv::bench {

// `deviceCount` devices; `variant` changes the link figures of the first device, so two
// variants differ in exactly one device's values.
AdminSnapshot largeSnapshot(int deviceCount = 64, int variant = 0);

}  // namespace norv::bench
