#include "bluetooth/codec/norv_bluetooth_wire.h"

#include <nlohmann/json.hpp>

namespace norv::NorvBluetoothWire {

std::string configurationValue(std::uint16_t statePSM, std::uint16_t midiPSM) {
    const nlohmann::json value = {{"v", version}, {"state", statePSM}, {"midi", midiPSM}, {"codec", codec}};
    return value.dump();
}

}  // namespace norv::NorvBluetoothWire
