#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace norv::test {

// How long a soak runs: $NORV_SOAK_SECONDS when set (the long form), else `shortForm`.
std::chrono::seconds soakDuration(std::chrono::seconds shortForm);

// Bytes the process has allocated and not yet freed (the sanitizer allocator's count under
// AddressSanitizer, malloc's otherwise).
size_t allocatedBytes();

// Samples of allocatedBytes() taken at the same quiet point of each round. Memory "grows" when
// the least of the last third exceeds the least of the middle third by more than `slack` bytes:
// warm-up (pools, first-use caches) falls in the first third, and taking the least of each third
// ignores the garbage a round happens to hold at the moment of sampling.
class MemoryTrend {
public:
    void sample() { samples_.push_back(allocatedBytes()); }
    size_t count() const { return samples_.size(); }
    // Bytes gained from the middle to the last third (0 when it shrank or too few samples).
    size_t growth() const;

private:
    std::vector<size_t> samples_;
};

}  // namespace norv::test
