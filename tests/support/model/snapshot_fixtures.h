#pragma once
// Snapshots read from the JSON fixtures under tests/fixtures.

#include "model/admin_snapshot.h"

#include <string>

namespace norv::test {

// tests/fixtures/<relativePath> as it is on disk.
std::string readFixture(const std::string& relativePath);
// tests/fixtures/<relativePath>, decoded.
AdminSnapshot loadSnapshot(const std::string& relativePath);
// The snapshot with several devices in different states (model/snapshot_full.json).
AdminSnapshot fullSnapshot();
// The snapshot picked for the page rules (tests/fixtures/ui/README.md).
AdminSnapshot edgeSnapshot();
const BridgeDevice& deviceById(const AdminSnapshot& snapshot, const std::string& id);

}  // namespace norv::test
