#include "core/bridge_store_ports.h"

namespace norv {

AdminClientPort::~AdminClientPort() = default;
EngineControlPort::~EngineControlPort() = default;
BluetoothPort::~BluetoothPort() = default;

}  // namespace norv
