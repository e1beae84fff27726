#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace norv {

// One standard-input line, read as a command.
struct HelperCommand {
    enum class Kind { Empty, Quit, Ping, Monitor, Send, InvalidBytes, Unsupported };

    Kind kind = Kind::Empty;
    bool monitorEnabled = false;  // for Monitor
    std::vector<uint8_t> bytes;   // for Send: two or three bytes, each clamped to 0...255

    static HelperCommand parse(std::string_view line);
};

}  // namespace norv
