#include "bluetooth/bluetooth_log.h"

namespace norv {

Q_LOGGING_CATEGORY(bluetoothLog, "org.norv.session.bridge.Connection")

}  // namespace norv
