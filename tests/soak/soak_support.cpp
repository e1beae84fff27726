#include "soak_support.h"

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// Declared here: GCC ships no <sanitizer/allocator_interface.h>, but its runtime has the call.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace norv::test {

std::chrono::seconds soakDuration(std::chrono::seconds shortForm) {
    if (const char* text = std::getenv("NORV_SOAK_SECONDS")) {
        try {
            const long seconds = std::stol(text);
            if (seconds > 0) return std::chrono::seconds(seconds);
        } catch (const std::exception&) {
        }
    }
    return shortForm;
}

size_t allocatedBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

size_t MemoryTrend::growth() const {
    const size_t third = samples_.size() / 3;
    if (third == 0) return 0;
    const auto middle = *std::min_element(samples_.begin() + third, samples_.begin() + 2 * third);
    const auto last = *std::min_element(samples_.begin() + 2 * third, samples_.end());
    return last > middle ? last - middle : 0;
}

}  // namespace norv::test
