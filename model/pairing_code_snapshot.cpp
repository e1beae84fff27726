#include "model/pairing_code_snapshot.h"

#include "model/admin_json_reader.h"

namespace norv {

PairingCodeSnapshot PairingCodeSnapshot::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return PairingCodeSnapshot{
        .status = r.get<std::string>("status"),
        .code = r.get<std::optional<std::string>>("code"),
        .deviceLabel = r.get<std::optional<std::string>>("deviceLabel"),
        .expiresIn = r.get<std::optional<std::int64_t>>("expiresIn"),
    };
}

}  // namespace norv
