#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norv {

// True when "--help" or "-h" stands where an option name goes (options come in name/value pairs,
// so a value that reads "-h" asks for nothing).
bool helpRequested(const std::vector<std::string>& arguments);

// True when "--version" stands where an option name goes.
bool versionRequested(const std::vector<std::string>& arguments);

// What "--help" prints: the options, the standard-input commands, the output lines and where MIDI
// appears.
std::string_view helperUsage();

// What "--version" prints: the program's name and the project's version, one line.
std::string_view helperVersion();

}  // namespace norv
