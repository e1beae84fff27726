#pragma once
// Monitor events for the page tests, beside the snapshot fixtures they are shown with.

#include "model/admin_snapshot.h"
#include "tests/support/model/snapshot_fixtures.h"

#include <cstdint>
#include <string>

namespace norv::test {

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
