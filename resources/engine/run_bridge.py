#!/usr/bin/env python3
"""The demo bridge engine of the demo runtime (Python 3 standard library only).

It takes the engine's command line, reads the TLS identity line from standard input
({"certificate_pem": ..., "private_key_pem": ...}), serves the admin channel over TLS on
127.0.0.1:9315 to whoever says the hello with the token of NORV_ADMIN_TOKEN, and plays the demo
session of demo_session.py over demo_session.json beside this script. With --managed-stdin it
exits when its standard input ends. --script-bundle checks (or with --install-script installs)
the Remote Script; --export-diagnostics writes a diagnostics archive.

Any local user can reach the admin port: a connection that has not authenticated within
AUTH_SECONDS is dropped, at most MAX_CONNECTIONS are served at once while a short queue waits,
and a failing accept (out of descriptors, say) is logged and retried after a pause.
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
AUTH_SECONDS = 5.0
ACCEPT_RETRY_SECONDS = 0.25


class AuthDeadline:
    """Shuts a connection down unless it authenticates in time. It watches a duplicate of the
    connection's socket, closed once the connection authenticates or ends."""

    def __init__(self, connection):
        self.lock = threading.Lock()
        self.watched = connection.dup()
        self.authenticated = False
        self.expired = False
        self.timer = threading.Timer(AUTH_SECONDS, self.expire)
        self.timer.daemon = True
        self.timer.start()

    def expire(self):
        with self.lock:
            if self.authenticated or self.watched is None:
                return
            self.expired = True
            try:
                self.watched.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def authenticate(self):
        """Marks the connection authenticated; False when the deadline passed first."""
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


def serve_connection(number, connection, context, demo, slots):
    deadline = None
    stream = connection
    try:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        deadline = AuthDeadline(connection)
        stream = context.wrap_socket(connection, server_side=True)
        session = AdminConnection(number, stream, demo, deadline)
        try:
            session.run()
        finally:
            session.stop_monitor()
    except (EOFError, OSError, ValueError, UnicodeDecodeError):
        pass
    finally:
        if deadline is not None:
            deadline.close()
        try:
            stream.close()
        except OSError:
            pass
        slots.release()


def serve_admin(context, demo):
    """Accepts admin connections for ever, at most MAX_CONNECTIONS at once."""
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

    slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
    number = 0
    while True:
        slots.acquire()
        try:
            connection, _ = listener.accept()
        except OSError as error:
            slots.release()
            log("WARNING", f"admin accept failed: {error}")
            time.sleep(ACCEPT_RETRY_SECONDS)
            continue
        number += 1
        try:
            threading.Thread(target=serve_connection, daemon=True,
                             args=(number, connection, context, demo, slots)).start()
        except RuntimeError as error:
            log("WARNING", f"admin connection {number}: not served: {error}")
            connection.close()
            slots.release()
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
