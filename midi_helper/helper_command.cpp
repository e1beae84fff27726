#include "midi_helper/helper_command.h"

#include <algorithm>
#include <string>

#include "midi_helper/helper_config.h"

namespace norv {

HelperCommand HelperCommand::parse(std::string_view line) {
    HelperCommand command;
    line = trimmed(line);
    if (line.empty()) return command;
    if (line == "quit") {
        command.kind = Kind::Quit;
    } else if (line == "ping") {
        command.kind = Kind::Ping;
    } else if (line == "monitor 1" || line == "monitor 0") {
        command.kind = Kind::Monitor;
        command.monitorEnabled = line.back() == '1';
    } else {
        // Pieces split at spaces only; runs of spaces count as one.
        std::vector<std::string_view> pieces;
        size_t at = 0;
        while (at < line.size()) {
            size_t end = line.find(' ', at);
            if (end == std::string_view::npos) end = line.size();
            if (end > at) pieces.push_back(line.substr(at, end - at));
            at = end + 1;
        }
        command.kind = Kind::Unsupported;
        if ((pieces.size() == 3 || pieces.size() == 4) && pieces[0] == "send") {
            command.kind = Kind::Send;
            for (size_t i = 1; i < pieces.size(); ++i) {
                auto value = parseInteger(pieces[i]);
                if (!value) {
                    command.kind = Kind::InvalidBytes;
                    command.bytes.clear();
                    break;
                }
                command.bytes.push_back(uint8_t(std::clamp<int64_t>(*value, 0, 255)));
            }
        }
    }
    return command;
}

}  // namespace norv
