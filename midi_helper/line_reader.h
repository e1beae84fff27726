#pragma once

#include <optional>
#include <string>

namespace norv {

// Reads lines from a descriptor with a bound on their length. A longer line is consumed whole
// but handed on as `overlong` with no text, so one runaway writer cannot grow memory.
class LineReader {
public:
    static constexpr size_t kMaxLine = 4096;

    struct Line {
        std::string text;
        bool overlong = false;
    };

    explicit LineReader(int fd) : fd_(fd) {}

    // The next line without its line ending; nothing at the end of input.
    std::optional<Line> next();

private:
    int fd_;
    std::string buffer_;
    size_t scanned_ = 0;
    bool discarding_ = false;
    bool eof_ = false;
};

}  // namespace norv
