#include "model/diagnostic_status.h"

#include "model/admin_json_reader.h"

namespace norv {

DiagnosticStatus DiagnosticStatus::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return DiagnosticStatus{
        .detailedSecondsRemaining = r.get<std::optional<std::int64_t>>("detailedSecondsRemaining"),
        .queueDropped = r.get<std::optional<std::int64_t>>("queueDropped"),
        .writeErrors = r.get<std::optional<std::int64_t>>("writeErrors"),
        .maxDiskBytes = r.get<std::optional<std::int64_t>>("maxDiskBytes"),
    };
}

}  // namespace norv
