#pragma once

// What senders put on the helper's wire, for the helper's tests and soak: fast MIDI packets,
// stream frames, Wi-Fi packets, clock datagrams, and loopback sockets to carry them.

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

#include "midi_helper/unique_fd.h"

namespace norv::test {

using Bytes = std::vector<uint8_t>;

// Appends the `bytes` low bytes of `v`, big-endian.
inline void put(Bytes& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A fast MIDI packet: the magic, then `rest`, zero-padded to `size`.
inline Bytes packet(const char* magic, std::initializer_list<uint8_t> rest, size_t size = 8)
{
    Bytes p(std::max(size, 4 + rest.size()), 0);
    std::copy(magic, magic + 4, p.begin());
    std::copy(rest.begin(), rest.end(), p.begin() + 4);
    return p;
}

// One stream frame: the length field, then the payload.
inline Bytes frame(const Bytes& payload, uint32_t length = 8)
{
    // Sized once: growing a four-byte vector makes GCC 12 (Release) warn of a copy out of bounds.
    Bytes f;
    f.reserve(4 + payload.size());
    put(f, length, 4);
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

// A Wi-Fi packet as a sender writes it.
struct WifiPacket {
    bool v2 = false;
    uint32_t token = 7;
    uint32_t sequence = 1;
    uint64_t sendTime = 0;
    uint16_t sustainMask = 0;
    std::vector<int> heldKeys;
    std::vector<std::pair<int, uint8_t>> holds; // v2; their keys are added to the bitmap
    uint16_t step = 0, quant = 0;
    uint8_t swing = 0, gate = 0;
    struct Record {
        uint32_t sequence;
        uint64_t time;
        Bytes payload;
    };
    std::vector<Record> records;

    Bytes bytes() const
    {
        Bytes b = {'N', 'P', 'J', uint8_t(v2 ? '2' : '1')};
        put(b, token, 4);
        put(b, sequence, 4);
        put(b, sendTime, 8);
        put(b, records.size(), 2);
        put(b, sustainMask, 2);
        Bytes bitmap(256, 0);
        for (int key : heldKeys)
            bitmap[size_t(key / 8)] |= uint8_t(1 << (key % 8));
        for (const auto& [key, velocity] : holds)
            bitmap[size_t(key / 8)] |= uint8_t(1 << (key % 8));
        b.insert(b.end(), bitmap.begin(), bitmap.end());
        if (v2) {
            put(b, step, 2);
            put(b, quant, 2);
            put(b, holds.size(), 2);
            b.push_back(swing);
            b.push_back(gate);
            for (const auto& [key, velocity] : holds) {
                put(b, uint64_t(key), 2);
                b.push_back(velocity);
            }
        }
        for (const auto& r : records) {
            put(b, r.sequence, 4);
            put(b, r.time, 8);
            b.insert(b.end(), r.payload.begin(), r.payload.end());
        }
        return b;
    }
};

// An engine clock datagram; `stamp` is the sender's monotonic time in seconds.
inline Bytes engineClock(double tempo, double beat, double stamp, double bar = 4, uint32_t playing = 1)
{
    Bytes b = {'N', 'P', 'C', '1'};
    for (double value : {tempo, beat, stamp, bar})
        put(b, std::bit_cast<uint64_t>(value), 8);
    put(b, playing, 4);
    return b;
}

// A MIDI clock datagram: one tick (24 a beat) with its host time; kind 3 is a running clock.
inline Bytes midiClock(uint64_t hostNs, uint64_t tick, uint32_t generation = 1, uint32_t kind = 3)
{
    Bytes b = {'N', 'P', 'C', '2'};
    put(b, hostNs, 8);
    put(b, tick, 8);
    put(b, generation, 4);
    put(b, kind, 4);
    return b;
}

// A port free for both UDP and TCP on loopback right now.
inline int freePort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        UniqueFd udp(::socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(udp.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&address), &length);
        UniqueFd tcp(::socket(AF_INET, SOCK_STREAM, 0));
        if (::bind(tcp.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return ntohs(address.sin_port);
    }
    return 0;
}

inline sockaddr_in ipv4(const char* host, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

inline UniqueFd connectTcp(const char* host, int port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = ipv4(host, port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return fd;
}

} // namespace norv::test
