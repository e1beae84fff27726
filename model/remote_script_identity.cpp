#include "model/remote_script_identity.h"

#include "model/admin_json_reader.h"

namespace norv {

RemoteScriptIdentity RemoteScriptIdentity::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return RemoteScriptIdentity{
        .remoteScriptBundleId = r.get<std::optional<std::string>>("remoteScriptBundleId"),
        .remoteScriptProcessId = r.get<std::optional<std::int32_t>>("remoteScriptProcessId"),
        .remoteScriptDirectory = r.get<std::optional<std::string>>("remoteScriptDirectory"),
        .remoteScriptVersion = r.get<std::optional<std::string>>("remoteScriptVersion"),
    };
}

}  // namespace norv
