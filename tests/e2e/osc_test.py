#!/usr/bin/env python3
"""OSC from the stage desk, with the real program: OSC switched on in the settings file for 127.0.0.1 and ::1
(sharing too, to read the state over HTTP and a WebSocket), liblo's oscsend driving a talk, a sender bound to
127.0.0.2 refused without the token and obeyed with it, a poll answered to its sender, and a flood of 10,000
datagrams that leaves the ticks on time. Loopback only, every wait bounded.
"""

import asyncio
import json
import socket
import statistics
import threading
import time

import websockets

from desktop import Desktop, check, main, read_conf, require_tools, wait_for, write_conf
from remote_test import call, free_port

VIEWER = "Viewer-token-for-the-osc-test"
CONTROL = "Control-token-for-the-osc-test"


def osc(path, *texts):
    """An OSC message of strings: each zero-ended and padded to four bytes, after the type tags ",s..."."""
    def padded(text):
        return text.encode() + b"\0" * (4 - len(text.encode()) % 4)
    return padded(path) + padded("," + "s" * len(texts)) + b"".join(padded(t) for t in texts)


def sender(address="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, 0))
    return s


def replies(s, wait):
    """The texts of every datagram reaching `s` until none came for `wait` seconds: path, tags, arguments."""
    s.settimeout(wait)
    got = []
    try:
        while True:
            got.append([w.decode(errors="replace") for w in s.recv(65536).split(b"\0") if w])
    except socket.timeout:
        return got


async def tick_phases(http, seconds, during=None):
    """For each new second a WebSocket viewer gets while running: (the second, the ms after its whole second at
    which the tick that showed it read the clock, its arrival). `during` runs in a thread meanwhile."""
    seen, worker = [], None
    async with websockets.connect(f"ws://127.0.0.1:{http}/api/v1/ws?token={VIEWER}") as ws:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            state = json.loads(await asyncio.wait_for(ws.recv(), 3))
            shown = int(state["minutes"]) * 60 + int(state["seconds"])
            if state["state"] == "Running" and (not seen or shown != seen[-1][0]):
                seen.append((shown, state["elapsedMs"] - shown * 1000, time.monotonic()))
            if during and not worker and len(seen) >= 2:
                worker = threading.Thread(target=during)
                worker.start()
    if worker:
        worker.join(30)
    return seen[1:]  # the first was waiting for the viewer, not sent at its second


def flood(port, count, seconds, polls, span):
    """`count` datagrams from loopback over `seconds`: polls (from `polls`), actions that change nothing,
    garbage and unknown words in turn. `span` gets when it began and ended."""
    kinds = [osc("/kestrim/poll"), osc("/kestrim/set-mode", "Elapsed"), b"not OSC", osc("/kestrim/nothing")]
    out, span["from"] = sender(), time.monotonic()
    for i in range(count):
        (polls if i % 4 == 0 else out).sendto(kinds[i % 4], ("127.0.0.1", port))
        if i % 100 == 99:
            time.sleep(max(0.0, span["from"] + seconds * (i + 1) / count - time.monotonic()))
    span["to"] = time.monotonic()
    out.close()


def test(program, artefacts, _options):
    require_tools("oscsend")
    http, port = free_port(), free_port()
    port = port if port != http else port + 1  # the settings refuse OSC on sharing's port
    with Desktop("osc", program, artefacts) as desktop:
        home = desktop.new_config_home("osc")
        write_conf(home, f"[Remote]\nEnabled=True\nPort={http}\nViewerToken={VIEWER}\nControlToken={CONTROL}\n"
                         f"OscEnabled=True\nOscPort={port}\nOscAllow=127.0.0.1, ::1\n")
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()

        def after(what, condition):
            def probe():
                try:  # the window shows before the module has loaded
                    state = call(http, "/api/v1/state", VIEWER)[2]
                except ConnectionRefusedError:
                    return None
                return condition(state) and state
            return wait_for(what, probe)

        def send(*args):
            desktop.run(["oscsend", "localhost", str(port), *args])

        after("the server", lambda s: s["state"] == "Ready")
        for args, what, done in [(["/kestrim/start"], "Running", lambda s: s["state"] == "Running"),
                                 (["/kestrim/add-minute"], "a minute on", lambda s: s["elapsedMs"] >= 60_000),
                                 (["/kestrim/message", "s", "Wrap up"], "the message", lambda s: s["message"] == "Wrap up"),
                                 (["/kestrim/pause"], "Paused", lambda s: s["state"] == "Paused")]:
            send(*args)
            after(what + " after " + args[0], done)

        # 127.0.0.2 is not on the list: only the token lets it in. A command from 127.0.0.1 sent after the
        # refused one shows that the refused one has been read.
        other = sender("127.0.0.2")
        other.sendto(osc("/kestrim/toggle"), ("127.0.0.1", port))
        send("/kestrim/set-mode", "s", "TalkLeft")
        after("TalkLeft, still Paused", lambda s: s["mode"] == "TalkLeft" and s["state"] == "Paused")
        other.sendto(osc("/kestrim/toggle", CONTROL), ("127.0.0.1", port))
        after("Running after a toggle with the token", lambda s: s["state"] == "Running")
        other.sendto(osc("/kestrim/poll", CONTROL), ("127.0.0.1", port))
        answer = {words[0]: words[2:] for words in replies(other, 1.0)}
        check(answer["/kestrim/state"][:2] == ["Running", "TalkLeft"] and len(answer) == 3, f"the poll's answer: {answer}")
        send("/kestrim/set-mode", "s", "Elapsed")
        after("Elapsed again", lambda s: s["mode"] == "Elapsed")

        # 10,000 datagrams in 4 s, 12 times what OSC takes: the ticks and their states keep their time.
        before = asyncio.run(tick_phases(http, 6))
        polls, span = sender(), {}
        polls.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)  # every answer kept until read
        during = asyncio.run(tick_phases(http, 8, lambda: flood(port, 10_000, 4.0, polls, span)))
        flood_seconds, answered = span["to"] - span["from"], len(replies(polls, 0.5))
        during = [p for p in during if span["from"] + 0.5 <= p[2] <= span["to"]]
        start = min(at - shown for shown, _, at in before)
        ticks, arrivals = ([[p[1] for p in run] for run in (before, during)],
                           [[round((at - s - start) * 1000, 1) for s, _, at in run] for run in (before, during)])
        summary = f"tick phase before/during {ticks} ms, arrival {arrivals} ms, {answered} poll answers"
        print(summary)
        open(f"{artefacts}/flood.txt", "w").write(summary + f" in {flood_seconds:.1f} s\n")
        check(len(before) >= 4 and len(during) >= 3, f"too few seconds seen: {summary}")
        check(max(ticks[1]) <= max(ticks[0]) + 20 and statistics.median(ticks[1]) <= statistics.median(ticks[0]) + 10
              and max(arrivals[1]) <= max(arrivals[0]) + 50, f"the flood delayed the clock: {summary}")
        # A quarter of what is taken is a poll, of three answers; without the rate it would be all 2,500.
        check(answered % 3 == 0 and 200 * flood_seconds / 8 <= answered / 3 <= 50 + 200 * flood_seconds, summary)
        time.sleep(0.3)  # a full bucket again
        send("/kestrim/pause")
        after("Paused right after the flood", lambda s: s["state"] == "Paused")

        kestrim.proc.terminate()
        check(kestrim.wait_exit() == 0, "the program did not end cleanly")
        remote = read_conf(home)["Remote"]
        check(remote["OscEnabled"] == "True" and remote["OscAllow"] == "127.0.0.1, ::1", f"[Remote]: {remote}")


if __name__ == "__main__":
    raise SystemExit(main(test))
