#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace norv {

// The sections of the main window, in sidebar order. The raw value is also the identity.
class BridgeSection {
public:
    enum Value { overview, connections, live, devices, deviceSettings, midiMonitor, routes, logs };

    constexpr BridgeSection(Value value) : value_(value) {}  // NOLINT: implicit like an enum
    constexpr operator Value() const { return value_; }      // switch over sections

    static constexpr std::array<BridgeSection, 8> allCases() {
        return {overview, connections, live, devices, deviceSettings, midiMonitor, routes, logs};
    }
    // The section whose raw value is exactly `raw`, or none.
    static std::optional<BridgeSection> fromRaw(std::string_view raw);

    std::string_view rawValue() const;
    std::string_view id() const { return rawValue(); }
    std::string_view title() const;
    // Name of the symbol image the sidebar shows for the section.
    std::string_view symbol() const;

private:
    Value value_;
};

}  // namespace norv
