#!/usr/bin/env python3
"""Figures of OSC: the program with OSC off, then on (switched on in the settings file, sharing off both
times), each idle in Ready and then running minimised; and, with OSC on, the read-out's lag while 10,000
datagrams flood the OSC port from loopback.

  * CPU in Ready and while running, resident memory, as process_figures.py measures them;
  * the read-out's lag behind the start (its minimised caption, as the X server sees it change) while running,
    and again while the flood runs (10,000 datagrams in 4 s: polls, actions that change nothing, garbage).

Needs Xvfb, openbox and xdotool. Prints a summary and writes JSON; exits 1 when a target is missed.
"""

import argparse
import json
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_figures as pf  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from osc_test import flood, sender  # noqa: E402


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def caption_changes(desktop, program, until, changes):
    """Records when the caption first showed each elapsed second, until boottime `until`."""
    last = None
    while pf.boottime() < until:
        desktop.display.events(0.01)
        caption = desktop.display.caption(program.window)
        if caption != last:
            last = caption
            seconds = pf.elapsed_in(caption)
            if seconds is not None:
                changes.setdefault(seconds, pf.boottime())


def lag_ms(changes, pressed, seconds):
    lags = [(changes[s] - pressed - s) * 1000 for s in seconds if s in changes and s > 0]
    return {"median": statistics.median(lags), "max": max(lags), "seconds": len(lags)}


def run(desktop, args, osc):
    port = free_udp_port()
    store = f"[Remote]\nOscEnabled=True\nOscPort={port}\n" if osc else None
    program = pf.Program(desktop, args.kestrim, "Kestrim", store)
    try:
        time.sleep(max(0.0, program.started + 2.0 - time.monotonic()))
        figures = {"rss_kib_idle": program.rss_kib()}
        with open(f"/proc/{program.process.pid}/maps") as maps:
            figures["liblo_mapped"] = "liblo" in maps.read()
        before, started = program.cpu_sample(), time.monotonic()
        time.sleep(args.window)
        figures["cpu_ready_percent"] = pf.cpu_percent(before, program.cpu_sample(), time.monotonic() - started)[0]

        pressed = pf.start_clock(desktop, program)
        pf.xdotool(desktop, "windowminimize", "--sync", str(program.window))
        before, started, changes = program.cpu_sample(), time.monotonic(), {}
        caption_changes(desktop, program, pressed + args.window, changes)
        figures["cpu_running_percent"] = pf.cpu_percent(before, program.cpu_sample(), time.monotonic() - started)[0]
        figures["rss_kib_running"] = program.rss_kib()
        figures["lag_running_ms"] = lag_ms(changes, pressed, list(changes))
        if osc:
            # The flood from a thread of its own, the caption watched here meanwhile; the polls' answers are
            # counted afterwards.
            polls, span = sender(), {}
            polls.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
            worker = threading.Thread(target=flood, args=(port, 10_000, 4.0, polls, span))
            flooded_from = pf.boottime()
            worker.start()
            caption_changes(desktop, program, flooded_from + 4.5, changes)
            worker.join()
            during = [s for s, when in changes.items() if flooded_from + 0.2 <= when <= flooded_from + 4.0]
            figures["lag_flood_ms"] = lag_ms(changes, pressed, during)
            polls.settimeout(0.5)
            answered = 0
            try:
                while polls.recv(65536):
                    answered += 1
            except socket.timeout:
                pass
            figures["flood_seconds"] = span["to"] - span["from"]
            figures["flood_polls_answered"] = answered // 3
        return figures
    finally:
        program.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kestrim", required=True)
    parser.add_argument("--window", type=float, default=30.0, help="seconds in Ready and running, each")
    parser.add_argument("--json", default=os.path.join(os.path.dirname(__file__), "..", "build", "osc_figures.json"))
    args = parser.parse_args()
    desktop = pf.Desktop()
    try:
        off = run(desktop, args, osc=False)
        on = run(desktop, args, osc=True)
    finally:
        desktop.close()
    with open(args.json, "w") as out:
        json.dump({"off": off, "on": on}, out, indent=2)
    checks = [
        ("liblo unmapped with OSC off, mapped with it on", not off["liblo_mapped"] and on["liblo_mapped"]),
        ("CPU in Ready with OSC on at most 1.2x off (+0.02 %)",
         on["cpu_ready_percent"] <= 1.2 * off["cpu_ready_percent"] + 0.02),
        ("read-out lag in the flood at most 20 ms more than without (max)",
         on["lag_flood_ms"]["max"] <= on["lag_running_ms"]["max"] + 20),
        ("polls answered at most at the rate", on["flood_polls_answered"] <= 50 + 200 * on["flood_seconds"]),
    ]
    for name, figures in (("off", off), ("on", on)):
        print(name, json.dumps(figures))
    for what, ok in checks:
        print(("ok   " if ok else "MISS ") + what)
    return 0 if all(ok for _, ok in checks) else 1


if __name__ == "__main__":
    raise SystemExit(main())
