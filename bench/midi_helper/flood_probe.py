#!/usr/bin/env python3
"""Floods a built NorvMIDIHelper on loopback and reports what it costs: the helper's CPU, its loop
thread's scheduling, its "pong" counters, how long "ping" takes, and JACK's cycles per half second.

It starts its own JACK server (dummy driver, under a name of its own) and the helper, both pinned
with taskset when --cpus is given, then floods for --seconds with four UDP senders (--udp: Wi-Fi packets
without MIDI, each acknowledged) or eight TCP peers (--tcp: fast MIDI frames at full speed). Every loop and wait
is bounded. Loopback only.

  flood_probe.py --helper build/bin/NorvMIDIHelper --tcp --cpus 0 [--jack-realtime] [--rttime 200000]
"""
import argparse
import ctypes
import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time
from multiprocessing import Process


def cpu_set(text):
    cpus = set()
    for part in text.split(","):
        first, _, last = part.partition("-")
        cpus.update(range(int(first), int(last or first) + 1))
    return cpus


def pin(cpus):
    if cpus:
        os.sched_setaffinity(0, cpu_set(cpus))


def udp_sender(port, until, cpus, token):
    # Wi-Fi packets (NPJ1) under the sender's token, each new and none with MIDI: the helper parses
    # and acknowledges every one.
    pin(cpus)
    packet = bytearray(b"NPJ1" + struct.pack(">IIQHH", token, 0, 0, 0, 0) + bytes(256))
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.connect(("127.0.0.1", port))
    s.setblocking(False)
    sequence = 0
    while time.monotonic() < until:
        for _ in range(256):
            sequence += 1
            struct.pack_into(">I", packet, 8, sequence)
            try:
                s.send(packet)
            except (BlockingIOError, ConnectionRefusedError):
                pass


def tcp_peer(port, until, channel, cpus):
    pin(cpus)
    # Controller 7 on the peer's own channel, over and over: MIDI at full speed.
    frame = struct.pack(">I", 8) + b"NPM3" + bytes([3, 0xB0 + channel, 7, 64])
    burst = frame * 4096
    s = socket.create_connection(("127.0.0.1", port), timeout=2)
    s.settimeout(0.5)
    while time.monotonic() < until:
        try:
            s.sendall(burst)
        except (socket.timeout, OSError):
            pass
    s.close()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def thread_states(pid):
    """name -> list of (policy, priority, cpu ticks) of every thread of pid."""
    states = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        states.setdefault(name, []).append((int(fields[38]), int(fields[37]), int(fields[11]) + int(fields[12])))
    return states


def process_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class Jack:
    """A reader of the server's frame counter: cycles run = frames advanced / period."""

    def __init__(self, server):
        self.lib = ctypes.CDLL("libjack.so.0")
        # Probing a server that is still starting makes libjack complain on standard error.
        self.quiet = ctypes.CFUNCTYPE(None, ctypes.c_char_p)(lambda message: None)
        self.lib.jack_set_error_function(self.quiet)
        self.lib.jack_set_info_function(self.quiet)
        self.lib.jack_client_open.restype = ctypes.c_void_p
        self.lib.jack_client_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p]
        self.lib.jack_last_frame_time.restype = ctypes.c_uint32
        self.lib.jack_last_frame_time.argtypes = [ctypes.c_void_p]
        self.lib.jack_get_buffer_size.restype = ctypes.c_uint32
        self.lib.jack_get_buffer_size.argtypes = [ctypes.c_void_p]
        self.lib.jack_client_close.argtypes = [ctypes.c_void_p]
        status = ctypes.c_int(0)
        self.client = None
        for _ in range(100):
            # JackNoStartServer | JackServerName
            self.client = self.lib.jack_client_open(b"norv-probe", 0x01 | 0x04, ctypes.byref(status), server.encode())
            if self.client:
                break
            time.sleep(0.05)
        if not self.client:
            raise SystemExit("no JACK server")
        self.period = self.lib.jack_get_buffer_size(self.client)

    def frames(self):
        return self.lib.jack_last_frame_time(self.client)

    def close(self):
        self.lib.jack_client_close(self.client)


