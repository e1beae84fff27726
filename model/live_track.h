#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/hash_builder.h"

namespace norv {

// One track of the Live set as the engine sees it.
struct LiveTrack {
    std::int64_t liveId = 0;
    std::optional<std::int64_t> index{};
    std::string name{};
    std::optional<std::string> color{};
    bool canBeArmed = false;
    std::optional<bool> hasMidiInput{};
    bool isArmed = false;

    std::int64_t id() const { return liveId; }

    static LiveTrack decode(const nlohmann::json& json);
    void hashInto(HashBuilder& h) const {
        h.add(liveId);
        h.add(index);
        h.add(name);
        h.add(color);
        h.add(canBeArmed);
        h.add(hasMidiInput);
        h.add(isArmed);
    }
    friend bool operator==(const LiveTrack&, const LiveTrack&) = default;
};

}  // namespace norv

template <>
struct std::hash<norv::LiveTrack> {
    std::size_t operator()(const norv::LiveTrack& value) const {
        norv::HashBuilder h;
        value.hashInto(h);
        return h.value();
    }
};
