#include "live/script_disk_state.h"

#include "live/script_reply_fields.h"

namespace norv {

ScriptDiskState ScriptDiskState::decode(const nlohmann::json& json) {
    const ScriptReplyFields fields(json);
    return {fields.string("version"), fields.string("buildId"), fields.boolean("exists"), fields.boolean("current")};
}

}  // namespace norv
