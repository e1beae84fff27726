#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace norv {

// Feeds values into one hash, consistent with memberwise equality: an optional feeds a presence
// marker then its value, a list its count then its elements, a record its own fields (hashInto).
class HashBuilder {
public:
    void add(std::uint64_t bits) {
        state_ ^= bits + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2);
    }
    void add(bool value) { add(static_cast<std::uint64_t>(value ? 1 : 0)); }
    void add(std::int64_t value) { add(static_cast<std::uint64_t>(value)); }
    void add(double value) {
        if (value == 0.0) value = 0.0;  // -0.0 equals 0.0
        add(static_cast<std::uint64_t>(std::hash<double>{}(value)));
    }
    void add(const std::string& value) {
        add(static_cast<std::uint64_t>(std::hash<std::string>{}(value)));
    }
    template <class T>
    void add(const std::optional<T>& value) {
        add(static_cast<std::uint64_t>(value.has_value() ? 1 : 0));
        if (value) add(*value);
    }
    template <class T>
    void add(const std::vector<T>& values) {
        add(static_cast<std::uint64_t>(values.size()));
        for (const T& value : values) add(value);
    }
    template <class T>
    void add(const T& record) requires requires(HashBuilder& builder) {
        record.hashInto(builder);
    }
    { record.hashInto(*this); }

    std::size_t value() const { return static_cast<std::size_t>(state_); }

private:
    std::uint64_t state_ = 0;
};

}  // namespace norv
