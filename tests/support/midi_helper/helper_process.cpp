#include "tests/support/midi_helper/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace norv::test {

std::string HelperProcess::binaryPath()
{
    return std::string(NORV_BINARY_DIR) + "/bin/NorvMIDIHelper";
}

namespace {

// Reads `fd` until it closes or `bound` passes.
std::string readToEnd(int fd, std::chrono::milliseconds bound)
{
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(left)) <= 0)
            continue;
        char chunk[4096];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        text.append(chunk, size_t(n));
    }
    return text;
}

} // namespace

HelperProcess::HelperProcess(const std::vector<std::string>& arguments, const std::string& jackServer, Launch launch)
{
    int in[2], out[2], err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (launch.captureError && ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> args = launch.through;
    args.push_back(binaryPath());
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The entries given come first: the first of a name is the one that counts.
    std::vector<std::string> env = launch.environment;
    env.push_back("JACK_DEFAULT_SERVER=" + jackServer);
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "JACK_DEFAULT_SERVER=", 20) != 0)
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (launch.captureError)
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (launch.captureError) {
        ::close(err[1]);
        error_ = err[0];
    }
    if (rc != 0)
        throw std::runtime_error("spawn failed: " + std::string(strerror(rc)));
}

HelperProcess::~HelperProcess()
{
    closeInput();
    if (!waitExit(std::chrono::seconds(5)) && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitExit(std::chrono::seconds(5));
    }
    closeOutput();
    if (error_ >= 0)
        ::close(error_);
}

void HelperProcess::writeLine(const std::string& line)
{
    std::string data = line + "\n";
    [[maybe_unused]] auto n = ::write(input_, data.data(), data.size());
}

void HelperProcess::closeInput()
{
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

void HelperProcess::closeOutput()
{
    if (output_ >= 0)
        ::close(output_);
    output_ = -1;
}

std::optional<nlohmann::json> HelperProcess::nextEvent(std::chrono::milliseconds bound)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return nlohmann::json::parse(line, nullptr, false);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || output_ < 0)
            return std::nullopt;
        pollfd pfd{output_, POLLIN, 0};
        if (::poll(&pfd, 1, int(left)) <= 0)
            continue;
        char chunk[4096];
        ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n <= 0)
            return std::nullopt;
        buffer_.append(chunk, size_t(n));
    }
}

std::optional<nlohmann::json> HelperProcess::waitFor(const std::string& type, std::chrono::milliseconds bound)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        auto event = nextEvent(left);
        if (!event)
            return std::nullopt;
        if (event->is_object() && event->value("type", "") == type)
            return event;
    }
}

std::string HelperProcess::readOutput(std::chrono::milliseconds bound)
{
    std::string text = std::move(buffer_);
    buffer_.clear();
    return text + readToEnd(output_, bound);
}

std::string HelperProcess::readError(std::chrono::milliseconds bound)
{
    return readToEnd(error_, bound);
}

std::optional<int> HelperProcess::waitExit(std::chrono::milliseconds bound)
{
    if (exitStatus_)
        return exitStatus_;
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitStatus_;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

} // namespace norv::test
