#include "model/midi_message_family.h"

namespace norv {

std::optional<MidiMessageFamily> MidiMessageFamily::fromRaw(std::string_view raw) {
    for (const MidiMessageFamily family : allCases()) {
        if (family.rawValue() == raw) return family;
    }
    return std::nullopt;
}

std::string_view MidiMessageFamily::rawValue() const {
    switch (value_) {
        case notes:
            return "notes";
        case controlChange:
            return "controlChange";
        case pitchBend:
            return "pitchBend";
        case pressure:
            return "pressure";
        case other:
            return "other";
    }
    return "other";
}

}  // namespace norv
