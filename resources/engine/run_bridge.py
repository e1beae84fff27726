#!/usr/bin/env python3
"""The demo bridge engine of the demo runtime (Python 3 standard library only).

It takes the engine's command line, reads the TLS identity line from standard input
({"certificate_pem": ..., "private_key_pem": ...}), serves the admin channel over TLS on
127.0.0.1:9315 to whoever says the hello with the token of NORV_ADMIN_TOKEN, and plays the demo
session of demo_session.py over demo_session.json beside this script. With --managed-stdin it
exits when its standard input ends. --script-bundle checks (or with --install-script installs)
the Remote Script; --export-diagnostics writes a diagnostics archive.

Any local user can reach the admin port: a connection gets HANDSHAKE_SECONDS for its TLS
handshake and HELLO_SECONDS more for a valid hello, or is dropped. At most MAX_CONNECTIONS are
served at once; when every slot is taken, a newcomer takes the slot of the oldest connection that
has not authenticated, so idle connections never keep the application out for longer than its
own connection needs. A failing accept (out of descriptors, say) is logged and retried after a
pause.
"""

import hmac
import os
import socket
import sys
import threading
import time


# The engine runs isolated (python -I), so its own folder, which holds engine_base.py, is not on
# the import path until it is put there.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine_base as base  # noqa: E402
log = base.log

ADMIN_HOST = "127.0.0.1"
ADMIN_PORT = 9315
MAX_CONNECTIONS = 8
ACCEPT_BACKLOG = 8
# Both well within the application's 3.0 s from connecting to its authentication.
HANDSHAKE_SECONDS = 1.0
HELLO_SECONDS = 1.0
ACCEPT_RETRY_SECONDS = 0.25


class AuthDeadline:
    """Shuts a connection down unless it ends its TLS handshake in time and then authenticates
    in time, or when a newcomer takes its slot first. It watches a duplicate of the connection's
    socket, closed once the connection authenticates or ends."""

    def __init__(self, connection):
        self.lock = threading.Lock()
        self.watched = connection.dup()
        self.authenticated = False
        self.expired = False
        self.timer = None
        self.phase = 0
        try:
            self.arm(HANDSHAKE_SECONDS)
        except RuntimeError:  # no thread for the timer
            self.release()
            raise

    def arm(self, seconds):
        """Gives the connection `seconds` from now; a running deadline no longer counts."""
        with self.lock:
            if self.timer is not None:
                self.timer.cancel()
            self.phase += 1
            self.timer = threading.Timer(seconds, self.lapse, args=(self.phase,))
            self.timer.daemon = True
            self.timer.start()

    def handshaken(self):
        """The TLS handshake is over: the hello is due next."""
        self.arm(HELLO_SECONDS)

    def lapse(self, phase):
        with self.lock:
            if phase == self.phase:
                self.shut()

    def evict(self):
        """Shuts the connection down for a newcomer; False when it has authenticated or ended."""
        with self.lock:
            return self.shut()

    def active(self):
        """Whether the connection still holds its slot."""
        return not self.expired and (self.authenticated or self.watched is not None)

    def shut(self):
        if self.authenticated or self.watched is None:
            return False
        self.expired = True
        try:
            self.watched.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        return True

    def authenticate(self):
        """Marks the connection authenticated; False when it was shut down first."""
        self.timer.cancel()
        with self.lock:
            self.authenticated = not self.expired
            self.release()
            return self.authenticated

    def close(self):
        self.timer.cancel()
        with self.lock:
            self.release()

    def release(self):
        if self.watched is not None:
            self.watched.close()
            self.watched = None


class Admission:
    """The connections served at once, oldest first. When all MAX_CONNECTIONS slots are taken, a
    newcomer takes the slot of the oldest one that has not authenticated; with every slot
    authenticated it is refused. Connections shut down for a newcomer end within moments; until
    they have, at most as many again are kept."""

    def __init__(self):
        self.lock = threading.Lock()
        self.deadlines = []

    def admit(self, deadline):
        with self.lock:
            if len(self.deadlines) >= 2 * MAX_CONNECTIONS:
                return False
            holding = [held for held in self.deadlines if held.active()]
            if len(holding) >= MAX_CONNECTIONS and not any(held.evict() for held in holding):
                return False
            self.deadlines.append(deadline)
            return True

    def leave(self, deadline):
        with self.lock:
            self.deadlines.remove(deadline)


