#include "support/midi_helper/child_process.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace norv::test {

void stopChild(pid_t& pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

} // namespace norv::test
