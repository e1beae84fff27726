#include "core/process_hardening.h"

#include <QProcess>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace norv::ProcessHardening {
namespace {

// Runs in the forked child before exec: async-signal-safe calls only.
void markDescriptorsCloseOnExec() {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    // Kernels before 5.11: every possible descriptor in turn.
    struct rlimit limit {};
    int highest = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        highest = int(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
    for (int fd = 3; fd < highest; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

void zero(void* data, std::size_t size) {
    if (size > 0) ::explicit_bzero(data, size);
}

}  // namespace

bool denyCoreDumps() {
    return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
}

void guardChild(QProcess& process, int standardInput) {
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([standardInput, parent] {
        if (standardInput >= 0) ::dup2(standardInput, STDIN_FILENO);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        // The application ended before the signal was armed: nobody is left to end this child.
        if (::getppid() != parent) ::_exit(127);
        markDescriptorsCloseOnExec();
    });
}

void wipe(QByteArray& bytes) {
    if (bytes.isDetached()) zero(const_cast<char*>(bytes.constData()), std::size_t(bytes.size()));
    bytes.truncate(0);
}

void wipe(QString& text) {
    if (text.isDetached()) zero(const_cast<QChar*>(text.constData()), std::size_t(text.size()) * sizeof(QChar));
    text.truncate(0);
}

void wipe(std::string& text) {
    zero(text.data(), text.size());
    text.clear();
}

}  // namespace norv::ProcessHardening
