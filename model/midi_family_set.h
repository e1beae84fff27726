#pragma once

#include "model/midi_message_family.h"

#include <array>
#include <cstddef>

namespace norv {

// A set of the five MIDI message families, as the monitor filter keeps it.
class MidiFamilySet {
public:
    static MidiFamilySet all();
    static MidiFamilySet none() { return {}; }

    bool contains(MidiMessageFamily family) const { return bits_[index(family)]; }
    void insert(MidiMessageFamily family) { bits_[index(family)] = true; }
    void remove(MidiMessageFamily family) { bits_[index(family)] = false; }
    // Removes the family when it is in the set, else inserts it; the set may become empty.
    void toggle(MidiMessageFamily family) { bits_[index(family)] = !bits_[index(family)]; }
    int count() const;

    friend bool operator==(const MidiFamilySet&, const MidiFamilySet&) = default;

private:
    static std::size_t index(MidiMessageFamily family) { return static_cast<std::size_t>(family); }
    std::array<bool, 5> bits_{};
};

}  // namespace norv
