#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include <nlohmann/json.hpp>

namespace norv::test {

// The built NorvMIDIHelper as a child process with pipes on its standard input and output.
class HelperProcess {
public:
    struct Launch {
        // A program (and its arguments) that starts the helper in its place, such as setpriv.
        std::vector<std::string> through;
        // NAME=value entries added to the environment.
        std::vector<std::string> environment;
        // Standard error goes to a pipe read by `readError`; otherwise it is inherited.
        bool captureError = false;

        static Launch capturingError()
        {
            Launch launch;
            launch.captureError = true;
            return launch;
        }
    };

    HelperProcess(const std::vector<std::string>& arguments, const std::string& jackServer, Launch launch);
    HelperProcess(const std::vector<std::string>& arguments, const std::string& jackServer)
        : HelperProcess(arguments, jackServer, Launch{})
    {
    }
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    void writeLine(const std::string& line);
    void closeInput();
    void closeOutput();
    // The next JSON line, or nothing within `bound`.
    std::optional<nlohmann::json> nextEvent(std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Skips lines until one of `type` (returned) or the bound passes.
    std::optional<nlohmann::json> waitFor(const std::string& type, std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Everything on standard output (or, with `captureError`, standard error) from here until the
    // helper closes it, or what came within `bound`.
    std::string readOutput(std::chrono::milliseconds bound = std::chrono::seconds(5));
    std::string readError(std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Exit status, or nothing when it did not exit within `bound`.
    std::optional<int> waitExit(std::chrono::milliseconds bound = std::chrono::seconds(5));

    pid_t pid() const { return pid_; }

    static std::string binaryPath();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    std::string buffer_;
    std::optional<int> exitStatus_;
};

} // namespace norv::test
