#!/usr/bin/env python3
"""The clock shared on the network, with the real program: sharing switched on in the settings file before
the start, a WebSocket client and a phone-sized headless Chromium as viewers, every action over HTTP, and the
hostile cases a shared network brings. Loopback only, every wait bounded.
"""

import asyncio
import json
import os
import socket
import stat
import struct
import subprocess
import time
import zlib

import websockets

from desktop import Desktop, check, conf_path, main, wait_for, write_conf

VIEWER = "Viewer-token-for-the-e2e-test"
CONTROL = "Control-token-for-the-e2e-test"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def raw(port, data, source="127.0.0.1", timeout=10.0):
    """Sends bytes, returns (status, headers text, body) of the answer; status 0 if closed without one."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0)) as s:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
        answer = b""
        try:
            while chunk := s.recv(65536):
                answer += chunk
        except ConnectionResetError:
            pass
    head, _, body = answer.partition(b"\r\n\r\n")
    status = int(head[9:12]) if head.startswith(b"HTTP/1.1 ") else 0
    return status, head.decode("latin-1"), body


def call(port, path, token=None, method="GET", host="127.0.0.1", source="127.0.0.1"):
    target = path + (("&" if "?" in path else "?") + "token=" + token if token else "")
    status, head, body = raw(port, f"{method} {target} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode(), source)
    return status, head, json.loads(body) if head and "application/json" in head else body


def png_pixels(path):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG, as Chromium writes them."""
    data = open(path, "rb").read()
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", chunk[:10])
            check(depth == 8 and colour in (2, 6), f"unexpected PNG format {depth}/{colour}")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    raw_rows, stride, rows, previous = zlib.decompress(idat), width * channels, [], bytearray(width * channels)
    for y in range(height):
        kind, line = raw_rows[y * (stride + 1)], bytearray(raw_rows[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = previous[i], previous[i - channels] if i >= channels else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2, min((a, b, c), key=lambda v: (abs(p - v), (a, b, c).index(v)))][kind]
            line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


async def websocket_checks(port, kestrim):
    url = f"ws://127.0.0.1:{port}/api/v1/ws?token="
    async with websockets.connect(url + VIEWER) as viewer:
        first = json.loads(await asyncio.wait_for(viewer.recv(), 5))
        check(first["state"] == "Running", f"the first WebSocket message: {first}")
        # A new second reaches the viewer as the main window shows it (its minimised caption).
        kestrim.minimise()
        for _ in range(3):
            state = json.loads(await asyncio.wait_for(viewer.recv(), 2))
            shown, caption = int(state["minutes"]) * 60 + int(state["seconds"]), kestrim.caption_time()
            check(caption in (shown, shown + 1), f"the viewer got {shown} s while the caption read {caption} s")
        await viewer.send(json.dumps({"action": "pause"}))
        while "status" not in (answer := json.loads(await asyncio.wait_for(viewer.recv(), 5))):
            pass
        check(answer["status"] == 403, f"a viewer's action: {answer}")

    async with websockets.connect(url + CONTROL) as control:
        await control.send(json.dumps({"action": "message", "text": "Five minutes"}))
        while "status" not in (answer := json.loads(await asyncio.wait_for(control.recv(), 5))):
            pass
        check(answer["status"] == 200 and answer["state"]["message"] == "Five minutes", f"WS message: {answer}")
        for _ in range(21):
            await control.send(json.dumps({"action": "message", "text": "Hi"}))
        await asyncio.wait_for(control.wait_closed(), 5)
        check(control.close_code == 1008, f"21 messages in a second closed with {control.close_code}")

    async with websockets.connect(url + CONTROL, max_size=None) as big:
        await big.send("x" * 4097)
        await asyncio.wait_for(big.wait_closed(), 5)
        check(big.close_code == 1009, f"a 4097-byte message closed with {big.close_code}")


def test(program, artefacts, _options):
    port = free_port()
    with Desktop("remote", program, artefacts) as desktop:
        home = desktop.new_config_home("remote")
        write_conf(home, f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={VIEWER}\nControlToken={CONTROL}\n")
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        check(stat.S_IMODE(os.stat(conf_path(home)).st_mode) == 0o600, "the file with the tokens is not 0600")
        idle = socket.create_connection(("127.0.0.1", port), timeout=40)
        idle_since = time.monotonic()

        def listening():
            try:
                return call(port, "/api/v1/state", VIEWER)
            except ConnectionRefusedError:  # the window can show before the module has loaded
                return None

        status, head, state = wait_for("the server", listening, timeout=30)
        check(status == 200 and state["state"] == "Ready", f"state at start: {status} {state}")
        for header in ("X-Content-Type-Options: nosniff", "Referrer-Policy: no-referrer",
                       "Content-Security-Policy: default-src 'none'"):
            check(header in head, f"no {header!r} in {head}")
        check("Access-Control" not in call(port, "/api/v1/state?token=" + VIEWER)[1], "a CORS header")
        status, head, _ = raw(port, f"GET /api/v1/ws?token={VIEWER} HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                              "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                              "Sec-WebSocket-Version: 8\r\n\r\n".encode())
        check(status == 426 and "Sec-WebSocket-Version: 13" in head, f"another WebSocket version: {status} {head}")

        # Every action, with what it does to the clock; refusals change nothing.
        steps = [("GET", "start", 200, "Running"), ("POST", "start", 409, None), ("GET", "toggle", 200, "Paused"),
                 ("POST", "add-minute", 200, "Paused"), ("GET", "take-minute", 200, "Paused"),
                 ("GET", "reset", 200, "Ready"), ("GET", "undo-reset", 200, "Paused"),
                 ("GET", "continue", 200, "Running"), ("GET", "pause", 200, "Paused"), ("GET", "toggle", 200, "Running"),
                 ("GET", "message?text=Two+minutes", 200, "Running"), ("GET", "clear-message", 200, "Running"),
                 ("GET", "undo-reset", 409, None), ("GET", "message?text=Hi", 200, "Running")]
        for method, action, expected, after in steps:
            status, _, answer = call(port, "/api/v1/" + action, CONTROL, method)
            check(status == expected, f"{method} {action}: {status} {answer}")
            check(answer.get("state") == after if after else "error" in answer, f"{action}: {answer}")
        check(call(port, "/api/v1/state", VIEWER)[2]["message"] == "Hi", "the message was not kept")
        for path, token, method, expected in [("start", VIEWER, "GET", 403), ("state", None, "GET", 401),
                                              ("state", "x" * 22, "GET", 401), ("nothing", CONTROL, "GET", 404),
                                              ("state", CONTROL, "DELETE", 405)]:
            check(call(port, "/api/v1/" + path, token, method)[0] == expected, f"{method} {path}: not {expected}")
        status, _, page = call(port, "/")
        check(status == 401 and b"Share on Network..." in page, f"the page without a token: {status} {page}")

        asyncio.run(websocket_checks(port, kestrim))

        # The phone: the digits in stage 1's green on black, the message under them.
        shot = os.path.join(artefacts, "viewer.png")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        f"--user-data-dir={os.path.join(desktop.root, 'chromium')}", f"--screenshot={shot}",
                        "--window-size=390,844", "--virtual-time-budget=4000",
                        f"http://127.0.0.1:{port}/?token={VIEWER}"], timeout=60, capture_output=True, check=True)
        width, height, rows = png_pixels(shot)
        pixels = [p for row in rows for p in row]
        green = sum(1 for r, g, b in pixels if g > 200 and r < 60 and b < 60)
        black = sum(1 for r, g, b in pixels if r + g + b < 30)
        check((width, height) == (390, 844), f"screenshot of {width}x{height}")
        check(green > len(pixels) // 40 and black > len(pixels) // 2, f"{green} green, {black} black pixels")
        band = [p for row in rows[height // 3:2 * height // 3] for p in row if p[1] > 200 and p[0] < 60]
        check(len(band) > green // 2, "the digits are not in the middle of the screen")

        # Hostile clients.
        head = b"GET /api/v1/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + b"x" * 16384 + b"\r\n\r\n"
        check(raw(port, head)[0] == 413, "a head of more than 16 KiB")
        body = f"POST /api/v1/toggle?token={CONTROL} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 65537\r\n\r\n"
        check(raw(port, body.encode() + b"x" * 65537)[0] == 413, "a body of more than 64 KiB")
        check(call(port, "/api/v1/state", VIEWER, host="rebound.example")[0] == 421, "a foreign Host")
        many = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(140)]
        for s in many:
            s.setblocking(False)

        def closed():
            count = 0
            for s in many:
                try:
                    count += s.recv(1, socket.MSG_PEEK) == b""
                except BlockingIOError:
                    pass
                except ConnectionResetError:
                    count += 1
            return count

        wait_for("the connections beyond 128 to be closed at once", lambda: closed() >= 140 - 127, timeout=3)
        check(closed() <= 140 - 120, f"{closed()} of 140 connections were closed, fewer than 128 kept")
        for s in many:
            s.close()
        wait_for("the server to take connections again", lambda: call(port, "/api/v1/state", VIEWER)[0] == 200)
        for _ in range(10):
            check(call(port, "/api/v1/state", "Wrong-token-guessed-here", source="127.0.0.2")[0] == 401, "no 401")
        check(call(port, "/api/v1/state", VIEWER, source="127.0.0.2")[0] == 429, "no 429 after 10 wrong tokens")
        check(call(port, "/api/v1/state", VIEWER)[0] == 200, "another address was blocked too")
        time.sleep(max(0.0, 31 - (time.monotonic() - idle_since)))
        idle.settimeout(5)
        check(idle.recv(1) == b"", "an idle connection was not closed after 30 s")
        check(kestrim.alive(), "the program ended")
        # The window's place saved at the end keeps the file private.
        kestrim.proc.terminate()
        check(kestrim.wait_exit() == 0, "the program did not end cleanly")
        check("[Window]" in open(conf_path(home)).read(), "the quit saved nothing")
        check(stat.S_IMODE(os.stat(conf_path(home)).st_mode) == 0o600, "the save made the file readable to others")


if __name__ == "__main__":
    raise SystemExit(main(test))
