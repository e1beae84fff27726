#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/hash_builder.h"

namespace norv {

// The link measurements of one device: probe statistics of its state and MIDI channels.
struct DeviceLinkQuality {
    // Round-trip statistics of one channel's probes, in milliseconds.
    struct Probe {
        std::optional<double> avg{};
        std::optional<double> max{};
        std::optional<std::int64_t> n{};
        std::optional<std::int64_t> miss{};

        static Probe decode(const nlohmann::json& json);
        void hashInto(HashBuilder& h) const {
            h.add(avg);
            h.add(max);
            h.add(n);
            h.add(miss);
        }
        friend bool operator==(const Probe&, const Probe&) = default;
    };

    std::int64_t window = 0;
    Probe state{};
    Probe midi{};
    std::optional<double> rssi{};  // dBm
    bool fresh = false;
    double syncPendingMs = 0.0;
    double ageMs = 0.0;

    static DeviceLinkQuality decode(const nlohmann::json& json);
    void hashInto(HashBuilder& h) const {
        h.add(window);
        h.add(state);
        h.add(midi);
        h.add(rssi);
        h.add(fresh);
        h.add(syncPendingMs);
        h.add(ageMs);
    }
    friend bool operator==(const DeviceLinkQuality&, const DeviceLinkQuality&) = default;
};

}  // namespace norv

template <>
struct std::hash<norv::DeviceLinkQuality::Probe> {
    std::size_t operator()(const norv::DeviceLinkQuality::Probe& value) const {
        norv::HashBuilder h;
        value.hashInto(h);
        return h.value();
    }
};

template <>
struct std::hash<norv::DeviceLinkQuality> {
    std::size_t operator()(const norv::DeviceLinkQuality& value) const {
        norv::HashBuilder h;
        value.hashInto(h);
        return h.value();
    }
};
