#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "bluetooth/codec/bluetooth_bytes.h"

namespace norv {

// Follows the engine's state frames (u32 big-endian length, one JSON object): counts frames and
// paths, and keeps the MIDI TCP port named by the latest health status.
class BluetoothEndpointParser {
public:
    // A bad frame length throws BluetoothError::invalidStateFrame(); the failure is sticky and
    // later bytes are refused without being kept.
    void receive(std::span<const std::uint8_t> bytes);

    const std::set<std::uint16_t>& midiPorts() const { return midiPorts_; }
    int frames() const { return frames_; }
    const std::map<std::string, int>& paths() const { return paths_; }

    std::function<void(const nlohmann::json& health)> onHealth;

private:
    void handle(std::span<const std::uint8_t> body);

    BluetoothBytes buffer_;
    std::set<std::uint16_t> midiPorts_;
    int frames_ = 0;
    std::map<std::string, int> paths_;
    bool failed_ = false;
};

}  // namespace norv
