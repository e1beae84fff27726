#pragma once

#include <cstdint>
#include <string>

namespace norv::NorvBluetoothWire {

// GATT identifiers; the service is the only UUID advertised.
inline constexpr const char* service = "D017D260-38CF-4D3A-B9DD-6722585F8001";
inline constexpr const char* configuration = "D017D260-38CF-4D3A-B9DD-6722585F8002";
inline constexpr const char* portableConfiguration = "D017D260-38CF-4D3A-B9DD-6722585F8003";

inline constexpr int version = 4;
// The channels carry the streams uncoded.
inline constexpr int codec = 0;

// The value both configuration characteristics return: compact JSON naming the two channels.
std::string configurationValue(std::uint16_t statePSM, std::uint16_t midiPSM);

}  // namespace norv::NorvBluetoothWire
