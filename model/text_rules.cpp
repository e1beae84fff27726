#include "model/text_rules.h"

#include <algorithm>
#include <cstdint>

namespace norv::text_rules {

namespace {

// Unicode white space and line breaks.
bool isSpaceCodePoint(std::uint32_t cp) {
    constexpr std::uint32_t kSingles[] = {0x20,   0x85,   0xA0,   0x1680, 0x2028,
                                          0x2029, 0x202F, 0x205F, 0x3000};
    if ((cp >= 0x09 && cp <= 0x0D) || (cp >= 0x2000 && cp <= 0x200A)) return true;
    return std::find(std::begin(kSingles), std::end(kSingles), cp) != std::end(kSingles);
}

// Decodes the UTF-8 sequence starting at `pos`; returns its length, 0 when malformed.
std::size_t decodeAt(std::string_view s, std::size_t pos, std::uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t len = b0 < 0x80           ? 1
                      : (b0 >> 5) == 0x6  ? 2
                      : (b0 >> 4) == 0xE  ? 3
                      : (b0 >> 3) == 0x1E ? 4
                                          : 0;
    if (len == 0 || pos + len > s.size()) return 0;
    cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return len;
}

// Length of the space character ending at `end` (exclusive), 0 when there is none.
std::size_t spaceBefore(std::string_view s, std::size_t end) {
    for (std::size_t len = 1; len <= 4 && len <= end; ++len) {
        const auto b = static_cast<unsigned char>(s[end - len]);
        if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
        std::uint32_t cp = 0;
        return decodeAt(s, end - len, cp) == len && isSpaceCodePoint(cp) ? len : 0;
    }
    return 0;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::uint32_t cp = 0;
        const std::size_t len = decodeAt(text, begin, cp);
        if (len == 0 || !isSpaceCodePoint(cp)) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t len = spaceBefore(text, end);
        if (len == 0) break;
        end -= len;
    }
    return text.substr(begin, end - begin);
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

std::string uppercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool containsIgnoringCase(std::string_view text, std::string_view query) {
    if (query.empty()) return true;
    const auto it = std::search(text.begin(), text.end(), query.begin(), query.end(),
                                [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
    return it != text.end();
}

std::string platformSymbol(std::string_view platform) {
    const std::string lower = lowercased(platform);
    if (lower.find("ios") != std::string::npos) return "ipad";
    if (lower.find("android") != std::string::npos) return "rectangle.portrait";
    return "display";
}

}  // namespace norv::text_rules
