// NorvBridgeMac: the application on the real Bluetooth radio.
#include "app/run_norv_bridge.h"

int main(int argc, char** argv) {
    return norv::runNorvBridge(argc, argv, {.l2capChannels = norv::BluetoothServerAdapter::L2capChannels::kernelSockets});
}
