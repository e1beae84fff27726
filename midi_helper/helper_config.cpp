#include "midi_helper/helper_config.h"

#include <algorithm>
#include <limits>

namespace norv {
namespace {

// The Unicode White_Space code points (spaces, tabs and line breaks) as UTF-8 sequences.
constexpr std::string_view kWhiteSpace[] = {
    "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

// Length of the white-space sequence that `text` starts (front) or ends (back) with; 0 for none.
size_t spaceAtFront(std::string_view text) {
    for (std::string_view space : kWhiteSpace)
        if (text.starts_with(space)) return space.size();
    return 0;
}

size_t spaceAtBack(std::string_view text) {
    for (std::string_view space : kWhiteSpace)
        if (text.ends_with(space)) return space.size();
    return 0;
}

// Optional sign, then at least one digit of `base`, nothing else; magnitude checked against 64
// bits.
std::optional<int64_t> readSigned(std::string_view text, int base) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        if (magnitude > (limit - uint64_t(digit)) / uint64_t(base)) return std::nullopt;
        magnitude = magnitude * uint64_t(base) + uint64_t(digit);
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
    return int64_t(magnitude);
}

int clampInt(int64_t value, int low, int high) {
    return int(std::clamp<int64_t>(value, low, high));
}

void setClamped(int& field, std::string_view text, int low, int high) {
    if (auto value = parseInteger(text)) field = clampInt(*value, low, high);
}

void setUniqueID(int32_t& field, std::string_view text) {
    // A number outside the signed 32-bit range is not stored: the previous value stays.
    auto value = parseInteger(text);
    if (value && *value >= std::numeric_limits<int32_t>::min() &&
        *value <= std::numeric_limits<int32_t>::max())
        field = int32_t(*value);
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    while (size_t n = spaceAtFront(text)) text.remove_prefix(n);
    while (size_t n = spaceAtBack(text)) text.remove_suffix(n);
    return text;
}

std::optional<int64_t> parseInteger(std::string_view text) {
    text = trimmed(text);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.empty()) return std::nullopt;
        return readSigned(text, 16);
    }
    return readSigned(text, 10);
}

HelperConfig HelperConfig::fromArguments(const std::vector<std::string>& arguments) {
    HelperConfig config;
    for (size_t i = 0; i + 1 < arguments.size(); i += 2) {
        const std::string& name = arguments[i];
        const std::string& value = arguments[i + 1];
        if (name == "--source-name") {
            config.sourceName = value;
        } else if (name == "--source-uid") {
            setUniqueID(config.sourceUniqueID, value);
        } else if (name == "--destination-name") {
            config.destinationName = value;
        } else if (name == "--destination-uid") {
            setUniqueID(config.destinationUniqueID, value);
        } else if (name == "--udp-host") {
            config.udpHost = value;
        } else if (name == "--private-socket-dir") {
            config.privateSocketDirectory = value;
        } else if (name == "--udp-port") {
            setClamped(config.udpPort, value, 0, 65535);
        } else if (name == "--midi-channel") {
            setClamped(config.midiChannel, value, 1, 16);
        } else if (name == "--native-repeat-port") {
            // Plain decimal only: no trimming, no hexadecimal; anything else switches the lab off.
            auto number = readSigned(value, 10);
            config.nativeRepeatPort = number ? clampInt(*number, 0, 65535) : 0;
        }
    }
    return config;
}

}  // namespace norv
