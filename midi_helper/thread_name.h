#pragma once

#include <pthread.h>
#include <cstring>

namespace norv {

// Names the calling thread for top -H, ps -L and debuggers; longer names are cut at 15 bytes.
inline void nameCurrentThread(const char* name) {
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    ::pthread_setname_np(::pthread_self(), cut);
}

// Names the calling thread `during` for a scope and `after` when it ends. Threads started meanwhile
// take the name they start with: a library's threads get a name of their own this way.
class ThreadNameDuring {
public:
    ThreadNameDuring(const char* during, const char* after) : after_(after) {
        nameCurrentThread(during);
    }
    ~ThreadNameDuring() { nameCurrentThread(after_); }
    ThreadNameDuring(const ThreadNameDuring&) = delete;
    ThreadNameDuring& operator=(const ThreadNameDuring&) = delete;

private:
    const char* after_;
};

}  // namespace norv
