#!/usr/bin/env python3
"""Measures what a built NorvBridgeMac costs on the demo session with the MIDI monitor open.

Each application gets its own Xvfb screen (1400x900, software paint), its own home folder with the
monitor's refresh rate set, its own session bus and keyring (scripts/with-services.sh), and starts its
own demo engine. The probe clicks "MIDI Monitor" in the sidebar, waits --fill seconds (240 fills the
4,000-event buffer), then reports the process's CPU over --seconds as a share of one core.

Given several --app, they run at the same time, so they meet the same machine noise: on a shared
machine, runs of one build at different times differ by more than the changes being measured. The
engine's admin port is fixed, so running at once needs a network namespace each (root, unshare -n);
otherwise they run one after the other. Every wait is bounded and every child is stopped.

  monitor_demo_probe.py --app build/bin/NorvBridgeMac [--app other/bin/NorvBridgeMac] [--fill 240]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MONITOR_ITEM = (92, 366)  # the sidebar's "MIDI Monitor" on a 1400x900 screen
DISPLAYS = threading.Lock()  # probes running together each take a screen of their own

CLICK = """
import ctypes, sys, time
x11 = ctypes.CDLL("libX11.so.6"); xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
d = x11.XOpenDisplay(None)
if not d: sys.exit("no display")
d = ctypes.c_void_p(d)
xtst.XTestFakeMotionEvent(d, -1, int(sys.argv[1]), int(sys.argv[2]), 0); x11.XFlush(d); time.sleep(0.2)
xtst.XTestFakeButtonEvent(d, 1, 1, 0); x11.XFlush(d); time.sleep(0.1)
xtst.XTestFakeButtonEvent(d, 1, 0, 0); x11.XFlush(d)
x11.XCloseDisplay(d)
"""


def start_screen():
    """A new Xvfb screen: its number and its process, once it accepts clients."""
    with DISPLAYS:
        number = next((n for n in range(140, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                       and not os.path.exists(f"/tmp/.X{n}-lock")), None)
        if number is None:
            raise RuntimeError("no free X display")
        xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1400x900x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
            time.sleep(0.1)
        return number, xvfb


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime of every thread, live or ended


def probe(app, rate, fill, seconds, namespace):
    """The application's CPU share of one core, in %, with the monitor open and filled."""
    work = tempfile.mkdtemp(prefix="norv-monitor-probe.")
    env = dict(os.environ, HOME=f"{work}/home", XDG_CONFIG_HOME=f"{work}/home/.config",
               QT_QPA_PLATFORM="xcb", LIBGL_ALWAYS_SOFTWARE="1", QT_XCB_GL_INTEGRATION="none")
    env.pop("NORV_SERVICES_UP", None)
    os.makedirs(f"{env['XDG_CONFIG_HOME']}/Norv")
    with open(f"{env['XDG_CONFIG_HOME']}/Norv/Norv Bridge.conf", "w") as config:
        config.write(f"[General]\nmidiMonitorRefreshRate={rate}\n")
    display, xvfb = start_screen()
    env["DISPLAY"] = f":{display}"
    command = [f"{ROOT}/scripts/with-services.sh", app]
    if namespace:
        command = ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + command
    log = open(f"{work}/app.log", "w")
    application = subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        pid = None
        deadline = time.monotonic() + 30
        while pid is None and time.monotonic() < deadline:
            time.sleep(1)
            found = subprocess.run(["pgrep", "-n", "-s", str(application.pid), "-f", f"^{app}"],
                                   capture_output=True, text=True).stdout.split()
            pid = int(found[0]) if found else None
        if pid is None:
            raise RuntimeError(f"{app} did not start; see {work}/app.log")
        time.sleep(10)  # the window and the engine come up
        subprocess.run([sys.executable, "-c", CLICK, *map(str, MONITOR_ITEM)], env=env, timeout=20, check=True)
        time.sleep(fill)
        before = cpu_ticks(pid)
        time.sleep(seconds)
        used = (cpu_ticks(pid) - before) / os.sysconf("SC_CLK_TCK")
        return 100.0 * used / seconds
    finally:
        os.killpg(application.pid, 15)
        try:
            application.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(application.pid, 9)
            application.wait(timeout=10)
        xvfb.terminate()
        xvfb.wait(timeout=10)
        log.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--app", action="append", required=True, help="a built NorvBridgeMac (repeatable)")
    parser.add_argument("--rate", type=int, default=30, choices=(2, 5, 10, 20, 30), help="refresh rate in Hz")
    parser.add_argument("--fill", type=float, default=240, help="seconds of listening before measuring")
    parser.add_argument("--seconds", type=float, default=60, help="seconds measured")
    args = parser.parse_args()
    apps = [os.path.abspath(app) for app in args.app]
    together = len(apps) > 1 and os.geteuid() == 0 and shutil.which("unshare") and shutil.which("ip")
    if together:
        from concurrent.futures import ThreadPoolExecutor
        with ThreadPoolExecutor(len(apps)) as pool:
            shares = list(pool.map(lambda app: probe(app, args.rate, args.fill, args.seconds, True), apps))
    else:
        shares = [probe(app, args.rate, args.fill, args.seconds, False) for app in apps]
    for app, share in zip(apps, shares):
        print(f"{share:5.2f} % of a core  {app}" + ("  (measured together)" if together else ""))


if __name__ == "__main__":
    main()
