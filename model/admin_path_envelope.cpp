#include "model/admin_path_envelope.h"

#include "model/admin_json_reader.h"

namespace norv {

AdminPathEnvelope AdminPathEnvelope::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return AdminPathEnvelope{.path = r.get<std::string>("path")};
}

}  // namespace norv
