#!/usr/bin/python3 -I
# The demo runtime's interpreter: runs the system's Python 3 with the same arguments and the same
# environment. This stage runs isolated too (-I above), so the user's site (usercustomize, .pth
# files) and the PYTHON* variables never reach it; it needs nothing but os and sys. A script of
# its own rather than a symbolic link (the runtime fingerprint refuses links) or a shell script (a
# shell adds variables to the environment); being no compiled program, it belongs in the
# architecture-independent resource folder.
import os
import sys

SYSTEM_PYTHON = "/usr/bin/python3"


def environment_as_started():
    # The environment this process was started with: Python itself may have added to os.environ
    # (LC_CTYPE, when it coerces a C locale).
    with open("/proc/self/environ", "rb") as block:
        entries = block.read().split(b"\0")
    return dict(entry.split(b"=", 1) for entry in entries if b"=" in entry)


try:
    os.execve(SYSTEM_PYTHON, [SYSTEM_PYTHON, *sys.argv[1:]], environment_as_started())
except OSError as error:
    sys.stderr.write(f"python3.13: cannot run {SYSTEM_PYTHON}: {error.strerror}\n")
    sys.exit(127)
