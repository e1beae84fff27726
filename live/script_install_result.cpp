#include "live/script_install_result.h"

#include "live/script_reply_fields.h"

namespace norv {

ScriptInstallResult ScriptInstallResult::decode(const nlohmann::json& json) {
    const ScriptReplyFields fields(json);
    return {fields.boolean("changed"), fields.optionalString("backup")};
}

}  // namespace norv
