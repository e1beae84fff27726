// The admin model decoders straight from JSON text: the first byte picks the record, the rest
// is the text. Anything but AdminDecodeError escaping a decode is a fault, and so is a monitor
// body read without a tree as anything but what its envelope decodes.
#include "fuzz/fuzz_input.h"
#include "model/admin_envelope.h"
#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"
#include "model/midi_monitor_envelope.h"
#include "model/midi_monitor_plain_frame.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t kind = input.byte() % 4;
    const auto text = input.rest();
    const auto plain = readPlainMidiMonitorFrame(text);
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded()) {
        if (plain) __builtin_trap();
        return 0;
    }
    if (plain) {
        try {
            const auto envelope = MidiMonitorEnvelope::decode(json);
            if (envelope.args.size() != 1 || !(envelope.args.front() == *plain)) __builtin_trap();
        } catch (const AdminDecodeError&) {
            __builtin_trap();
        }
    }
    try {
        switch (kind) {
        case 0: {
            const auto envelope = AdminEnvelope::decode(json);
            if (!(envelope == AdminEnvelope::decode(json))) __builtin_trap();
            break;
        }
        case 1: {
            const auto envelope = MidiMonitorEnvelope::decode(json);
            if (!(envelope == MidiMonitorEnvelope::decode(json))) __builtin_trap();
            break;
        }
        case 2:
            (void)AdminSnapshot::decode(json);
            break;
        default:
            (void)MidiMonitorBatch::decode(json);
            break;
        }
    } catch (const AdminDecodeError&) {
    }
    return 0;
}
