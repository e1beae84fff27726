// The admin channel's inbound byte stream: framing, the authentication gate, then the body
// decodes chosen by path. Input: pieces of [flags][u16 length][bytes]; flag bit 0 set means the
// piece is a JSON body to be framed with its correct length, otherwise raw stream bytes.
#include "core/admin_frame_reader.h"
#include "fuzz/fuzz_input.h"
#include "model/admin_envelope.h"
#include "model/admin_path_envelope.h"
#include "model/midi_monitor_envelope.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    AdminFrameReader reader;
    // Most inputs would stop at the gate; let half of them start authenticated.
    if (input.byte() & 1) {
        const std::string hello = R"({"path":"/admin/authenticated","args":[]})";
        const auto frame = fuzz::lengthPrefixed({reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size()});
        reader.append(QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())));
    }
    while (!input.empty()) {
        const std::uint8_t flags = input.byte();
        const auto piece = input.take(input.u16());
        if (flags & 1) {
            const auto frame = fuzz::lengthPrefixed(piece);
            reader.append(QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())));
        } else {
            reader.append(QByteArray(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size())));
        }
        const auto outcome = reader.consume();
        for (const auto& frame : outcome.frames) {
            try {
                const auto path = AdminPathEnvelope::decode(frame.body).path;
                if (path != frame.path) __builtin_trap();
                if (path == "/admin/snapshot")
                    (void)AdminEnvelope::decode(frame.body);
                else if (path == "/admin/midi-monitor/events")
                    (void)MidiMonitorEnvelope::decode(frame.body);
            } catch (const AdminDecodeError&) {
            }
        }
        if (outcome.failure) {
            if (!reader.authenticated() && outcome.frames.size() > 0) __builtin_trap();
            reader.reset();
        }
    }
    return 0;
}
