#pragma once
// Snapshot and monitor events from the shared model fixtures.

#include "model/admin_snapshot.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace norv::test {

inline std::string readFixture(const std::string& relative) {
    std::ifstream in(std::string(NORV_FIXTURES_DIR) + "/" + relative, std::ios::binary);
    if (!in) throw std::runtime_error("missing fixture " + relative);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline AdminSnapshot fullSnapshot() {
    return AdminSnapshot::decode(nlohmann::json::parse(readFixture("model/snapshot_full.json")));
}

inline MidiMonitorEvent event(std::int64_t sequence, std::string deviceId, std::string endpoint, std::string role,
                              std::string kind, std::int64_t channel, std::int64_t number = 60,
                              std::int64_t value = 100) {
    MidiMonitorEvent e;
    e.sequence = sequence;
    e.timestamp = 1765269000.0 + static_cast<double>(sequence);
    e.deviceId = std::move(deviceId);
    e.endpoint = std::move(endpoint);
    e.role = std::move(role);
    e.kind = std::move(kind);
    e.channel = channel;
    e.number = number;
    e.value = value;
    e.bytes = {0x90, number, value};
    e.source = "wifi";
    return e;
}

}  // namespace norv::test
