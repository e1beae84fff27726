// The admin model decoders straight from JSON text: the first byte picks the record, the rest
// is the text. Anything but AdminDecodeError escaping a decode is a fault.
#include "fuzz/fuzz_input.h"
#include "model/admin_envelope.h"
#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"
#include "model/midi_monitor_envelope.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t kind = input.byte() % 4;
    const auto text = input.rest();
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded())
        return 0;
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
