#include "support/midi_helper/jack_test_server.h"

#include <atomic>
#include <cstring>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <jack/jack.h>

extern char** environ;

namespace norv::test {
namespace {

std::atomic<int> serial{0};

void quiet(const char*) {}

bool waitForExit(pid_t pid, std::chrono::milliseconds bound)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace

JackTestServer::JackTestServer(Threads threads)
    : name_("norv-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++))
{
    // Synchronous mode with a long client timeout: on a loaded machine a late cycle waits for the
    // clients instead of dropping their MIDI, so the checks do not depend on scheduling luck.
    const bool realtime = threads == Threads::Realtime;
    std::vector<std::string> args = {"jackd", realtime ? "--realtime" : "--no-realtime", "-P", std::to_string(kRealtimePriority),
                                     "--sync", "-t", "5000", "-n", name_, "-d", "dummy", "-r", "48000", "-p", "256"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = ::posix_spawnp(&pid_, "jackd", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        failure_ = "jackd could not be started: " + std::string(strerror(rc));
        return;
    }
    // Probing a server that is still starting makes libjack complain on stderr.
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "jackd exited during start-up";
            return;
        }
        jack_status_t jackStatus{};
        jack_client_t* probe = jack_client_open("norv-probe", jack_options_t(JackNoStartServer | JackServerName),
                                                &jackStatus, name_.c_str());
        if (probe) {
            jack_client_close(probe);
            ready_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    failure_ = "jackd did not accept clients within 10 s";
}

JackTestServer::~JackTestServer()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    if (!waitForExit(pid_, std::chrono::seconds(3))) {
        ::kill(pid_, SIGKILL);
        waitForExit(pid_, std::chrono::seconds(3));
    }
}

} // namespace norv::test
