#include "live/script_reply_fields.h"

#include "model/admin_decode_error.h"

#include <nlohmann/json.hpp>

namespace norv {

namespace {
[[noreturn]] void fail(const std::string& what) {
    throw AdminDecodeError("The Remote Script reply could not be read: " + what);
}
}  // namespace

ScriptReplyFields::ScriptReplyFields(const nlohmann::json& json) : json_(json) {
    if (!json_.is_object())
        fail("it is not a JSON object");
}

const nlohmann::json& ScriptReplyFields::field(const char* key) const {
    const auto it = json_.find(key);
    if (it == json_.end())
        fail(std::string("the key \"") + key + "\" is missing");
    return *it;
}

std::string ScriptReplyFields::string(const char* key) const {
    const nlohmann::json& value = field(key);
    if (!value.is_string())
        fail(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

bool ScriptReplyFields::boolean(const char* key) const {
    const nlohmann::json& value = field(key);
    if (!value.is_boolean())
        fail(std::string("\"") + key + "\" is not a boolean");
    return value.get<bool>();
}

std::optional<std::string> ScriptReplyFields::optionalString(const char* key) const {
    const auto it = json_.find(key);
    if (it == json_.end() || it->is_null())
        return std::nullopt;
    if (!it->is_string())
        fail(std::string("\"") + key + "\" is not a string");
    return it->get<std::string>();
}

}  // namespace norv
