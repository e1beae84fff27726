#pragma once
// What the helper benchmarks share: an output that discards its lines and a port base that
// accepts every endpoint call, so a benchmark only says what it records.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"

namespace norv::bench {

inline JsonOutput& quietOutput()
{
    static JsonOutput output([](const std::string&, auto) { return true; });
    return output;
}

class RecordingPort : public MidiPort {
public:
    int openClient(const std::string&) override { return 0; }
    int createSource(const std::string&) override { return 0; }
    int createDestination(const std::string&) override { return 0; }
    int setSourceUniqueID(int32_t) override { return 0; }
    int setDestinationUniqueID(int32_t) override { return 0; }
    int64_t receivedPackets() const override { return 0; }
    void close(std::chrono::milliseconds) override {}
};

} // namespace norv::bench
