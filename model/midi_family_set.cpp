#include "model/midi_family_set.h"

#include <algorithm>

namespace norv {

MidiFamilySet MidiFamilySet::all() {
    MidiFamilySet set;
    set.bits_.fill(true);
    return set;
}

int MidiFamilySet::count() const {
    return static_cast<int>(std::count(bits_.begin(), bits_.end(), true));
}

}  // namespace norv
