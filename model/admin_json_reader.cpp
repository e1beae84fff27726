#include "model/admin_json_reader.h"

#include <algorithm>
#include <cmath>

namespace norv {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Writes the converted form of `wireKey` at `out` (at most wireKey.size() characters) and
// returns the end of what it wrote.
char* writeCamelCase(std::string_view wireKey, char* out) {
    const auto copy = [&out](std::string_view piece) {
        for (const char c : piece) *out++ = c;
    };
    const std::size_t first = wireKey.find_first_not_of('_');
    if (first == std::string_view::npos) {  // empty, or underscores only
        copy(wireKey);
        return out;
    }
    const std::size_t last = wireKey.find_last_not_of('_');
    const std::string_view middle = wireKey.substr(first, last - first + 1);
    if (middle.find('_') == std::string_view::npos) {  // one piece: unchanged
        copy(wireKey);
        return out;
    }
    copy(wireKey.substr(0, first));
    bool firstPiece = true;
    std::size_t pos = 0;
    while (pos < middle.size()) {
        std::size_t end = middle.find('_', pos);
        if (end == std::string_view::npos) end = middle.size();
        if (end > pos) {
            for (std::size_t i = pos; i < end; ++i) {
                const bool capital = !firstPiece && i == pos;
                *out++ = capital ? asciiUpper(middle[i]) : asciiLower(middle[i]);
            }
            firstPiece = false;
        }
        pos = end + 1;
    }
    copy(wireKey.substr(last + 1));
    return out;
}

}  // namespace

AdminJsonReader::AdminJsonReader(const nlohmann::json& object) {
    if (!object.is_object()) fail("expected an object");
    std::size_t total = 0;
    for (auto it = object.begin(); it != object.end(); ++it) total += it.key().size();
    char* keys = inlineKeys_;
    if (total > kInlineKeyBytes) {
        heapKeys_.resize(total);
        keys = heapKeys_.data();
    }
    if (object.size() > kInlineEntries) {
        heapEntries_.resize(object.size());
        entries_ = heapEntries_.data();
    }
    keys_ = keys;
    char* cursor = keys;
    for (auto it = object.begin(); it != object.end(); ++it) {
        char* end = writeCamelCase(it.key(), cursor);
        Entry entry{static_cast<std::uint32_t>(cursor - keys),
                    static_cast<std::uint32_t>(end - cursor), &it.value()};
        cursor = end;
        // Insertion sort: stable, so of two wire keys that convert alike the one that sorts
        // first wins.
        std::size_t i = count_;
        while (i > 0 && keyOf(entry) < keyOf(entries_[i - 1])) {
            entries_[i] = entries_[i - 1];
            --i;
        }
        entries_[i] = entry;
        ++count_;
    }
}

std::string AdminJsonReader::camelCaseKey(std::string_view wireKey) {
    std::string out(wireKey.size(), '\0');
    out.resize(static_cast<std::size_t>(writeCamelCase(wireKey, out.data()) - out.data()));
    return out;
}

const nlohmann::json* AdminJsonReader::find(std::string_view field) const {
    const Entry* end = entries_ + count_;
    const Entry* it = std::lower_bound(
        static_cast<const Entry*>(entries_), end, field,
        [this](const Entry& entry, std::string_view key) { return keyOf(entry) < key; });
    if (it == end || keyOf(*it) != field) return nullptr;
    return it->value;
}

void AdminJsonReader::rethrowWithin(std::string_view segment, const AdminDecodeError& inner) {
    const std::string_view detail = inner.what();
    std::string path(segment);
    if (!detail.empty() && detail.front() != '[' && detail.front() != ':') path.push_back('.');
    path.append(detail);
    throw AdminDecodeError(path);
}

void AdminJsonReader::fail(std::string_view reason) {
    throw AdminDecodeError(": " + std::string(reason));
}

namespace admin_json_detail {

std::string readText(const nlohmann::json& value) {
    if (!value.is_string()) AdminJsonReader::fail("expected text");
    return value.get_ref<const std::string&>();
}

bool readBoolean(const nlohmann::json& value) {
    if (!value.is_boolean()) AdminJsonReader::fail("expected a Boolean");
    return value.get<bool>();
}

std::int64_t readInteger(const nlohmann::json& value, std::int64_t min, std::int64_t max) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(max)) AdminJsonReader::fail("integer out of range");
        return static_cast<std::int64_t>(n);
    }
    if (value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (n < min || n > max) AdminJsonReader::fail("integer out of range");
        return n;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d) AdminJsonReader::fail("expected an integer");
        // Bounds as doubles: min is exact (a power of two), max + 1 is exact too. A number the
        // parser could not hold as a 64-bit integer arrives as a real, and one just below the
        // 64-bit minimum rounds to that minimum: a real at it is outside, since the minimum
        // itself, written as an integer, is read as one.
        const double low = static_cast<double>(min);
        const double highExclusive = static_cast<double>(max / 2 + 1) * 2.0;
        const bool belowLow = min == INT64_MIN ? d <= low : d < low;
        if (belowLow || d >= highExclusive) AdminJsonReader::fail("integer out of range");
        return static_cast<std::int64_t>(d);
    }
    AdminJsonReader::fail("expected an integer");
}

double readReal(const nlohmann::json& value) {
    if (!value.is_number()) AdminJsonReader::fail("expected a number");
    return value.get<double>();
}

std::map<std::string, std::string> readTextMap(const nlohmann::json& value) {
    if (!value.is_object()) AdminJsonReader::fail("expected an object");
    std::map<std::string, std::string> result;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!it.value().is_string()) {
            AdminJsonReader::rethrowWithin(it.key(), AdminDecodeError(": expected text"));
        }
        result.emplace(it.key(), it.value().get_ref<const std::string&>());
    }
    return result;
}

}  // namespace admin_json_detail

}  // namespace norv
