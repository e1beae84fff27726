#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace norv {

// The helper's virtual MIDI endpoints: one source where its MIDI appears for other programs and an
// optional destination that only counts what it receives. Calls return a status: 0 on success.
// Host times are CLOCK_MONOTONIC nanoseconds.
class MidiPort {
public:
    virtual ~MidiPort() = default;

    virtual int openClient(const std::string& clientName) = 0;
    virtual int createSource(const std::string& name) = 0;
    virtual int createDestination(const std::string& name) = 0;
    virtual int setSourceUniqueID(int32_t uniqueID) = 0;
    virtual int setDestinationUniqueID(int32_t uniqueID) = 0;

    // Hands one message of 1 to 3 bytes to the source, to appear at `hostTimeNs` (now or later).
    // Called from one thread only (the helper's loop).
    virtual int send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) = 0;

    // Packets that arrived at the destination so far; callable from any thread.
    virtual int64_t receivedPackets() const = 0;

    // Lets queued messages reach the source for at most `drainBound`, then closes the endpoints.
    virtual void close(std::chrono::milliseconds drainBound) = 0;

    // The real-time priority of the MIDI server's client threads, or -1 when it does not run them
    // real-time (or no client is open).
    virtual int realtimePriority() const { return -1; }

    // What the user should know about the server once the endpoints are up (a long cycle that
    // delays every message, say); empty when nothing.
    virtual std::string serverWarning() const { return {}; }
};

}  // namespace norv
