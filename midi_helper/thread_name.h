#pragma once

#include <cstring>
#include <pthread.h>

namespace norv {

// Names the calling thread for top -H, ps -L and debuggers; longer names are cut at 15 bytes.
inline void nameCurrentThread(const char* name)
{
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    ::pthread_setname_np(::pthread_self(), cut);
}

} // namespace norv
