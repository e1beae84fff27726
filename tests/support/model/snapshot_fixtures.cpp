#include "pages10/page_fixtures.h"

#include <fstream>
#include <stdexcept>

namespace norv::testing {

AdminSnapshot loadSnapshot(const std::string& relativePath) {
    std::ifstream in(std::string(NORV_FIXTURES_DIR) + "/" + relativePath);
    if (!in) throw std::runtime_error("missing fixture " + relativePath);
    return AdminSnapshot::decode(nlohmann::json::parse(in));
}

AdminSnapshot fullSnapshot() { return loadSnapshot("model/snapshot_full.json"); }

AdminSnapshot edgeSnapshot() { return loadSnapshot("pages10/snapshot_edges.json"); }

const BridgeDevice& deviceById(const AdminSnapshot& snapshot, const std::string& id) {
    for (const BridgeDevice& device : snapshot.devices)
        if (device.deviceId == id) return device;
    throw std::runtime_error("no device " + id);
}

}  // namespace norv::testing
