#pragma once
// Monitored messages of a busy MPE session for the benchmarks: six tablets (the first six devices
// of the large snapshot), nine endpoints, both routes and every kind of message.

#include "model/midi_monitor_event.h"

#include <cstdint>
#include <string>

namespace norv::bench {

inline MidiMonitorEvent monitorEvent(std::int64_t sequence) {
    static const char* kinds[] = {"note", "cc", "pitch_bend", "channel_pressure", "poly_aftertouch", "program_change"};
    const auto i = static_cast<int>(sequence);
    MidiMonitorEvent e;
    e.sequence = sequence;
    e.timestamp = 1765269000.0 + static_cast<double>(sequence) * 0.004;
    e.deviceId = "device-" + std::to_string(1000 + i % 6);
    e.endpoint = "Norv Endpoint " + std::to_string(i % 9);
    e.role = i % 3 == 0 ? "surface" : "instrument";
    e.kind = kinds[i % 6];
    e.channel = 1 + i % 16;
    e.number = i % 128;
    e.value = (i * 37) % 128;
    e.bytes = {0x90, e.number, e.value};
    e.source = "wifi";
    return e;
}

}  // namespace norv::bench
