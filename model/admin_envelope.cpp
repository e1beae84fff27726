#include "model/admin_envelope.h"

#include "model/admin_json_reader.h"

namespace norv {

AdminEnvelope AdminEnvelope::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return AdminEnvelope{
        .path = r.get<std::string>("path"),
        .args = r.get<std::vector<AdminSnapshot>>("args"),
    };
}

}  // namespace norv
