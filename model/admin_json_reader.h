#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// Reads one JSON object of an admin body under the admin decoding rules:
// - wire keys are matched after snake_case -> camelCase conversion (see camelCaseKey);
// - a required field fails when missing, null or of the wrong JSON type;
// - an optional field (std::optional<T>) is absent when missing or null, and fails on a wrong type;
// - integers must be integral and in range, Booleans must be true/false, lists fail on any bad
// element;
// - unknown keys are ignored.
// Every failure throws AdminDecodeError whose detail names the path of the bad value.
class AdminJsonReader {
public:
    // Throws AdminDecodeError when `object` is not a JSON object.
    explicit AdminJsonReader(const nlohmann::json& object);

    // Field by its camelCase name. T is std::string, bool, std::int64_t, std::int32_t, double,
    // std::vector<U>, std::map<std::string, std::string> (keys taken as sent), a record with
    // `static T decode(const nlohmann::json&)`, or std::optional of any of these.
    template <class T>
    T get(std::string_view field) const;

    // The wire key converted to the record key it matches: leading and trailing underscores kept,
    // the middle split at underscores (empty pieces dropped); one piece stays unchanged, several
    // become lower-case first piece + capitalised following pieces.
    static std::string camelCaseKey(std::string_view wireKey);

    // Reads one value of type T (not optional); used for fields and for list elements.
    template <class T>
    static T read(const nlohmann::json& value);

    // Rethrows `inner` with `segment` (a key or "[index]") prefixed to its path.
    [[noreturn]] static void rethrowWithin(std::string_view segment, const AdminDecodeError& inner);
    [[noreturn]] static void fail(std::string_view reason);

    AdminJsonReader(const AdminJsonReader&) = delete;
    AdminJsonReader& operator=(const AdminJsonReader&) = delete;

private:
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
        const nlohmann::json* value;
    };
    // Records have at most a few dozen keys: the index lives on the stack unless a body is larger.
    static constexpr std::size_t kInlineEntries = 48;
    static constexpr std::size_t kInlineKeyBytes = 1024;

    const nlohmann::json* find(std::string_view field) const;
    std::string_view keyOf(const Entry& entry) const {
        return std::string_view(keys_ + entry.offset, entry.length);
    }

    Entry inlineEntries_[kInlineEntries];
    char inlineKeys_[kInlineKeyBytes];
    std::vector<Entry> heapEntries_;
    std::vector<char> heapKeys_;
    Entry* entries_ = inlineEntries_;  // sorted by converted key; equal keys keep wire order
    std::size_t count_ = 0;
    const char* keys_ = inlineKeys_;  // converted keys, back to back
};

namespace admin_json_detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

std::string readText(const nlohmann::json& value);
bool readBoolean(const nlohmann::json& value);
std::int64_t readInteger(const nlohmann::json& value, std::int64_t min, std::int64_t max);
double readReal(const nlohmann::json& value);
std::map<std::string, std::string> readTextMap(const nlohmann::json& value);

template <class T>
struct ValueReader {
    static T read(const nlohmann::json& value) { return T::decode(value); }
};
template <>
struct ValueReader<std::string> {
    static std::string read(const nlohmann::json& value) { return readText(value); }
};
template <>
struct ValueReader<bool> {
    static bool read(const nlohmann::json& value) { return readBoolean(value); }
};
template <>
struct ValueReader<std::int64_t> {
    static std::int64_t read(const nlohmann::json& value) {
        return readInteger(value, INT64_MIN, INT64_MAX);
    }
};
template <>
struct ValueReader<std::int32_t> {
    static std::int32_t read(const nlohmann::json& value) {
        return static_cast<std::int32_t>(readInteger(value, INT32_MIN, INT32_MAX));
    }
};
template <>
struct ValueReader<double> {
    static double read(const nlohmann::json& value) { return readReal(value); }
};
template <>
struct ValueReader<std::map<std::string, std::string>> {
    static std::map<std::string, std::string> read(const nlohmann::json& value) {
        return readTextMap(value);
    }
};
template <class T>
struct ValueReader<std::vector<T>> {
    static std::vector<T> read(const nlohmann::json& value) {
        if (!value.is_array()) AdminJsonReader::fail("expected an array");
        std::vector<T> result;
        result.reserve(value.size());
        std::size_t index = 0;
        for (const auto& element : value) {
            try {
                result.push_back(ValueReader<T>::read(element));
            } catch (const AdminDecodeError& error) {
                AdminJsonReader::rethrowWithin("[" + std::to_string(index) + "]", error);
            }
            ++index;
        }
        return result;
    }
};

}  // namespace admin_json_detail

template <class T>
T AdminJsonReader::read(const nlohmann::json& value) {
    return admin_json_detail::ValueReader<T>::read(value);
}

template <class T>
T AdminJsonReader::get(std::string_view field) const {
    const nlohmann::json* value = find(field);
    const bool absent = value == nullptr || value->is_null();
    try {
        if constexpr (admin_json_detail::IsOptional<T>::value) {
            if (absent) return std::nullopt;
            return read<typename T::value_type>(*value);
        } else {
            if (absent) fail("missing required value");
            return read<T>(*value);
        }
    } catch (const AdminDecodeError& error) {
        rethrowWithin(field, error);
    }
}

}  // namespace norv
