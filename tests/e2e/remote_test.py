#!/usr/bin/env python3
"""The clock shared on the network, with the real program: sharing switched on in the settings file before
the start, a WebSocket client and a phone-sized headless Chromium as viewers, every action over HTTP, and the
hostile cases a shared network brings. Loopback only, every wait bounded.
"""

import asyncio
import atexit
import base64
import contextlib
import json
import os
import socket
import stat
import struct
import time
import urllib.request
import zlib

import websockets

from desktop import STEP_TIMEOUT, Desktop, check, conf_path, main, wait_for, write_conf

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


class Browser:
    """A headless Chromium on one page, driven over its DevTools protocol as a finger would: taps at the
    centres of elements, scripts to read the page, screenshots. Its process is the desktop's, ended with it;
    every call is bounded."""

    def __init__(self, desktop, width, height):
        self.loop = asyncio.new_event_loop()
        self.next_id = 0
        profile = os.path.join(desktop.root, "chromium-devtools")
        os.makedirs(profile)
        desktop.spawn("chromium", ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                   "--no-first-run", "--remote-debugging-address=127.0.0.1",
                                   "--remote-debugging-port=0", f"--user-data-dir={profile}", "about:blank"])

        announced = os.path.join(profile, "DevToolsActivePort")  # written by Chromium once it listens
        port = wait_for("Chromium's DevTools port", lambda: os.path.exists(announced) and (
            first := open(announced).readline().strip()).isdigit() and first, timeout=30)
        loopback = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with loopback.open(f"http://127.0.0.1:{port}/json/list", timeout=STEP_TIMEOUT) as answer:
            page = next(t for t in json.load(answer) if t["type"] == "page")

        async def connect():  # made inside the loop, which the connection keeps as its own
            # No keep-alive pings: the loop runs only during a call, and the connection stays on this machine.
            return await websockets.connect(page["webSocketDebuggerUrl"], max_size=None, ping_interval=None)

        self.socket = self._run(connect())
        atexit.register(self.close)  # also after a failed check, so that the loop ends with its tasks done
        self.resize(width, height)

    def _run(self, coroutine, timeout=STEP_TIMEOUT):
        return self.loop.run_until_complete(asyncio.wait_for(coroutine, timeout))

    def send(self, method, **params):
        self.next_id += 1
        ident = self.next_id

        async def exchange():
            await self.socket.send(json.dumps({"id": ident, "method": method, "params": params}))
            while (reply := json.loads(await self.socket.recv())).get("id") != ident:
                pass
            return reply

        reply = self._run(exchange())
        check("error" not in reply, f"{method}: {reply.get('error')}")
        return reply["result"]

    def eval(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        check("exceptionDetails" not in result, f"{expression}: {result.get('exceptionDetails')}")
        return result["result"].get("value")

    def resize(self, width, height):
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=True)

    def open(self, url):
        self.send("Page.navigate", url=url)
        wait_for(url, lambda: self.eval("document.readyState === 'complete' && location.href") == url)

    def tap(self, selector, while_down=None):
        """A press and release at the element's centre; while_down() is read between the two."""
        x, y = self.eval(f"""(() => {{
            const e = document.querySelector({json.dumps(selector)});
            e.scrollIntoView({{block: "nearest"}});
            const r = e.getBoundingClientRect();
            return [r.x + r.width / 2, r.y + r.height / 2];
        }})()""")
        self.send("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
        self.send("Input.dispatchMouseEvent", type="mousePressed", x=x, y=y, button="left", clickCount=1)
        seen = while_down() if while_down else None
        self.send("Input.dispatchMouseEvent", type="mouseReleased", x=x, y=y, button="left", clickCount=1)
        return seen

    def screenshot(self, path):
        open(path, "wb").write(base64.b64decode(self.send("Page.captureScreenshot", format="png")["data"]))
        return path

    def close(self):
        if not self.loop.is_closed():
            with contextlib.suppress(Exception):
                self._run(self.socket.close())
            self.loop.close()


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


# The chair's page: each control and the words of the API that make it usable now. The big button does what
# its label says; Edit changes only this browser, so it never greys.
GO = {"Ready": ("Start", "start"), "Running": ("Pause", "pause"), "Paused": ("Continue", "continue")}
CONTROL_WORDS = {"reset": ["reset"], "undo": ["undo-reset"], "minus": ["take-minute"], "plus": ["add-minute"],
                 "mode-Elapsed": ["set-mode"], "mode-StageLeft": ["set-mode"], "mode-TalkLeft": ["set-mode"],
                 "flash": ["flash-on", "flash-off"], "sound": ["sound-on", "sound-off"],
                 "blackout": ["blackout", "blackout-off"], "text": ["message"], "send": ["message"],
                 "ready-0": ["message"], "ready-1": ["message"], "ready-2": ["message"], "ready-3": ["message"],
                 "clear": ["clear-message"], "edit": []}

PAGE_VIEW = """(() => {
    const $ = (id) => document.getElementById(id);
    const controls = {};
    for (const e of document.querySelectorAll("main button, main input")) {
        controls[e.id] = {disabled: e.disabled, text: e.textContent.trim(), pressed: e.getAttribute("aria-pressed")};
    }
    return {controls, state: $("state").textContent, stage: $("stage").textContent, message: $("message").textContent,
            digits: $("minutes").textContent + ":" + $("seconds").textContent,
            offline: $("status").getClientRects().length > 0 && $("status").textContent,
            notice: $("notice").hidden ? "" : $("notice").textContent, blackoutNote: !$("blackout-note").hidden};
})()"""

# Every visible control at least 48 px tall and named for a screen reader, and nothing wider than the screen.
PAGE_LAYOUT = """(() => {
    const shown = (e) => e.getClientRects().length > 0;
    const controls = [...document.querySelectorAll("button, input")].filter(shown);
    const label = (e) => e.getAttribute("aria-label") || e.textContent.trim();
    return {count: controls.length,
            short: controls.filter((e) => e.getBoundingClientRect().height < 48).map((e) => e.id),
            unnamed: controls.filter((e) => !label(e)).map((e) => e.id),
            wide: [...document.querySelectorAll("body *")].filter(shown)
                      .filter((e) => e.getBoundingClientRect().right > innerWidth + 0.5).map((e) => e.id || e.tagName),
            scrollWidth: document.documentElement.scrollWidth, width: innerWidth};
})()"""


def page_differences(view, api):
    """What the page shows that the program's state does not say; empty when they agree."""
    wrong, available, controls = [], set(api["available"]), view["controls"]
    label, word = GO[api["state"]]
    if controls["go"] != {"disabled": word not in available, "text": label, "pressed": None}:
        wrong.append(f"go: {controls['go']}")
    for name, words in CONTROL_WORDS.items():
        if words and controls[name]["disabled"] != (not available.intersection(words)):
            wrong.append(f"{name} greyed: {controls[name]['disabled']}")
    for mode in ("Elapsed", "StageLeft", "TalkLeft"):
        if controls["mode-" + mode]["pressed"] != str(api["mode"] == mode).lower():
            wrong.append(f"mode {mode}: {controls['mode-' + mode]}")
    for name, on in (("flash", api["flashEnabled"]), ("sound", api["soundEnabled"]), ("blackout", api["blackout"])):
        if controls[name]["pressed"] != str(on).lower():
            wrong.append(f"{name}: {controls[name]}")
    stage = f"{api['stage']['number']} \u00b7 {api['stage']['description']}"
    if view["state"] != api["state"] or stage not in view["stage"] or view["message"] != api["message"]:
        wrong.append(f"the clock panel: {view['state']!r} {view['stage']!r} {view['message']!r}")
    if view["blackoutNote"] != api["blackout"] or view["offline"]:
        wrong.append(f"blackout note {view['blackoutNote']}, offline {view['offline']}")
    return wrong


def check_layout(browser, width):
    layout = browser.eval(PAGE_LAYOUT)
    check(layout["count"] >= 19 and not layout["short"] and not layout["unnamed"] and not layout["wide"]
          and layout["scrollWidth"] <= width == layout["width"], f"at {width} px: {layout}")


def lit_share(path, box):
    """The share of pixels inside box (x, y, width, height) that are not nearly black."""
    _, _, rows = png_pixels(path)
    x, y, w, h = (round(v) for v in box)
    lit = sum(1 for row in rows[y:y + h] for p in row[x:x + w] if max(p) > 90)
    return lit / (w * h)


def control_page_checks(browser, port, kestrim, artefacts):
    """The chair's phone: every step a tap on the page, then the program's state, its minimised window's
    caption and the page itself checked against one another. Leaves the browser on the page, upright."""
    def api():
        return call(port, "/api/v1/state", CONTROL)[2]

    call(port, "/api/v1/pause", CONTROL)  # refused when already paused: either way paused now
    for action in ("reset", "clear-message"):
        check(call(port, "/api/v1/" + action, CONTROL)[0] == 200, f"{action} before the page")
    # The viewer opened on a clock with no message: its first digits, wider than the dashes, fit too.
    browser.open(f"http://127.0.0.1:{port}/?token={VIEWER}")
    wait_for("the viewer's first digits",
             lambda: browser.eval("document.getElementById('minutes').textContent") == "00")
    wait_for("the viewer's digits within the screen", lambda: browser.eval(
        "document.getElementById('digits').getBoundingClientRect().width <= innerWidth"))
    browser.open(f"http://127.0.0.1:{port}/?token={CONTROL}")

    def shows(what, condition=lambda s: True):
        """Waits for the program's state to meet the condition and the page to show that state; returns it."""
        def probe():
            state = api()
            check(condition(state), f"the program's state {state}")
            wrong = page_differences(browser.eval(PAGE_VIEW), state)
            check(not wrong, f"the page differs from the program's state {state}: {wrong}")
            return state

        return wait_for(what, probe)

    def shot(name):
        return browser.screenshot(os.path.join(artefacts, name))

    clock_box = browser.eval("(() => { const r = document.getElementById('clock').getBoundingClientRect(); "
                             "return [r.x, r.y, r.width, r.height]; })()")
    shows("the page in Ready", lambda s: s["state"] == "Ready" and s["canUndoReset"])
    kestrim.wait_caption(lambda t: t == 0, "the window at 00:00")
    check_layout(browser, 390)
    shot("control-ready.png")

    # The press shows while the finger is still down, before any answer could come.
    pressed = browser.tap("#go", lambda: browser.eval("document.getElementById('go').matches('.pressed')"))
    check(pressed, "the big button showed no press while held")
    shows("Running after Start", lambda s: s["state"] == "Running")
    shown = kestrim.wait_caption(lambda t: t >= 2, "the window counting")
    page = wait_for("the page counting on by itself", lambda: (d := browser.eval(PAGE_VIEW)["digits"]) != "00:00" and d)
    check(abs(int(page[-2:]) - shown) <= 2, f"the page shows {page} while the window shows {shown} s")
    running = shot("control-running.png")
    check(lit_share(running, clock_box) > 0.05, "no digits in the stage colour on the running page")

    browser.tap("#plus")
    shows("a minute added", lambda s: s["elapsedMs"] >= 60000 and s["state"] == "Running")
    kestrim.wait_caption(lambda t: t >= 62, "the window a minute on")
    wait_for("the page's minutes", lambda: browser.eval(PAGE_VIEW)["digits"].startswith("01:"))

    browser.tap("#go")
    paused = shows("Paused after Pause", lambda s: s["state"] == "Paused")
    shot("control-paused.png")

    browser.tap("#ready-2")
    shows("a ready message sent", lambda s: s["message"] == "Questions now")
    shot("control-message.png")
    # The chair's own ready message, kept by the browser over a reload.
    browser.tap("#edit")
    browser.eval("(() => { const e = document.getElementById('ready-text-0'); e.focus(); e.select(); })()")
    browser.send("Input.insertText", text="Two minutes left")
    browser.tap("#edit")
    browser.open(f"http://127.0.0.1:{port}/?token={CONTROL}")
    shows("the page after a reload")
    check(browser.eval(PAGE_VIEW)["controls"]["ready-0"]["text"] == "Two minutes left", "the edit was not kept")
    browser.tap("#ready-0")
    shows("the edited message sent", lambda s: s["message"] == "Two minutes left")
    browser.eval("document.getElementById('text').focus()")
    browser.send("Input.insertText", text="Microphone, please")
    browser.tap("#send")
    shows("the typed message sent", lambda s: s["message"] == "Microphone, please")
    browser.tap("#mode-TalkLeft")
    shows("the talk's time left", lambda s: s["mode"] == "TalkLeft" and s["minutes"] == "23")
    browser.tap("#mode-Elapsed")

    # A refusal shows the program's reason, and goes again. The page greys what would be refused, so only a
    # race brings one: the page's own sender stands in for it.
    browser.eval("send({action: 'pause'})")
    wait_for("the refusal's reason", lambda: browser.eval(PAGE_VIEW)["notice"] == "Pause needs the clock running.")
    # Reset asks for a second tap; one tap alone does nothing and is forgotten after 3 s.
    browser.tap("#reset")
    check(browser.eval(PAGE_VIEW)["controls"]["reset"]["text"] == "Tap again to reset", "Reset did not ask again")
    wait_for("Reset to be itself again", lambda: browser.eval(PAGE_VIEW)["controls"]["reset"]["text"] == "Reset",
             timeout=5)
    check(api()["elapsedMs"] == paused["elapsedMs"], "a single tap on Reset changed the clock")
    wait_for("the refusal's line to go", lambda: browser.eval(PAGE_VIEW)["notice"] == "", timeout=5)
    browser.tap("#reset")
    browser.tap("#reset")
    shows("Ready after two taps on Reset", lambda s: s["state"] == "Ready" and s["canUndoReset"])
    kestrim.wait_caption(lambda t: t == 0, "the window back at 00:00")

    # Blackout blackens the speaker's views, not the chair's page.
    browser.tap("#blackout")
    shows("the blackout", lambda s: s["blackout"])
    check(lit_share(shot("control-blackout.png"), clock_box) > 0.05, "the blackout blackened the control page")
    browser.tap("#blackout")
    shows("the blackout ended", lambda s: not s["blackout"])

    browser.resize(844, 390)
    check_layout(browser, 844)
    sides = browser.eval("""(() => { const box = (id) => document.getElementById(id).getBoundingClientRect();
        return [box("clock").right, box("go").right, box("mode-Elapsed").left, innerHeight,
                document.documentElement.scrollHeight]; })()""")
    check(sides[0] <= sides[2] and sides[1] <= sides[2] and sides[4] <= sides[3], f"landscape: {sides}")
    shot("control-landscape.png")
    browser.resize(390, 844)


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
        # Ten guesses that the server read: one made while it still let the 140 go is closed unread.
        guesses = [call(port, "/api/v1/state", "Wrong-token-guessed-here", source="127.0.0.2")[0] for _ in range(10)]
        while guesses.count(401) < 10 and len(guesses) < 40:
            guesses.append(call(port, "/api/v1/state", "Wrong-token-guessed-here", source="127.0.0.2")[0])
        check(guesses.count(401) == 10, f"the guesses were answered {guesses}")
        check(call(port, "/api/v1/state", VIEWER, source="127.0.0.2")[0] == 429, "no 429 after 10 wrong tokens")
        check(call(port, "/api/v1/state", VIEWER)[0] == 200, "another address was blocked too")
        # The phone: the digits in stage 1's green on black, the message under them, and no controls. After the
        # count of connections: the browser keeps idle ones of its own.
        browser = Browser(desktop, 390, 844)
        browser.open(f"http://127.0.0.1:{port}/?token={VIEWER}")
        wait_for("the viewer page's digits and message", lambda: browser.eval(
            "document.getElementById('minutes').textContent !== '--' && "
            "document.getElementById('message').textContent"))
        check(browser.eval("document.querySelectorAll('button, input, select, textarea, a').length") == 0,
              "the viewer link shows controls")
        shot = browser.screenshot(os.path.join(artefacts, "viewer.png"))
        width, height, rows = png_pixels(shot)
        pixels = [p for row in rows for p in row]
        green = sum(1 for r, g, b in pixels if g > 200 and r < 60 and b < 60)
        black = sum(1 for r, g, b in pixels if r + g + b < 30)
        check((width, height) == (390, 844), f"screenshot of {width}x{height}")
        check(green > len(pixels) // 40 and black > len(pixels) // 2, f"{green} green, {black} black pixels")
        band = [p for row in rows[height // 3:2 * height // 3] for p in row if p[1] > 200 and p[0] < 60]
        check(len(band) > green // 2, "the digits are not in the middle of the screen")
        control_page_checks(browser, port, kestrim, artefacts)
        time.sleep(max(0.0, 31 - (time.monotonic() - idle_since)))
        idle.settimeout(5)
        check(idle.recv(1) == b"", "an idle connection was not closed after 30 s")
        check(kestrim.alive(), "the program ended")
        # The window's place saved at the end keeps the file private.
        kestrim.proc.terminate()
        check(kestrim.wait_exit() == 0, "the program did not end cleanly")
        check("[Window]" in open(conf_path(home)).read(), "the quit saved nothing")
        check(stat.S_IMODE(os.stat(conf_path(home)).st_mode) == 0o600, "the save made the file readable to others")

        # The chair's page without the program, and again once it is back.
        def disconnected():
            view = browser.eval(PAGE_VIEW)
            greyed = all(view["controls"][name]["disabled"] for name, words in CONTROL_WORDS.items() if words)
            return view["offline"] == "Disconnected" and greyed

        wait_for("the page to say Disconnected and grey every control", disconnected)
        again = desktop.start_kestrim(home, log_name="kestrim-again")
        wait_for("the page to reconnect by itself", lambda: listening() and not page_differences(
            browser.eval(PAGE_VIEW), listening()[2]), timeout=30)
        check(again.alive(), "the program started again ended")
        browser.close()


if __name__ == "__main__":
    raise SystemExit(main(test))
