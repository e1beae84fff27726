#pragma once

#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// The engine's diagnostic capture and queue state.
struct DiagnosticStatus {
    std::optional<std::int64_t> detailedSecondsRemaining{};  // above 0: detailed capture is on
    std::optional<std::int64_t> queueDropped{};
    std::optional<std::int64_t> writeErrors{};
    std::optional<std::int64_t> maxDiskBytes{};

    static DiagnosticStatus decode(const nlohmann::json& json);
    friend bool operator==(const DiagnosticStatus&, const DiagnosticStatus&) = default;
};

}  // namespace norv
