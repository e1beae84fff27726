#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace norv::test {

// "00 0a ff" -> bytes; spaces and line breaks are ignored.
inline std::vector<std::uint8_t> hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    int high = -1;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (v < 0 || v > 15) throw std::invalid_argument("bad hex");
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd hex");
    return out;
}

// Bytes -> "00 0a ff".
inline std::string toHex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
        if (i) out += ' ';
        out += cell;
    }
    return out;
}

inline std::vector<std::uint8_t> ascii(std::string_view text) { return {text.begin(), text.end()}; }

inline std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A plain state frame: u32 big-endian length, then the body.
inline std::vector<std::uint8_t> stateFrame(std::string_view body) {
    const auto n = static_cast<std::uint32_t>(body.size());
    // Sized once and filled in place: growing a four-byte vector makes GCC 12 (Release) warn of
    // an out-of-bounds copy that is not there.
    std::vector<std::uint8_t> out(4 + body.size());
    out[0] = static_cast<std::uint8_t>(n >> 24);
    out[1] = static_cast<std::uint8_t>(n >> 16);
    out[2] = static_cast<std::uint8_t>(n >> 8);
    out[3] = static_cast<std::uint8_t>(n);
    std::copy(body.begin(), body.end(), out.begin() + 4);
    return out;
}

}  // namespace norv::test
