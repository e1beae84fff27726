#pragma once
// The bridge on virtual time with an in-memory port, and the lines it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "midi_helper/helper_error.h"
#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {

using Bytes = std::vector<uint8_t>;

inline std::vector<uint8_t> packet(const char* magic, std::initializer_list<uint8_t> rest, size_t size = 8)
{
    // Sized up front: growing a four-byte vector makes GCC 12 warn of a copy out of bounds.
    std::vector<uint8_t> p(std::max(size, 4 + rest.size()), 0);
    std::copy(magic, magic + 4, p.begin());
    std::copy(rest.begin(), rest.end(), p.begin() + 4);
    p.resize(size, 0);
    return p;
}

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest()
        : output([this](const std::string& line, auto) {
            std::lock_guard guard(lock);
            lines.push_back(line);
            return true;
        })
    {
    }

    NativeMidiBridge& bridge(HelperConfig config = {})
    {
        if (!bridge_) {
            bridge_ = std::make_unique<NativeMidiBridge>(config, clock, port, output);
            bridge_->openEndpoints();
        }
        return *bridge_;
    }

    std::vector<Bytes> sentBytes() const
    {
        std::vector<Bytes> all;
        for (const auto& m : port.sent)
            all.push_back(m.bytes);
        return all;
    }

    std::vector<nlohmann::json> events()
    {
        output.flush(std::chrono::seconds(5));
        std::lock_guard guard(lock);
        std::vector<nlohmann::json> parsed;
        for (const auto& line : lines)
            parsed.push_back(nlohmann::json::parse(line));
        return parsed;
    }

    void datagram(const std::vector<uint8_t>& bytes, uint32_t address = 0x0A000002, uint16_t port = 5000)
    {
        bridge().handleDatagram(bytes, DatagramOrigin{false, address, port});
    }

    ManualScheduler clock;
    MemoryMidiPort port;
    std::mutex lock;
    std::vector<std::string> lines;
    JsonOutput output;
    std::unique_ptr<NativeMidiBridge> bridge_;
};

} // namespace norv