class Helper:
    def __init__(self, args, server, port):
        command = []
        if args.cpus:
            command += ["taskset", "-c", args.cpus]
        if args.rttime:
            command += ["prlimit", f"--rttime={args.rttime}:{args.rttime}", "--"]
        command += [args.helper, "--udp-host", "127.0.0.1", "--udp-port", str(port)]
        env = dict(os.environ, JACK_DEFAULT_SERVER=server)
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env, text=True, bufsize=1)
        self.lines = []
        self.cv = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self.cv:
                self.lines.append(json.loads(line))
                self.cv.notify_all()

    def wait_for(self, kind, bound):
        deadline = time.monotonic() + bound
        with self.cv:
            while time.monotonic() < deadline:
                for i, event in enumerate(self.lines):
                    if event.get("type") == kind:
                        del self.lines[: i + 1]
                        return event
                self.cv.wait(0.05)
        return None

    def ping(self, bound=5.0):
        started = time.monotonic()
        try:
            self.process.stdin.write("ping\n")
        except OSError:
            return None, None
        pong = self.wait_for("pong", bound)
        return pong, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper", required=True)
    flood = parser.add_mutually_exclusive_group(required=True)
    flood.add_argument("--udp", action="store_true")
    flood.add_argument("--tcp", action="store_true")
    parser.add_argument("--cpus", default="")
    parser.add_argument("--jack-realtime", action="store_true")
    parser.add_argument("--rttime", type=int, default=0)
    parser.add_argument("--seconds", type=float, default=6.0)
    args = parser.parse_args()

    server = f"norv-probe-{os.getpid()}"
    jackd = ["jackd", "--realtime" if args.jack_realtime else "--no-realtime", "-P", "20", "--sync", "-t", "5000",
             "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"]
    if args.cpus:
        jackd = ["taskset", "-c", args.cpus] + jackd
    jack_process = subprocess.Popen(jackd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    helper = None
    try:
        jack = Jack(server)
        port = free_port()
        helper = Helper(args, server, port)
        if not helper.wait_for("ready", 5):
            raise SystemExit("no ready: " + helper.process.stderr.read())
        pong, _ = helper.ping()
        loop = thread_states(helper.process.pid).get("norv-loop", [(-1, 0, 0)])[0]
        print(f"loop before the flood: policy {loop[0]} priority {loop[1]}")

        until = time.monotonic() + args.seconds
        if args.udp:
            senders = [Process(target=udp_sender, args=(port, until, args.cpus, i + 1)) for i in range(4)]
        else:
            senders = [Process(target=tcp_peer, args=(port, until, i, args.cpus)) for i in range(8)]
        ticks = process_ticks(helper.process.pid)
        started = time.monotonic()
        for sender in senders:
            sender.start()
        cycles, latencies, policies, during = [], [], set(), None
        frames = jack.frames()
        while time.monotonic() < until:
            time.sleep(0.5)
            now_frames = jack.frames()
            cycles.append((now_frames - frames) % (1 << 32) // jack.period)
            frames = now_frames
            if helper.process.poll() is not None:
                break
            answer, latency = helper.ping()
            latencies.append(latency)
            during = answer or during
            for state in thread_states(helper.process.pid).get("norv-loop", []):
                policies.add((state[0], state[1]))
        elapsed = time.monotonic() - started
        alive = helper.process.poll() is None
        cpu = (process_ticks(helper.process.pid) - ticks) / os.sysconf("SC_CLK_TCK") / elapsed if alive else None
        for sender in senders:
            sender.join(5)
        print(f"alive after {args.seconds:.0f} s: {alive}" + (f" (exit {helper.process.returncode})" if not alive else ""))
        if cpu is not None:
            print(f"helper CPU during the flood: {cpu * 100:.0f} % of one CPU")
        print(f"loop scheduling during the flood (policy, priority): {sorted(policies)}")
        print(f"JACK cycles per 0.5 s (94 expected): {cycles}")
        shown = ", ".join("none" if l is None else f"{l * 1000:.0f}" for l in latencies)
        print(f"ping latency during the flood, ms: {shown}")
        keys = ["sent_count", "monitor_dropped_count", "tcp_client_count", "wifi_peer_count", "wifi_duplicate_packets",
                "wifi_stale_events"]
        if during:
            print("counters at the last ping of the flood: " + ", ".join(f"{k} {during[k]}" for k in keys))
        if alive:
            time.sleep(1.5)
            pong, latency = helper.ping()
            if pong:
                print(f"after the flood: ping {latency * 1000:.0f} ms, " + ", ".join(f"{k} {pong[k]}" for k in keys))
            loop = thread_states(helper.process.pid).get("norv-loop", [(-1, 0, 0)])[0]
            print(f"loop after the flood: policy {loop[0]} priority {loop[1]}")
        jack.close()
    finally:
        if helper:
            if helper.process.poll() is None:
                try:
                    helper.process.stdin.write("quit\n")
                    helper.process.stdin.flush()
                except OSError:
                    pass
            try:
                helper.process.wait(5)
            except subprocess.TimeoutExpired:
                helper.process.kill()
            error = helper.process.stderr.read()
            if error.strip():
                print("helper's standard error: " + error.strip())
        jack_process.terminate()
        try:
            jack_process.wait(5)
        except subprocess.TimeoutExpired:
            jack_process.kill()


if __name__ == "__main__":
    main()
