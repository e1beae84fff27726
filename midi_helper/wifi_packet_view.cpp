#include "midi_helper/wifi_packet_view.h"

#include <algorithm>
#include <bit>
#include <bitset>

#include "midi_helper/helper_byte_reader.h"
#include "midi_helper/midi_peer.h"
#include "midi_helper/wire_names.h"

namespace norv {

std::optional<std::pair<int, bool>> wifiRecordNote(std::span<const uint8_t> payload,
                                                   int midiChannel) {
    if (wire::hasMagic(payload, wire::kFastNote)) {
        const int phase = payload[4];
        if (phase < 1 || phase > 3) return std::nullopt;
        const int channel = (payload[7] >= 1 && payload[7] <= 16) ? payload[7] : midiChannel;
        return std::make_pair(noteKey(channel - 1, std::min<int>(payload[5], 127)), phase == 2);
    }
    if (wire::hasMagic(payload, wire::kFastRaw)) {
        const int status = payload[5];
        if (payload[4] != 3 || status < 0x80 || status > 0x9F) return std::nullopt;
        const bool off = status < 0x90 || payload[7] == 0;
        return std::make_pair(noteKey(status & 0x0F, std::min<int>(payload[6], 127)), off);
    }
    return std::nullopt;
}

std::optional<WifiPacketView> WifiPacketView::read(std::span<const uint8_t> p) {
    if (p.size() < 280) return std::nullopt;
    WifiPacketView packet;
    packet.bytes = p;
    // Every read below stays within the sizes checked before it.
    HelperByteReader header(p);
    uint32_t token = 0, sequence = 0;
    uint16_t records = 0;
    header.skip(4);
    header.u32(token);
    header.u32(sequence);
    header.u64(packet.sendTimeInteger);
    header.u16(records);
    header.u16(packet.sustainMask);
    packet.records = records;
    packet.v2 = wire::hasMagic(p, wire::kWifiV2);
    if (packet.v2) {
        if (p.size() < 288) return std::nullopt;
        HelperByteReader stride(p.subspan(280));
        uint16_t holdCount = 0;
        stride.u16(packet.strideStep);
        stride.u16(packet.strideQuant);
        stride.u16(holdCount);
        stride.u8(packet.swing);
        stride.u8(packet.gate);
        packet.holdCount = holdCount;
        if (packet.holdCount > 128) return std::nullopt;
        packet.header = 288 + 3 * packet.holdCount;
    }
    if (packet.records > 32 || p.size() != packet.header + 20 * packet.records) return std::nullopt;
    if (packet.v2) {
        // Holds: each key once, set in the picture, with a velocity; the picture has no others.
        std::bitset<kNoteKeys> seen;
        HelperByteReader holds(p.subspan(288));
        for (size_t i = 0; i < packet.holdCount; ++i) {
            uint16_t keyValue = 0;
            uint8_t velocity = 0;
            holds.u16(keyValue);
            holds.u8(velocity);
            const int key = int(keyValue);
            if (key > 2047 || velocity == 0 || velocity >= 128 || seen.test(size_t(key)) ||
                !packet.holdsKey(key))
                return std::nullopt;
            seen.set(size_t(key));
            packet.holds[i] = {key, velocity};
        }
        size_t bits = 0;
        for (size_t i = 24; i < 280; ++i) bits += size_t(std::popcount(p[i]));
        if (bits != packet.holdCount) return std::nullopt;
    }
    packet.token = token;
    packet.sequence = sequence;
    packet.sendTime = double(packet.sendTimeInteger);
    return packet;
}

WifiPacketView::Record WifiPacketView::record(size_t r) const {
    // Records follow the header, 20 bytes each: event sequence (4), event time (8), payload (8).
    HelperByteReader reader(bytes.subspan(header + 20 * r, 20));
    Record record;
    uint32_t eventSequence = 0;
    reader.u32(eventSequence);
    reader.u64(record.time);
    reader.bytes(8, record.payload);
    record.sequence = eventSequence;
    return record;
}

bool WifiPacketView::recordsValid() const {
    uint64_t previousSequence = 0;
    for (size_t r = 0; r < records; ++r) {
        const Record event = record(r);
        if (event.sequence <= previousSequence || event.time > sendTimeInteger) return false;
        if (!wire::hasMagic(event.payload, wire::kFastNote) &&
            !wire::hasMagic(event.payload, wire::kFastRaw))
            return false;
        previousSequence = event.sequence;
    }
    return true;
}

}  // namespace norv
