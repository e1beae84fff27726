#include "midi_helper/wifi_packet_view.h"

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstring>

#include "midi_helper/midi_peer.h"

namespace norv {

bool wifiHasMagic(std::span<const uint8_t> bytes, const char (&magic)[5])
{
    return bytes.size() >= 4 && std::memcmp(bytes.data(), magic, 4) == 0;
}

uint64_t wifiReadBE(std::span<const uint8_t> bytes, size_t offset, size_t count)
{
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | bytes[offset + i];
    return value;
}

std::optional<std::pair<int, bool>> wifiRecordNote(std::span<const uint8_t> payload, int midiChannel)
{
    if (wifiHasMagic(payload, "NPM2")) {
        const int phase = payload[4];
        if (phase < 1 || phase > 3)
            return std::nullopt;
        const int channel = (payload[7] >= 1 && payload[7] <= 16) ? payload[7] : midiChannel;
        return std::make_pair(noteKey(channel - 1, std::min<int>(payload[5], 127)), phase == 2);
    }
    if (wifiHasMagic(payload, "NPM3")) {
        const int status = payload[5];
        if (payload[4] != 3 || status < 0x80 || status > 0x9F)
            return std::nullopt;
        const bool off = status < 0x90 || payload[7] == 0;
        return std::make_pair(noteKey(status & 0x0F, std::min<int>(payload[6], 127)), off);
    }
    return std::nullopt;
}

std::optional<WifiPacketView> WifiPacketView::read(std::span<const uint8_t> p)
{
    if (p.size() < 280)
        return std::nullopt;
    WifiPacketView packet;
    packet.bytes = p;
    packet.records = wifiReadBE(p, 20, 2);
    packet.v2 = wifiHasMagic(p, "NPJ2");
    if (packet.v2) {
        if (p.size() < 288)
            return std::nullopt;
        packet.holdCount = wifiReadBE(p, 284, 2);
        if (packet.holdCount > 128)
            return std::nullopt;
        packet.header = 288 + 3 * packet.holdCount;
    }
    if (packet.records > 32 || p.size() != packet.header + 20 * packet.records)
        return std::nullopt;
    if (packet.v2) {
        // Holds: each key once, set in the picture, with a velocity; the picture has no others.
        std::bitset<kNoteKeys> seen;
        for (size_t i = 0; i < packet.holdCount; ++i) {
            const size_t at = 288 + 3 * i;
            const int key = int(wifiReadBE(p, at, 2));
            const uint8_t velocity = p[at + 2];
            if (key > 2047 || velocity == 0 || velocity >= 128 || seen.test(size_t(key)) || !packet.holdsKey(key))
                return std::nullopt;
            seen.set(size_t(key));
            packet.holds[i] = {key, velocity};
        }
        size_t bits = 0;
        for (size_t i = 24; i < 280; ++i)
            bits += size_t(std::popcount(p[i]));
        if (bits != packet.holdCount)
            return std::nullopt;
    }
    packet.token = wifiReadBE(p, 4, 4);
    packet.sequence = wifiReadBE(p, 8, 4);
    packet.sendTimeInteger = wifiReadBE(p, 12, 8);
    packet.sendTime = double(packet.sendTimeInteger);
    return packet;
}

bool WifiPacketView::recordsValid() const
{
    uint64_t previousSequence = 0;
    for (size_t r = 0; r < records; ++r) {
        const uint64_t eventSequence = wifiReadBE(bytes, recordAt(r), 4);
        const uint64_t eventTime = wifiReadBE(bytes, recordAt(r) + 4, 8);
        if (eventSequence <= previousSequence || eventTime > sendTimeInteger)
            return false;
        if (!wifiHasMagic(payload(r), "NPM2") && !wifiHasMagic(payload(r), "NPM3"))
            return false;
        previousSequence = eventSequence;
    }
    return true;
}

} // namespace norv
