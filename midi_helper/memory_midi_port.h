#pragma once

#include <atomic>
#include <vector>

#include "midi_helper/midi_port.h"

namespace norv {

// In-memory endpoints: records what is sent, can be told to fail. For tests and benchmarks.
class MemoryMidiPort : public MidiPort {
public:
    struct Message {
        std::vector<uint8_t> bytes;
        uint64_t hostTimeNs;
        bool operator==(const Message&) const = default;
    };

    int openClient(const std::string& clientName) override;
    int createSource(const std::string& name) override;
    int createDestination(const std::string& name) override;
    int setSourceUniqueID(int32_t uniqueID) override;
    int setDestinationUniqueID(int32_t uniqueID) override;
    int send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) override;
    int64_t receivedPackets() const override { return receivedPackets_.load(); }
    void close(std::chrono::milliseconds drainBound) override;

    // Simulates packets arriving at the destination.
    void deliverToDestination(int64_t packets) { receivedPackets_ += packets; }

    std::vector<Message> sent;
    std::string clientName, sourceName, destinationName;
    bool hasDestination = false;
    bool closed = false;
    int32_t sourceUniqueID = 0, destinationUniqueID = 0;
    // Statuses the next calls return.
    int clientStatus = 0, sourceStatus = 0, destinationStatus = 0, uniqueIDStatus = 0,
        sendStatus = 0;

private:
    std::atomic<int64_t> receivedPackets_{0};
};

}  // namespace norv
