#!/usr/bin/env python3
"""Figures of sharing on the network: the program with sharing off, then on with 100 WebSocket viewers on
loopback, each run with the clock running minimised on a virtual display; then the same viewers on the
reference server (bench/sharingbaseline.cpp), which only sends a frame of the state's size once a second.

  * how long after the main window's read-out (its minimised caption, as the X server sees it change) a
    viewer's message for the same second arrives, median and max over every second and viewer;
  * CPU while running, resident memory, and the read-out's lag behind the start (as process_figures.py);
    the CPU that sharing adds (on minus off) against the reference server's;
  * taps: a control client's {"action": "toggle"}, timed until the main window's digits (shown now) change
    colour on the screen, as the X server holds them;
  * whether the network libraries are mapped at all with sharing off, and TLS libraries with sharing on.

Needs Xvfb, openbox, xdotool and python3-websockets. Prints a summary and writes JSON; exits 1 when a target
is missed in any run.
"""

import argparse
import asyncio
import base64
import ctypes
import json
import os
import random
import socket
import statistics
import subprocess
import sys
import threading
import time

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_figures as pf  # noqa: E402

TOKEN = "Viewer-token-for-the-figures-run"
CONTROL = "C" + TOKEN
SERVER_THREAD = "Kestrim network"  # as the kernel keeps it: 15 characters at most
TLS_LIBRARIES = ("libssl", "libcrypto", "/tls/")
# Stage 1's foreground, as the digits show it while running; greyed, they have none of it.
GREEN_PIXEL = b"\x00\xff\x00"


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
        self.largest = 0  # bytes of the largest message
        self.connected = threading.Event()
        self.stop = threading.Event()

    async def viewer(self, n, ready):
        try:
            await self.watch(n, ready)
        except websockets.ConnectionClosed:
            pass  # the program ended at the end of the run

    async def watch(self, n, ready):
        # A browser pings nobody: the only pings are the server's own.
        async with websockets.connect(f"ws://127.0.0.1:{self.port}/api/v1/ws?token={TOKEN}",
                                      ping_interval=None) as ws:
            ready.append(n)
            if len(ready) == self.count:
                self.connected.set()
            while not self.stop.is_set():
                try:
                    text = await asyncio.wait_for(ws.recv(), 0.5)
                except asyncio.TimeoutError:
                    continue
                now = pf.boottime()
                message = json.loads(text)
                self.largest = max(self.largest, len(text.encode()))
                if message.get("state") == "Running":
                    key = (n, int(message["minutes"]) * 60 + int(message["seconds"]))
                    self.arrivals.setdefault(key, now)

    def run(self):
        async def all_viewers():
            ready = []
            await asyncio.gather(*(self.viewer(n, ready) for n in range(self.count)))
        asyncio.run(all_viewers())


def thread_name(pid, tid):
    try:
        with open(f"/proc/{pid}/task/{tid}/comm") as comm:
            return comm.read().strip()
    except FileNotFoundError:
        return None


def mapped(pid, name):
    with open(f"/proc/{pid}/maps") as maps:
        return name in maps.read()


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class Digits:
    """The middle band of a window's pixels, as the X server holds them: whether stage 1's green is there."""

    def __init__(self, display, window):
        self.display, self.window = display, window
        x = display.x
        x.XGetImage.restype = ctypes.POINTER(XImage)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
        attributes = pf.XWindowAttributes()
        x.XGetWindowAttributes(display.dpy, window, ctypes.byref(attributes))
        self.width, self.top, self.height = attributes.width, attributes.height // 4, attributes.height // 2

    def green(self):
        x = self.display.x
        image = x.XGetImage(self.display.dpy, self.window, 0, self.top, self.width, self.height, 0xFFFFFFFF, 2)
        if not image:
            return None
        try:
            if image.contents.bits_per_pixel != 32:
                raise RuntimeError("the tap figure needs a 24-bit display")
            pixels = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * image.contents.height)
        finally:
            x.XDestroyImage(image)
        at = pixels.find(GREEN_PIXEL)
        while at >= 0 and at % 4:
            at = pixels.find(GREEN_PIXEL, at + 1)
        return at >= 0


