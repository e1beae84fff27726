#include "model/bridge_section.h"

namespace norv {

namespace {

struct SectionText {
    std::string_view raw;
    std::string_view title;
    std::string_view symbol;
};

constexpr std::array<SectionText, 8> kTexts{{
    {"overview", "Overview", "rectangle.grid.2x2"},
    {"connections", "Connections", "network"},
    {"live", "Ableton Live", "waveform"},
    {"devices", "Devices", "ipad.and.iphone"},
    {"deviceSettings", "Device settings", "slider.horizontal.3"},
    {"midiMonitor", "MIDI Monitor", "waveform.path.ecg"},
    {"routes", "Routes", "arrow.triangle.branch"},
    {"logs", "Diagnostics", "text.alignleft"},
}};

}  // namespace

std::optional<BridgeSection> BridgeSection::fromRaw(std::string_view raw) {
    for (const BridgeSection section : allCases()) {
        if (section.rawValue() == raw) return section;
    }
    return std::nullopt;
}

std::string_view BridgeSection::rawValue() const { return kTexts[value_].raw; }
std::string_view BridgeSection::title() const { return kTexts[value_].title; }
std::string_view BridgeSection::symbol() const { return kTexts[value_].symbol; }

}  // namespace norv
