#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace norv {

// How many times per second the MIDI monitor refreshes; the raw value is the rate in hertz.
class MidiMonitorRefreshRate {
public:
    enum Value { two = 2, five = 5, ten = 10, twenty = 20, thirty = 30 };

    constexpr MidiMonitorRefreshRate(Value value) : value_(value) {}  // NOLINT: like an enum
    constexpr operator Value() const { return value_; }

    static constexpr std::array<MidiMonitorRefreshRate, 5> allCases() {
        return {two, five, ten, twenty, thirty};
    }
    // The rate whose raw value is `hertz`, or none.
    static constexpr std::optional<MidiMonitorRefreshRate> fromRaw(std::int64_t hertz) {
        for (const MidiMonitorRefreshRate rate : allCases()) {
            if (rate.rawValue() == hertz) return rate;
        }
        return std::nullopt;
    }

    constexpr int rawValue() const { return static_cast<int>(value_); }
    constexpr int id() const { return rawValue(); }

private:
    Value value_;
};

}  // namespace norv

template <>
struct std::hash<norv::MidiMonitorRefreshRate> {
    std::size_t operator()(norv::MidiMonitorRefreshRate rate) const {
        return std::hash<int>{}(rate.rawValue());
    }
};
