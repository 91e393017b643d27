#!/usr/bin/env python3
"""Figures of sharing on the network: the program with sharing off, then on with 100 WebSocket viewers on
loopback, each run with the clock running minimised on a virtual display.

  * how long after the main window's read-out (its minimised caption, as the X server sees it change) a
    viewer's message for the same second arrives, median and max over every second and viewer;
  * CPU while running, resident memory, and the read-out's lag behind the start (as process_figures.py);
  * whether the network libraries are mapped at all with sharing off.

Needs Xvfb, openbox, xdotool and python3-websockets. Prints a summary and writes JSON; exits 1 when a target
is missed.
"""

import argparse
import asyncio
import json
import os
import socket
import statistics
import sys
import threading
import time

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_figures as pf  # noqa: E402

TOKEN = "Viewer-token-for-the-figures-run"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Viewers(threading.Thread):
    """`count` WebSocket viewers; records when each first saw every shown second (CLOCK_BOOTTIME)."""

    def __init__(self, port, count):
        super().__init__(daemon=True)
        self.port, self.count = port, count
        self.arrivals = {}  # (viewer, elapsed seconds) -> boottime
        self.connected = threading.Event()
        self.stop = threading.Event()

    async def viewer(self, n, ready):
        try:
            await self.watch(n, ready)
        except websockets.ConnectionClosed:
            pass  # the program ended at the end of the run

    async def watch(self, n, ready):
        async with websockets.connect(f"ws://127.0.0.1:{self.port}/api/v1/ws?token={TOKEN}") as ws:
            ready.append(n)
            if len(ready) == self.count:
                self.connected.set()
            while not self.stop.is_set():
                try:
                    message = json.loads(await asyncio.wait_for(ws.recv(), 0.5))
                except asyncio.TimeoutError:
                    continue
                now = pf.boottime()
                if message.get("state") == "Running":
                    key = (n, int(message["minutes"]) * 60 + int(message["seconds"]))
                    self.arrivals.setdefault(key, now)

    def run(self):
        async def all_viewers():
            ready = []
            await asyncio.gather(*(self.viewer(n, ready) for n in range(self.count)))
        asyncio.run(all_viewers())


def mapped(pid, name):
    with open(f"/proc/{pid}/maps") as maps:
        return name in maps.read()


def run(desktop, args, sharing):
    port = free_port()
    store = f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={TOKEN}\nControlToken=C{TOKEN}\n" if sharing else None
    program = pf.Program(desktop, args.kestrim, "Kestrim", store)
    viewers = None
    try:
        time.sleep(max(0.0, program.started + 2.0 - time.monotonic()))
        figures = {"startup_ms": program.startup * 1000, "rss_kib_idle": program.rss_kib(),
                   "network_mapped": mapped(program.process.pid, "libQt6Network")}
        if sharing:
            viewers = Viewers(port, args.viewers)
            viewers.start()
            if not viewers.connected.wait(30):
                raise RuntimeError("the viewers did not all connect")
        pressed = pf.start_clock(desktop, program)
        pf.xdotool(desktop, "windowminimize", "--sync", str(program.window))
        before = program.cpu_sample()
        started = time.monotonic()
        changes, last = {}, None
        while pf.boottime() < pressed + args.window:
            desktop.display.events(0.01)
            caption = desktop.display.caption(program.window)
            if caption != last:
                last = caption
                seconds = pf.elapsed_in(caption)
                if seconds is not None:
                    changes.setdefault(seconds, pf.boottime())
        figures["cpu_running_percent"] = pf.cpu_percent(before, program.cpu_sample(), time.monotonic() - started)[0]
        figures["rss_kib_running"] = program.rss_kib()
        lags = [(when - pressed - s) * 1000 for s, when in changes.items() if s > 0]
        figures["tick_lag_ms_median"] = statistics.median(lags)
        figures["tick_lag_ms_max"] = max(lags)
        if viewers:
            viewers.stop.set()
            deltas = [(arrived - changes[s]) * 1000 for (n, s), arrived in list(viewers.arrivals.items())
                      if s in changes and s > 0]
            figures["viewer_delay_ms_median"] = statistics.median(deltas)
            figures["viewer_delay_ms_max"] = max(deltas)
            figures["viewer_delay_ms_min"] = min(deltas)
            figures["viewer_seconds_seen"] = len(deltas)
    finally:
        program.stop()
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kestrim", required=True)
    parser.add_argument("--window", type=float, default=60.0, help="seconds the clock runs in each run")
    parser.add_argument("--viewers", type=int, default=100)
    parser.add_argument("--json", default=os.path.join(os.path.dirname(__file__), "..", "build", "remote_figures.json"))
    args = parser.parse_args()
    desktop = pf.Desktop()
    try:
        off = run(desktop, args, sharing=False)
        on = run(desktop, args, sharing=True)
    finally:
        desktop.close()
    with open(args.json, "w") as out:
        json.dump({"off": off, "on": on}, out, indent=2)
    checks = [
        ("no network library mapped with sharing off", not off["network_mapped"]),
        ("viewer message within 50 ms of the digits (max of |delay|)",
         max(abs(on["viewer_delay_ms_max"]), abs(on["viewer_delay_ms_min"])) <= 50),
        ("CPU running at most 2x with sharing on", on["cpu_running_percent"] <= 2 * off["cpu_running_percent"]),
        ("memory at most 10 MiB more", on["rss_kib_running"] - off["rss_kib_running"] <= 10 * 1024),
    ]
    for name, figures in (("off", off), ("on", on)):
        print(name, json.dumps({k: round(v, 2) if isinstance(v, float) else v for k, v in figures.items()}))
    for what, ok in checks:
        print(("ok   " if ok else "MISS ") + what)
    return 0 if all(ok for _, ok in checks) else 1


if __name__ == "__main__":
    raise SystemExit(main())
