#pragma once

#include <cstdint>
#include <optional>
#include <set>

namespace norv {

// Which channels have been asked for and which PSMs the platform gave them.
struct BluetoothPublicationState {
    enum class Role { state, midi };

    std::set<Role> requested;
    bool serviceRequested = false;
    std::optional<std::uint16_t> statePSM;
    std::optional<std::uint16_t> midiPSM;

    // Records `psm` for `role` unless it is 0, not requested, already recorded, or taken by
    // the other role. Returns whether it was recorded.
    bool published(std::uint16_t psm, Role role);
};

}  // namespace norv
