#pragma once

#include <string>
#include <string_view>

namespace norv::text_rules {

// `text` without leading and trailing white space and line breaks (Unicode spaces included).
std::string_view trimmed(std::string_view text);

// ASCII case mapping; other characters are kept as they are.
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// Whether `text` contains `query` as one contiguous piece, ignoring ASCII letter case.
bool containsIgnoringCase(std::string_view text, std::string_view query);

// Symbol image name for a device platform: "ipad" for iOS, "rectangle.portrait" for Android,
// "display" otherwise.
std::string platformSymbol(std::string_view platform);

}  // namespace norv::text_rules
