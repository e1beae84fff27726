// NorvBridgeMacStandIn: the application as shipped, but with BlueZ's L2CAP channels on stand-in
// AF_UNIX sockets, so whole-program tests reach its channels on a machine without Bluetooth.
// Built beside the tests and never installed.
#include "app/run_norv_bridge.h"

int main(int argc, char** argv) {
    return norv::runNorvBridge(argc, argv, {.l2capChannels = norv::BluetoothServerAdapter::L2capChannels::standInSockets});
}
