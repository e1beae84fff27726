#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// First read of every inbound admin body: only the path, which chooses the next decode.
struct AdminPathEnvelope {
    std::string path{};

    static AdminPathEnvelope decode(const nlohmann::json& json);
    friend bool operator==(const AdminPathEnvelope&, const AdminPathEnvelope&) = default;
};

}  // namespace norv
