#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/admin_snapshot.h"

namespace norv {

// The body of "/admin/snapshot". An empty `args` is valid and means nothing to
// apply; otherwise only the first element is used, though every element must decode.
struct AdminEnvelope {
    std::string path{};
    std::vector<AdminSnapshot> args{};

    static AdminEnvelope decode(const nlohmann::json& json);
    friend bool operator==(const AdminEnvelope&, const AdminEnvelope&) = default;
};

}  // namespace norv
