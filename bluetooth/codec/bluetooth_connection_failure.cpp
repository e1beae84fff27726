#include "bluetooth/codec/bluetooth_connection_failure.h"

namespace norv::BluetoothConnectionFailure {

std::string code(const std::optional<BluetoothPlatformError>& error) {
    if (!error) {
        return "bluetooth";
    }
    if (error->domain == BluetoothPlatformError::coreBluetoothDomain) {
        if (error->code == 14) return "bluetooth_pairing_required";  // peer removed pairing information
        if (error->code == 15) return "bluetooth_encryption_timeout";
    } else if (error->domain == BluetoothPlatformError::attDomain) {
        // Insufficient authentication or insufficient encryption.
        if (error->code == 5 || error->code == 15) return "bluetooth_pairing_required";
    }
    return "bluetooth";
}

}  // namespace norv::BluetoothConnectionFailure
