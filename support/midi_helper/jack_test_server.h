#pragma once

#include <string>
#include <sys/types.h>

namespace norv::test {

// A JACK server with the dummy driver under a name of its own, for one test. Started by the
// constructor (bounded wait until a client can connect), stopped by the destructor.
class JackTestServer {
public:
    // Without real-time threads unless asked; a real-time server runs its process thread at
    // `kRealtimePriority`.
    enum class Threads { Ordinary, Realtime };
    static constexpr int kRealtimePriority = 20;

    explicit JackTestServer(Threads threads = Threads::Ordinary);
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool running() const { return ready_; }
    const std::string& name() const { return name_; }
    // What went wrong when it did not start.
    const std::string& failure() const { return failure_; }

private:
    std::string name_;
    std::string failure_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace norv::test
