#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string_view>

namespace norv {

// The MIDI monitor's filter groups. The raw value equals the case name and is the identity.
class MidiMessageFamily {
public:
    enum Value { notes, controlChange, pitchBend, pressure, other };

    constexpr MidiMessageFamily(Value value) : value_(value) {}  // NOLINT: implicit like an enum
    constexpr operator Value() const { return value_; }

    static constexpr std::array<MidiMessageFamily, 5> allCases() {
        return {notes, controlChange, pitchBend, pressure, other};
    }
    // The family whose raw value is exactly `raw` (case-sensitive), or none.
    static std::optional<MidiMessageFamily> fromRaw(std::string_view raw);

    std::string_view rawValue() const;
    std::string_view id() const { return rawValue(); }

private:
    Value value_;
};

}  // namespace norv

template <>
struct std::hash<norv::MidiMessageFamily> {
    std::size_t operator()(norv::MidiMessageFamily family) const {
        return std::hash<int>{}(static_cast<int>(family));
    }
};
