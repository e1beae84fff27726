#include "tests/support/model/snapshot_fixtures.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace norv::test {

std::string readFixture(const std::string& relativePath) {
    std::ifstream in(std::string(NORV_FIXTURES_DIR) + "/" + relativePath, std::ios::binary);
    if (!in) throw std::runtime_error("missing fixture " + relativePath);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

AdminSnapshot loadSnapshot(const std::string& relativePath) {
    return AdminSnapshot::decode(nlohmann::json::parse(readFixture(relativePath)));
}

AdminSnapshot fullSnapshot() { return loadSnapshot("model/snapshot_full.json"); }

AdminSnapshot edgeSnapshot() { return loadSnapshot("ui/snapshot_edges.json"); }

const BridgeDevice& deviceById(const AdminSnapshot& snapshot, const std::string& id) {
    for (const BridgeDevice& device : snapshot.devices)
        if (device.deviceId == id) return device;
    throw std::runtime_error("no device " + id);
}

}  // namespace norv::test
