#include "bench/ui/large_snapshot.h"

#include "bench/model/large_snapshot_json.h"

namespace norv::bench {

AdminSnapshot largeSnapshot(int deviceCount, int variant) {
    return AdminSnapshot::decode(largeSnapshotJson(deviceCount, variant));
}

}  // namespace norv::bench
