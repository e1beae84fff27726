// The demo runtime's interpreter: runs the system's Python 3 with the same arguments and the
// same environment. A compiled program rather than a symbolic link (the runtime fingerprint
// refuses links) or a shell script (a shell adds variables to the environment).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    static char system_python[] = "/usr/bin/python3";
    (void)argc;
    argv[0] = system_python;
    ::execv(system_python, argv);
    std::fprintf(stderr, "python3.13: cannot run %s: %s\n", system_python, std::strerror(errno));
    return 127;
}