class AdminConnection:
    """One admin connection: the hello with the token first, then the demo session's answers."""

    def __init__(self, number, stream, demo, deadline):
        self.number = number
        self.stream = stream
        self.demo = demo
        self.deadline = deadline
        self.write_lock = threading.Lock()
        self.demo_monitor = None  # the demo's MIDI monitor playback, while it listens

    def send(self, path, args):
        with self.write_lock:
            self.stream.sendall(base.encode_frame({"path": path, "args": args}))

    def run(self):
        if not self.hello(base.read_frame(self.stream)):
            return
        while True:
            body = base.read_frame(self.stream)
            path = body.get("path")
            args = body.get("args") if isinstance(body.get("args"), list) else []
            if self.demo.handle(self, path, args, body.get("request_id")):
                continue
            if path == "/admin/snapshot/request":
                self.send("/admin/snapshot", [self.demo.snapshot()])

    def hello(self, body):
        token = os.environ.get("NORV_ADMIN_TOKEN", "")
        args = body.get("args")
        offered = args[0] if isinstance(args, list) and args and isinstance(args[0], str) else ""
        if body.get("path") != "/admin/hello" or not token or \
                not hmac.compare_digest(offered.encode("utf-8"), token.encode("utf-8")):
            log("WARNING", f"admin connection {self.number}: refused, no valid hello")
            return False
        if not self.deadline.authenticate():
            return False
        self.send("/admin/authenticated", [])
        return True

    def stop_monitor(self):
        if self.demo_monitor is not None:
            self.demo_monitor.set()


def serve_connection(number, connection, context, demo, deadline, admission):
    stream = connection
    try:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        stream = context.wrap_socket(connection, server_side=True)
        deadline.handshaken()
        session = AdminConnection(number, stream, demo, deadline)
        try:
            session.run()
        finally:
            session.stop_monitor()
    except (EOFError, OSError, ValueError, UnicodeDecodeError):
        pass
    finally:
        deadline.close()
        try:
            stream.close()
        except OSError:
            pass
        admission.leave(deadline)


def serve_admin(context, demo):
    """Accepts admin connections for ever, serving as many as Admission lets in."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((ADMIN_HOST, ADMIN_PORT))
    except OSError as error:
        log("ERROR", f"Admin port {ADMIN_HOST}:{ADMIN_PORT} unavailable: {error}")
        return 1
    listener.listen(ACCEPT_BACKLOG)
    log("INFO", "Bridge started")
    log("INFO", f"Admin channel listening on {ADMIN_HOST}:{ADMIN_PORT}")

    admission = Admission()
    number = 0
    while True:
        try:
            connection, _ = listener.accept()
        except OSError as error:
            log("WARNING", f"admin accept failed: {error}")
            time.sleep(ACCEPT_RETRY_SECONDS)
            continue
        number += 1
        try:
            deadline = AuthDeadline(connection)
        except (OSError, RuntimeError) as error:
            log("WARNING", f"admin connection {number}: not served: {error}")
            connection.close()
            time.sleep(ACCEPT_RETRY_SECONDS)
            continue
        if not admission.admit(deadline):
            deadline.close()
            connection.close()
            continue
        try:
            threading.Thread(target=serve_connection, daemon=True,
                             args=(number, connection, context, demo, deadline, admission)).start()
        except RuntimeError as error:
            log("WARNING", f"admin connection {number}: not served: {error}")
            admission.leave(deadline)
            deadline.close()
            connection.close()
            time.sleep(ACCEPT_RETRY_SECONDS)


def serve(options):
    demo_session = base.load_sibling("demo_session")
    folder = os.path.dirname(os.path.abspath(__file__))
    demo = demo_session.DemoState(os.path.join(folder, "demo_session.json"), options)
    certificate_pem, private_key_pem = base.read_identity()
    context = base.tls_context(certificate_pem, private_key_pem)
    if options.managed_stdin:
        base.watch_standard_input()
    return serve_admin(context, demo)


def remote_script(options):
    import json
    with open(os.path.join(options.script_bundle, "manifest.json"), encoding="utf-8") as handle:
        manifest = json.load(handle)
    reply, status = base.remote_script(options.script_bundle, options.script_library,
                                       options.install_script, manifest)
    sys.stdout.write(json.dumps(reply))
    sys.stdout.flush()
    return status


def main(argv):
    options = base.engine_options("Norv demo bridge engine").parse_args(argv)
    if options.script_bundle:
        return remote_script(options)
    if options.export_diagnostics:
        return base.export_diagnostics(options.export_diagnostics, options.desktop_version)
    return serve(options)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
