#include "bluetooth/codec/bluetooth_publication_state.h"

namespace norv {

bool BluetoothPublicationState::published(std::uint16_t psm, Role role) {
    if (psm == 0 || !requested.contains(role)) {
        return false;
    }
    auto& own = role == Role::state ? statePSM : midiPSM;
    const auto& other = role == Role::state ? midiPSM : statePSM;
    if (own || other == psm) {
        return false;
    }
    own = psm;
    return true;
}

}  // namespace norv
