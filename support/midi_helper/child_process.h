#pragma once

#include <sys/types.h>

namespace norv::test {

// Ends a child this process started: SIGTERM, up to 3 s to exit, then SIGKILL; reaps it and
// sets `pid` to -1. Nothing for a pid of 0 or less.
void stopChild(pid_t& pid);

} // namespace norv::test
