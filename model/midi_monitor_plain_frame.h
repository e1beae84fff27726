#pragma once
// The monitor's batches arrive many times a second; building a JSON tree of each only to read it
// once costs more than the rest of their reading. This reads a "/admin/midi-monitor/events" body
// straight from its text when the body is in the plain form the engine sends: "path" first, one
// batch in "args", every field once and of its own type. For such a body it gives the batch the
// envelope's decoding gives (MidiMonitorEnvelope, AdminJsonReader's rules). For any other body
// (another path, no batch or several, a key sent twice or in two spellings that convert alike, a
// number of another kind than the field's, a missing field, bad JSON) it gives nothing, and the
// caller decodes the body the general way, which gives the same batch or the error.

#include "model/midi_monitor_batch.h"

#include <cstdint>
#include <optional>
#include <span>

namespace norv {

std::optional<MidiMonitorBatch> readPlainMidiMonitorFrame(std::span<const std::uint8_t> body);

}  // namespace norv
