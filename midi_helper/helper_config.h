#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norv {

// The integer whose big-endian bytes are the four ASCII characters of `code`.
constexpr int32_t fourCharCode(const char (&code)[5]) {
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
                                static_cast<uint32_t>(static_cast<uint8_t>(code[3])));
}

// Trims white space and line breaks, then reads "0x"-prefixed hexadecimal or plain decimal
// (each with an optional sign). Anything else, or a value beyond 64 bits, gives no number.
std::optional<int64_t> parseInteger(std::string_view text);

// The helper's configuration, filled once from the command line.
struct HelperConfig {
    std::string sourceName = "Norv";
    int32_t sourceUniqueID = fourCharCode("NINS");
    std::string destinationName = "Norv";
    int32_t destinationUniqueID = fourCharCode("NINO");
    std::string udpHost = "0.0.0.0";
    std::optional<std::string> privateSocketDirectory;
    int udpPort = 0;
    int midiChannel = 3;
    int nativeRepeatPort = 0;

    // Options come in name/value pairs; unknown names are skipped with their value and a trailing
    // name without a value ends parsing. Later occurrences override earlier ones.
    static HelperConfig fromArguments(const std::vector<std::string>& arguments);

    bool operator==(const HelperConfig&) const = default;
};

// Trims Unicode white space and line breaks (ASCII ones, NEL, no-break spaces, the U+2000 spaces,
// line and paragraph separators, ideographic space) from both ends of UTF-8 text.
std::string_view trimmed(std::string_view text);

}  // namespace norv
