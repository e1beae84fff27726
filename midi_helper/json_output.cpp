#include "midi_helper/json_output.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

#include "midi_helper/thread_name.h"

namespace norv {
namespace {

// Writes the whole line plus a line feed, waiting for the descriptor at most until `deadline`.
bool writeLine(int fd, const std::string& line, std::chrono::steady_clock::time_point deadline) {
    std::string data = line;
    data.push_back('\n');
    size_t done = 0;
    while (done < data.size()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd pfd{fd, POLLOUT, 0};
        int ready = ::poll(&pfd, 1, int(std::min<int64_t>(left + 1, 200)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (pfd.revents & (POLLERR | POLLNVAL)) return false;
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;  // a closed reader (EPIPE) or another error: the line is lost
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

JsonOutput::JsonOutput(int fd)
    : JsonOutput([fd](const std::string& line, std::chrono::steady_clock::time_point deadline) {
          return writeLine(fd, line, deadline);
      }) {}

JsonOutput::JsonOutput(LineSink sink) : sink_(std::move(sink)) {
    writer_ = std::thread([this] { writerLoop(); });
}

JsonOutput::~JsonOutput() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        held_ = false;
    }
    wake_.notify_all();
    writer_.join();
}

void JsonOutput::enqueue(nlohmann::json event) {
    bool midi = false;
    if (auto type = event.find("type"); type != event.end() && type->is_string())
        midi = type->get_ref<const std::string&>() == "midi";
    {
        std::lock_guard guard(lock_);
        if (pending_.size() >= kCapacity) {
            ++dropped_;
            if (midi) return;
            auto oldestMidi = std::find_if(pending_.begin(), pending_.end(),
                                           [](const Pending& p) { return p.midi; });
            pending_.erase(oldestMidi != pending_.end() ? oldestMidi : pending_.begin());
        }
        pending_.push_back({std::move(event), midi});
    }
    wake_.notify_one();
}

int64_t JsonOutput::dropped() const {
    std::lock_guard guard(lock_);
    return dropped_;
}

bool JsonOutput::flush(std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock guard(lock_);
    flushDeadline_ = deadline;
    flushSerial_ = ++flushCount_;
    lostDuringFlush_ = false;
    held_ = false;
    wake_.notify_all();
    bool done = idle_.wait_until(guard, deadline, [this] { return pending_.empty() && !writing_; });
    done = done && !lostDuringFlush_;
    flushDeadline_ = std::chrono::steady_clock::time_point::max();
    flushSerial_ = 0;
    return done;
}

std::string JsonOutput::serialise(const nlohmann::json& event) {
    try {
        return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (...) {
        return {};
    }
}

std::deque<nlohmann::json> JsonOutput::pendingForTesting() const {
    std::lock_guard guard(lock_);
    std::deque<nlohmann::json> events;
    for (const auto& p : pending_) events.push_back(p.event);
    return events;
}

void JsonOutput::holdWriterForTesting(bool hold) {
    {
        std::lock_guard guard(lock_);
        held_ = hold;
    }
    wake_.notify_all();
}

void JsonOutput::writerLoop() {
    nameCurrentThread("norv-writer");
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || (!held_ && !pending_.empty()); });
        if (pending_.empty() || held_) {
            if (stopping_) return;
            continue;
        }
        nlohmann::json event = std::move(pending_.front().event);
        pending_.pop_front();
        writing_ = true;
        // The flush this line is written under; a line taken before any flush belongs to the next.
        const uint64_t owner = flushSerial_;
        // A line that waits on a stalled reader gives up at the flush deadline once one is set,
        // and after a generous bound otherwise, so shutdown is never held hostage by the reader.
        auto deadline = stopping_ ? std::chrono::steady_clock::now() : flushDeadline_;
        if (deadline == std::chrono::steady_clock::time_point::max())
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        guard.unlock();
        std::string line = serialise(event);
        const bool written = !line.empty() && sink_(line, deadline);
        guard.lock();
        writing_ = false;
        // A line given up counts against the flush waiting for it, never against a later one
        // (an earlier flush that gave up on it has already returned false).
        if (!written && flushSerial_ != 0 && (owner == 0 || owner == flushSerial_))
            lostDuringFlush_ = true;
        if (pending_.empty()) idle_.notify_all();
    }
}

}  // namespace norv
