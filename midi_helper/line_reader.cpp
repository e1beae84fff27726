#include "midi_helper/line_reader.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

namespace norv {

std::optional<LineReader::Line> LineReader::next() {
    for (;;) {
        size_t newline = buffer_.find('\n', scanned_);
        if (newline != std::string::npos) {
            Line line;
            line.overlong = discarding_ || newline > kMaxLine;
            if (!line.overlong) {
                line.text = buffer_.substr(0, newline);
                if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
            }
            buffer_.erase(0, newline + 1);
            scanned_ = 0;
            discarding_ = false;
            return line;
        }
        scanned_ = buffer_.size();
        if (buffer_.size() > kMaxLine) {
            discarding_ = true;
            buffer_.clear();
            scanned_ = 0;
        }
        if (eof_) {
            if (buffer_.empty() && !discarding_) return std::nullopt;
            Line line;
            line.overlong = discarding_;
            if (!discarding_) line.text = std::move(buffer_);
            buffer_.clear();
            discarding_ = false;
            return line;
        }
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A parent may hand over a non-blocking descriptor: wait for input instead of
            // taking the empty read for the end.
            pollfd pfd{fd_, POLLIN, 0};
            ::poll(&pfd, 1, 1000);
            continue;
        }
        if (n <= 0)
            eof_ = true;
        else
            buffer_.append(chunk, size_t(n));
    }
}

}  // namespace norv
