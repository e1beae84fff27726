"""What the demo engine and the tests' fake engine share (Python 3 standard library only).

The engine's command line, the identity line, the TLS server context, admin frames, the watch
on standard input, the Remote Script check and install, and the diagnostics archive. Nothing
here reads a file or a variable that steers it; each engine script loads this module by path
beside itself (it runs isolated, -I, so its folder is not on the import path).
"""

import argparse
import hashlib
import json
import os
import shutil
import ssl
import stat
import struct
import sys
import threading
import time
import zipfile

MAX_FRAME = 1048576


def log(level, message):
    """One log line on standard output. A reader that went away costs the line, not the engine."""
    try:
        print(f"{level} {message}", flush=True)
    except (OSError, ValueError):
        pass


def load_sibling(name):
    """The module `name`.py beside this one (the engine's folder is on the import path)."""
    import importlib
    return importlib.import_module(name)


def engine_options(description):
    """A parser of the engine's command line; a caller may add options of its own."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--public-host", default="127.0.0.1")
    parser.add_argument("--public-port", type=int, default=9316)
    parser.add_argument("--no-legacy-shared-midi", action="store_true")
    parser.add_argument("--managed-stdin", action="store_true")
    parser.add_argument("--tls-identity-stdin", action="store_true")
    parser.add_argument("--require-device-approval", action="store_true")
    parser.add_argument("--no-bonjour", action="store_true")
    parser.add_argument("--usb-tunnel", action="store_true")
    parser.add_argument("--android-adb-tunnel", action="store_true")
    parser.add_argument("--android-adb-path")
    # The Remote Script check and install.
    parser.add_argument("--script-bundle")
    parser.add_argument("--script-library")
    parser.add_argument("--install-script", action="store_true")
    # The diagnostics export.
    parser.add_argument("--export-diagnostics", metavar="DESTINATION")
    parser.add_argument("--desktop-version")
    return parser


def read_identity():
    """The identity line on standard input: (certificate PEM, private key PEM)."""
    identity = json.loads(sys.stdin.readline())
    return identity["certificate_pem"], identity["private_key_pem"]


def tls_context(certificate_pem, private_key_pem):
    """A TLS 1.2+ server context for the identity. The PEM texts pass through anonymous memory
    files, so the private key never lands on a file system."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    descriptors = []
    try:
        for name, text in (("certificate", certificate_pem), ("key", private_key_pem)):
            descriptor = os.memfd_create(name, os.MFD_CLOEXEC)
            descriptors.append(descriptor)
            data = text.encode("utf-8")
            while data:
                data = data[os.write(descriptor, data):]
        certificate, key = (f"/proc/self/fd/{descriptor}" for descriptor in descriptors)
        context.load_cert_chain(certificate, key)
    finally:
        for descriptor in descriptors:
            os.close(descriptor)
    return context


def encode_frame(body):
    data = json.dumps(body, separators=(",", ":")).encode("utf-8")
    return struct.pack(">I", len(data)) + data


