#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace norv {

// Typed access to the keys of one runtime-tool reply object; every violation throws
// AdminDecodeError with a description fit to show the user.
class ScriptReplyFields {
public:
    explicit ScriptReplyFields(const nlohmann::json& json);

    std::string string(const char* key) const;
    bool boolean(const char* key) const;
    std::optional<std::string> optionalString(const char* key) const;

private:
    const nlohmann::json& field(const char* key) const;

    const nlohmann::json& json_;
};

}  // namespace norv