def control_client(port):
    """A WebSocket of the control link, for taps: blocking, so that the send is timed where it happens."""
    client = socket.create_connection(("127.0.0.1", port), timeout=5)
    key = base64.b64encode(os.urandom(16)).decode()
    client.sendall(f"GET /api/v1/ws?token={CONTROL} HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                   f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n"
                   .encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += client.recv(4096)
    if not head.startswith(b"HTTP/1.1 101 "):
        raise RuntimeError(f"the control client's handshake: {head[:40]!r}")
    client.setblocking(False)
    return client


def masked_text(text):
    payload, mask = text.encode(), os.urandom(4)
    return bytes([0x81, 0x80 | len(payload)]) + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def drain(client):
    try:
        while client.recv(65536):
            pass
    except BlockingIOError:
        pass


def taps(desktop, program, port, count):
    """Milliseconds from sending each toggle to the digits changing colour on the screen. Timed in a process
    of its own, so that the viewers' thread here never holds up a poll of the screen."""
    pf.xdotool(desktop, "windowactivate", "--sync", str(program.window))
    time.sleep(1.0)
    child = subprocess.run([sys.executable, __file__, "--taps", desktop.name, str(program.window), str(port),
                            str(count)], capture_output=True, text=True, timeout=60 + count * 3)
    if child.returncode != 0:
        raise RuntimeError(f"the taps failed: {child.stderr.strip()}")
    return json.loads(child.stdout)


def tap_child(display_name, window, port, count):
    display = pf.Display(display_name)
    digits = Digits(display, window)
    if not digits.green():
        raise RuntimeError("the running digits show no stage-1 green")
    client = control_client(port)
    spans = []
    try:
        running = True
        for _ in range(count):
            time.sleep(random.uniform(0.15, 0.35))  # anywhere within the second
            drain(client)
            sent = pf.boottime()
            client.sendall(masked_text('{"action":"toggle"}'))
            running = not running
            while digits.green() != running:
                if pf.boottime() > sent + 2:
                    raise RuntimeError("a tap did not reach the digits within 2 s")
            spans.append((pf.boottime() - sent) * 1000)
    finally:
        client.close()
    print(json.dumps(spans))


class Started:
    """A process started here, measured as process_figures measures its programs."""
    cpu_sample = pf.Program.cpu_sample

    def __init__(self, process):
        self.process = process


def start_reference(args, state_bytes):
    """The reference server, once it listens."""
    port = free_port()
    server = subprocess.Popen([args.reference, str(port), str(state_bytes)], stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return Started(server), port
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                server.kill()
                raise RuntimeError("the reference server did not listen")
            time.sleep(0.05)


def connected(port, count, what):
    viewers = Viewers(port, count)
    viewers.start()
    if not viewers.connected.wait(30):
        raise RuntimeError(f"the viewers did not all connect to {what}")
    return viewers


def run(desktop, args, order):
    """Sharing off, sharing on and the reference server at once, so that the CPU each takes is measured
    over the same seconds of this shared machine: its load moves all three alike."""
    port = free_port()
    stores = {"off": None,
              "on": f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={TOKEN}\nControlToken={CONTROL}\n"}
    programs, figures, viewers, reference = {}, {}, [], None
    try:
        for name in order:
            programs[name] = pf.Program(desktop, args.kestrim, "Kestrim", stores[name])
            time.sleep(max(0.0, programs[name].started + 2.0 - time.monotonic()))
            figures[name] = {"startup_ms": programs[name].startup * 1000, "rss_kib_idle": programs[name].rss_kib(),
                             "network_mapped": mapped(programs[name].process.pid, "libQt6Network")}
        on = programs["on"]
        viewers.append(connected(port, args.viewers, "Kestrim"))
        pressed = {}
        for name, program in programs.items():
            pressed[name] = pf.start_clock(desktop, program)
            pf.xdotool(desktop, "windowminimize", "--sync", str(program.window))
        # The reference's frame is as large as the running state's.
        time.sleep(2)
        reference, reference_port = start_reference(args, viewers[0].largest)
        viewers.append(connected(reference_port, args.viewers, "the reference server"))
        measured = {**programs, "reference": reference}
        before = {name: p.cpu_sample() for name, p in measured.items()}
        started = time.monotonic()
        changes = {name: {} for name in programs}
        # A second already shown is not timed: it changed before anyone looked.
        last = {name: desktop.display.caption(program.window) for name, program in programs.items()}
        while time.monotonic() < started + args.window:
            desktop.display.events(0.01)
            for name, program in programs.items():
                caption = desktop.display.caption(program.window)
                if caption != last.get(name):
                    last[name] = caption
                    seconds = pf.elapsed_in(caption)
                    if seconds is not None:
                        changes[name].setdefault(seconds, pf.boottime())
        after = {name: p.cpu_sample() for name, p in measured.items()}
        span = time.monotonic() - started
        for name, program in measured.items():
            figures.setdefault(name, {})["cpu_percent"] = pf.cpu_percent(before[name], after[name], span)[0]
        server = [tid for tid in after["on"]["threads_ns"] if thread_name(on.process.pid, tid) == SERVER_THREAD]
        figures["on"]["server_thread_cpu_percent"] = sum(
            after["on"]["threads_ns"][tid] - before["on"]["threads_ns"].get(tid, 0) for tid in server) / 1e9 / span * 100
        figures["reference"]["frame_payload_bytes"] = viewers[1].largest
        for name, program in programs.items():
            figures[name]["rss_kib_running"] = program.rss_kib()
            lags = [(when - pressed[name] - s) * 1000 for s, when in changes[name].items() if s > 0]
            figures[name]["tick_lag_ms_median"] = statistics.median(lags)
            figures[name]["tick_lag_ms_max"] = max(lags)
        deltas = [(arrived - changes["on"][s]) * 1000 for (n, s), arrived in list(viewers[0].arrivals.items())
                  if s in changes["on"] and s > 0]
        figures["on"]["viewer_delay_ms_median"] = statistics.median(deltas)
        figures["on"]["viewer_delay_ms_max"] = max(deltas)
        figures["on"]["viewer_delay_ms_min"] = min(deltas)
        figures["on"]["viewer_seconds_seen"] = len(deltas)
        figures["on"]["state_bytes"] = viewers[0].largest
        spans = taps(desktop, on, port, args.taps)
        figures["on"]["tap_ms_median"] = statistics.median(spans)
        figures["on"]["tap_ms_max"] = max(spans)
        figures["on"]["tap_ms_all"] = [round(span, 2) for span in spans]
        figures["on"]["tls_mapped"] = any(mapped(on.process.pid, name) for name in TLS_LIBRARIES)
    finally:
        for group in viewers:
            group.stop.set()
        if reference:
            reference.process.terminate()
            reference.process.wait(10)
        for program in programs.values():
            program.stop()
    return figures


def checks_of(off, on, reference):
    added = on["cpu_percent"] - off["cpu_percent"]
    return [
        ("no network library mapped with sharing off", not off["network_mapped"]),
        ("no TLS library mapped with sharing on", not on["tls_mapped"]),
        ("viewer message within 50 ms of the digits (max of |delay|)",
         max(abs(on["viewer_delay_ms_max"]), abs(on["viewer_delay_ms_min"])) <= 50),
        ("CPU running at most 2x with sharing on", on["cpu_percent"] <= 2 * off["cpu_percent"]),
        (f"CPU added by sharing at most 1.5x the reference's ({added:.3f} vs {reference['cpu_percent']:.3f} %)",
         added <= 1.5 * reference["cpu_percent"]),
        ("memory at most 4 MiB more", on["rss_kib_running"] - off["rss_kib_running"] <= 4 * 1024),
        ("a tap reaches the digits within 50 ms (median and max)", on["tap_ms_max"] <= 50),
    ]


def main():
    if sys.argv[1:2] == ["--taps"]:
        display_name, window, port, count = sys.argv[2:6]
        return tap_child(display_name, int(window), int(port), int(count))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kestrim", required=True)
    parser.add_argument("--reference", required=True, help="bench/sharingbaseline.cpp's program")
    parser.add_argument("--window", type=float, default=60.0, help="seconds the clock runs in each run")
    parser.add_argument("--viewers", type=int, default=100)
    parser.add_argument("--taps", type=int, default=50)
    parser.add_argument("--runs", type=int, default=3, help="runs of sharing off, on and the reference, each at once")
    parser.add_argument("--json", default=os.path.join(os.path.dirname(__file__), "..", "build", "remote_figures.json"))
    args = parser.parse_args()
    runs = []
    desktop = pf.Desktop()
    try:
        for n in range(args.runs):
            runs.append(run(desktop, args, ("off", "on") if n % 2 == 0 else ("on", "off")))
            with open(args.json, "w") as out:
                json.dump(runs, out, indent=2)
    finally:
        desktop.close()
    missed = False
    for n, figures in enumerate(runs, 1):
        print(f"run {n}")
        for name, part in figures.items():
            print(" ", name, json.dumps({k: round(v, 3) if isinstance(v, float) else v for k, v in part.items()
                                         if k != "tap_ms_all"}))
        for what, ok in checks_of(figures["off"], figures["on"], figures["reference"]):
            print(("  ok   " if ok else "  MISS ") + what)
            missed = missed or not ok
    return 1 if missed else 0


if __name__ == "__main__":
    raise SystemExit(main())