def read_exact(stream, count):
    data = b""
    while len(data) < count:
        chunk = stream.recv(count - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_frame(stream):
    """The next frame's body; EOFError at the end of the stream, ValueError for a length out of
    range or a body that is not a JSON object."""
    (length,) = struct.unpack(">I", read_exact(stream, 4))
    if length == 0 or length > MAX_FRAME:
        raise ValueError(f"bad frame length {length}")
    body = json.loads(read_exact(stream, length).decode("utf-8"))
    if not isinstance(body, dict):
        raise ValueError("frame body is not an object")
    return body


def watch_standard_input():
    """Ends the engine when its standard input ends: the application that runs it has gone.
    Neither a closed standard output nor anything else the watch meets keeps the engine alive."""
    def watch():
        try:
            while os.read(0, 4096):
                pass
        except OSError:
            pass
        finally:
            try:
                log("INFO", "standard input closed, stopping")
            finally:
                os._exit(0)
    threading.Thread(target=watch, name="standard-input", daemon=True).start()


MAX_SCRIPT_FILE = 16 * 1048576


def file_digest(path):
    """SHA-256 of the regular file at `path`, opened without following a link or waiting on a
    FIFO; ValueError for anything else or a file above MAX_SCRIPT_FILE."""
    descriptor = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    with os.fdopen(descriptor, "rb") as handle:
        status = os.fstat(handle.fileno())
        if not stat.S_ISREG(status.st_mode) or status.st_size > MAX_SCRIPT_FILE:
            raise ValueError(f"{path} is not a script file")
        digest = hashlib.sha256()
        for chunk in iter(lambda: handle.read(65536), b""):
            digest.update(chunk)
        return digest.hexdigest()


def script_tree(folder, ignore=None, own=False):
    """The script in `folder`: {path inside it: SHA-256 of its contents} for every file, and every
    folder as its path with a trailing "/" (value None). None when `folder` is not a folder or
    holds anything but folders and regular files (a symbolic link, say), or, with `own`, anything
    of another user's or that others may write. The bytecode caches Live writes beside the
    sources (__pycache__) are left out, but they must hold only regular files of this user's own,
    as Live running as this user writes them. `ignore` is copytree's ignore."""
    tree = {}

    def check(path, status):
        if own and (status.st_uid != os.getuid() or status.st_mode & stat.S_IWOTH):
            raise ValueError(f"{path} is not this user's alone")

    def caches(path):
        for name in os.listdir(path):
            status = os.lstat(os.path.join(path, name))
            if not stat.S_ISREG(status.st_mode) or status.st_uid != os.getuid():
                raise ValueError(f"{path}/{name} is no cache of this user's")

    def walk(path, inside):
        names = sorted(os.listdir(path))
        ignored = ignore(path, names) if ignore else set()
        for name in names:
            if name in ignored:
                continue
            child = os.path.join(path, name)
            status = os.lstat(child)
            check(child, status)
            if stat.S_ISDIR(status.st_mode) and name == "__pycache__":
                caches(child)
            elif stat.S_ISDIR(status.st_mode):
                tree[inside + name + "/"] = None
                walk(child, inside + name + "/")
            elif stat.S_ISREG(status.st_mode):
                tree[inside + name] = file_digest(child)
            else:
                raise ValueError(f"{child} is neither a file nor a folder")

    try:
        status = os.lstat(folder)
        if not stat.S_ISDIR(status.st_mode):
            return None
        check(folder, status)
        walk(folder, "")
    except (OSError, ValueError):
        return None
    return tree


def remote_script(bundle, library, install, manifest, ignore=None):
    """The Remote Script check (install False) or install of `bundle` into the User Library
    `library` (None when none is given). `manifest` is the bundle's manifest.json. Returns the
    reply and the exit status: a check gives {"version", "buildId", "exists", "current"}, an
    install {"changed", "backup"}, a failure {"error": text} with status 1. The installed copy is
    current when it holds the bundle's files with their contents and nothing else, all this user's
    own and written by nobody else (script_tree); `ignore` is copytree's ignore."""
    installed = os.path.join(library, "Remote Scripts", "NorvSession") if library else None

    def current():
        expected = script_tree(bundle, ignore)
        return expected is not None and script_tree(installed, ignore, own=True) == expected

    if not install:
        exists = bool(installed) and os.path.isdir(installed)
        return {"version": manifest["version"], "buildId": manifest["build_id"], "exists": exists,
                "current": exists and current()}, 0
    if not installed:
        return {"error": "No User Library given"}, 1
    if current():
        return {"changed": False, "backup": None}, 0
    backup = None
    if os.path.lexists(installed):
        backup = installed + ".backup-%d" % time.time_ns()
        os.rename(installed, backup)
    shutil.copytree(bundle, installed, ignore=ignore)
    return {"changed": True, "backup": backup}, 0


def export_diagnostics(destination, desktop_version):
    """Writes the diagnostics archive: manifest.json (the desktop version and which admin
    credentials exist, as the application says: NORV_ADMIN_TOKEN_PRESENT and
    NORV_ADMIN_CERTIFICATE_PRESENT are "1" when they do) and the engine log. Returns the exit
    status: 0, or 3 when the destination cannot be written."""
    manifest = {
        "desktop_version": desktop_version,
        "admin_token_present": os.environ.get("NORV_ADMIN_TOKEN_PRESENT") == "1",
        "admin_certificate_present": os.environ.get("NORV_ADMIN_CERTIFICATE_PRESENT") == "1",
    }
    try:
        with zipfile.ZipFile(destination, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("manifest.json", json.dumps(manifest, indent=2))
            archive.writestr("engine.log", "INFO Bridge started\n")
    except OSError as error:
        print(f"ERROR could not write {destination}: {error}", file=sys.stderr)
        return 3
    return 0
