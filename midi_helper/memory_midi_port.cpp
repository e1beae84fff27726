#include "midi_helper/memory_midi_port.h"

namespace norv {

int MemoryMidiPort::openClient(const std::string& name) {
    clientName = name;
    return clientStatus;
}

int MemoryMidiPort::createSource(const std::string& name) {
    sourceName = name;
    return sourceStatus;
}

int MemoryMidiPort::createDestination(const std::string& name) {
    destinationName = name;
    hasDestination = destinationStatus == 0;
    return destinationStatus;
}

int MemoryMidiPort::setSourceUniqueID(int32_t uniqueID) {
    if (uniqueIDStatus == 0) sourceUniqueID = uniqueID;
    return uniqueIDStatus;
}

int MemoryMidiPort::setDestinationUniqueID(int32_t uniqueID) {
    if (uniqueIDStatus == 0) destinationUniqueID = uniqueID;
    return uniqueIDStatus;
}

int MemoryMidiPort::send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) {
    if (sendStatus != 0) return sendStatus;
    sent.push_back({std::vector<uint8_t>(bytes.begin(), bytes.end()), hostTimeNs});
    return 0;
}

void MemoryMidiPort::close(std::chrono::milliseconds) { closed = true; }

}  // namespace norv
