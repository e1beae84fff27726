#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norv {

// True when "--help" or "-h" stands where an option name goes (options come in name/value pairs,
// so a value that reads "-h" asks for nothing).
bool helpRequested(const std::vector<std::string>& arguments);

// What "--help" prints: the options, the standard-input commands, the output lines and where MIDI
// appears.
std::string_view helperUsage();

}  // namespace norv
