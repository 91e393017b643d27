#!/usr/bin/env python3
"""A session of three talks with the real program, driven from the chair's page in a phone-sized headless
Chromium: the talk's line and the programme row, Next Talk and Previous Talk with the records they leave in
the settings file, Undo Reset back to the talk left, a restart in the middle of the session, and the report
saved through the context menu and the file dialog. Loopback only, every wait bounded.
"""

import csv
import datetime
import os
import re

from desktop import Desktop, Failure, check, main, read_conf, wait_for, write_conf
from remote_test import CONTROL, VIEWER, Browser, call, free_port

TITLES = ("Keynote", "Difference engines", "Coffee")
STAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d")


def settings(port):
    now = datetime.datetime.now()
    start = now.replace(second=0, microsecond=0)
    # The coffee at a fixed time of day, on the same day whenever the test runs.
    coffee = min(start + datetime.timedelta(minutes=20), start.replace(hour=23, minute=59))
    return (f"[Remote]\nEnabled=True\nPort={port}\nViewerToken={VIEWER}\nControlToken={CONTROL}\n\n"
            f"[Programme]\nCount=3\nSessionStart={start:%H:%M}\n"
            f"Title1={TITLES[0]}\nSpeaker1=Ada Lovelace\nLengths1=60,30,30\n"
            f"Title2={TITLES[1]}\nSpeaker2=Charles Babbage\nLengths2=60,30,30\n"
            f"Title3={TITLES[2]}\nStart3={coffee:%H:%M}\n"), f"{coffee:%H:%M}"


def status_strip(desktop, kestrim, save_as=None):
    """The pixels of the left part of the status bar, which says what SPACE and ESC do next."""
    x, y, width, height = kestrim.settled_geometry()
    image = desktop.screenshot(save_as)
    # Only the first words: where Ready's words end, the session's part begins a few pixels on, nearer
    # with "Behind 1 min" than with "On time": a talk 1 started late in its minute is behind, a time of
    # day like 07:59 then reaches two fifths of the window, and talk 2, on time, leaves that spot bare.
    top, left, right = y + height - 20, x + 4, x + width // 4
    return b"".join(image.rgb[((top + r) * image.width + left) * 3:((top + r) * image.width + right) * 3]
                    for r in range(16))


def listening(port):
    try:
        return call(port, "/api/v1/state", VIEWER)[0] == 200
    except ConnectionRefusedError:  # the window shows before the network module has loaded
        return False


def session(desktop, kestrim, browser, port, home, coffee, artefacts):
    def api(path="state"):
        return call(port, "/api/v1/" + path, CONTROL)[2]

    page_view = """(() => { const $ = (id) => document.getElementById(id);
        return {row: $("programme").textContent, talk: $("talk").hidden ? "" : $("talk").textContent,
                previous: $("previous-talk").disabled, next: $("next-talk").disabled, undo: $("undo").disabled,
                state: $("state").textContent, offline: $("status").getClientRects().length > 0}; })()"""

    def shows(what, talk, state, previous_greyed=False, next_greyed=False):
        """Waits until the program is on `talk` in `state` and the page shows it so; returns the state."""
        def probe():
            now = api()
            check(now["talk"]["number"] == talk and now["state"] == state, f"the program's state {now}")
            view = browser.eval(page_view)
            check(view["row"] == f"Talk {talk} of 3" and view["state"] == state and not view["offline"]
                  and (view["previous"], view["next"]) == (previous_greyed, next_greyed)
                  and view["undo"] == ("undo-reset" not in now["available"])
                  and view["talk"].startswith(TITLES[talk - 1]), f"the page shows {view}")
            return now
        return wait_for(what, probe)

    # 1. The first talk, Ready, with the whole programme planned.
    browser.open(f"http://127.0.0.1:{port}/?token={CONTROL}")
    first = shows("talk 1 of 3 on the page", 1, "Ready", previous_greyed=True)
    check(first["talk"]["count"] == 3 and first["talk"]["title"] == TITLES[0], f"the state's talk: {first}")
    check(browser.eval("document.getElementById('talk').textContent") == "Keynote \u2014 Ada Lovelace",
          "the talk's line over the digits")
    planned = api("programme")
    check([t["title"] for t in planned["talks"]] == list(TITLES) and all(t["plannedStart"] for t in planned["talks"])
          and f"T{coffee}:00" in planned["talks"][2]["plannedStart"], f"the programme: {planned}")
    ready_strip = status_strip(desktop, kestrim, save_as="window-ready.png")

    # 2. A few seconds of talk 1, then on to talk 2, recorded in the file at once.
    browser.tap("#go")
    shows("talk 1 running", 1, "Running", previous_greyed=True, next_greyed=True)
    wait_for("three seconds of talk 1", lambda: api()["elapsedMs"] >= 3000)
    browser.tap("#go")
    paused = shows("talk 1 paused", 1, "Paused", previous_greyed=True)
    seconds = paused["elapsedMs"] // 1000
    check(3 <= seconds <= 8, f"talk 1 paused after {paused['elapsedMs']} ms")
    paused_strip = status_strip(desktop, kestrim)
    browser.tap("#next-talk")
    shows("talk 2 in Ready", 2, "Ready")
    stored = read_conf(home).get("Programme", {})
    check(stored.get("Current") == "2" and STAMP.fullmatch(stored.get("Started1", ""))
          and stored.get("Elapsed1") == str(seconds), f"the file after Next Talk: {stored}")
    # The status bar's left part says Ready's words again, as on talk 1 before its start.
    # Each look is kept, so that a failure leaves the last one beside the first.
    wait_for("Ready's words in the status bar",
             lambda: status_strip(desktop, kestrim, save_as="window-talk2-ready.png") == ready_strip)
    check(paused_strip != ready_strip, "the status bar read the same in Paused as in Ready")

    # 3. Back and on again; Undo Reset then takes up the talk left, paused at its time.
    browser.tap("#previous-talk")
    shows("talk 1 in Ready again", 1, "Ready", previous_greyed=True)
    browser.tap("#next-talk")
    shows("talk 2 once more", 2, "Ready")
    # Talk 1 was only looked at in Ready, never started again: what it took stays recorded.
    stored = read_conf(home).get("Programme", {})
    check(stored.get("Elapsed1") == str(seconds), f"leaving talk 1 unstarted rewrote its record: {stored}")
    browser.tap("#undo")
    back = shows("talk 1 taken up by Undo Reset", 1, "Paused", previous_greyed=True)
    check(back["elapsedMs"] // 1000 == seconds, f"Undo Reset brought talk 1 back at {back['elapsedMs']} ms, "
          f"not at its {seconds} s")
    stored = read_conf(home).get("Programme", {})
    check(stored.get("Current") == "1" and STAMP.fullmatch(stored.get("Started1", "")), f"after undo: {stored}")

    # 4. On to talk 2, then quit and start again in the middle of the session.
    browser.tap("#next-talk")
    shows("talk 2 before the restart", 2, "Ready")
    kestrim.alt_f4()
    check(kestrim.wait_exit() == 0, "the program did not end cleanly")
    kestrim = desktop.start_kestrim(home, log_name="kestrim-again")
    kestrim.wait_main_window()
    wait_for("the server again", lambda: listening(port), timeout=30)
    wait_for("the page to reconnect", lambda: not browser.eval(page_view)["offline"], timeout=15)
    shows("talk 2 after the restart", 2, "Ready")
    stored = read_conf(home).get("Programme", {})
    check(stored.get("Current") == "2" and STAMP.fullmatch(stored.get("Started1", ""))
          and stored.get("Elapsed1") == str(seconds), f"the file after the restart: {stored}")
    done = api("programme")["talks"]
    check(done[0]["done"] and done[0]["startedAt"] and done[0]["actualSeconds"] == seconds
          and not done[1]["done"], f"the programme after the restart: {done}")
    browser.tap("#programme")
    took = f"Took 00:{seconds:02d}"
    wait_for("the list with talk 1 done and its time", lambda: browser.eval(
        "(() => { const li = document.querySelector('#talks li'); "
        f"return !!li && li.classList.contains('done') && li.textContent.includes('{took}'); }})()"))
    browser.screenshot(os.path.join(artefacts, "control-list.png"))
    browser.tap("#programme")

    # 5. Save Report... by keyboard: the items before it, greyed ones skipped by the arrow keys.
    available = api()["available"]
    downs = 3 + sum(word in available for word in ("undo-reset", "next-talk", "previous-talk")) + 1
    kestrim.activate()
    x, y, width, height = kestrim.client_geometry()
    desktop.xdotool("mousemove", str(x + width // 3), str(y + height // 2), "click", "3")
    wait_for("the context menu", lambda: len(desktop.xdotool("search", "--onlyvisible", "--class", "kestrim",
                                                            check=False).split()) > 1)
    desktop.screenshot("menu.png")
    desktop.xdotool("key", "--delay", "80", *["Down"] * downs, "Return")
    wait_for("the file dialog to have the keys",
             lambda: desktop.active_window() in desktop.windows_of(kestrim.pid, "^Save the Report$"))
    report = os.path.join(artefacts, "report.csv")
    if os.path.exists(report):
        os.remove(report)
    desktop.xdotool("type", "--delay", "20", report)
    desktop.xdotool("key", "Return")
    wait_for("the report", lambda: os.path.exists(report) and open(report, encoding="utf-8").read().endswith("\n"))
    rows = list(csv.reader(open(report, encoding="utf-8", newline="")))
    check(rows[0][:2] == ["Talk", "Title"] and len(rows) == 5 and [r[1] for r in rows[1:4]] == list(TITLES)
          and rows[3][3].endswith(" " + coffee) and rows[4][0] == "Session", f"the report: {rows}")
    check(rows[1][4] and rows[1][6] == f"0:00:{seconds:02d}" and not rows[2][4] and rows[4][4] == rows[1][4],
          f"talk 1's actual start and length in the report: {rows}")
    return kestrim


def test(program, artefacts, _options):
    port = free_port()
    with Desktop("programme", program, artefacts) as desktop:
        home = desktop.new_config_home("programme")
        text, coffee = settings(port)
        write_conf(home, text)
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        wait_for("the server", lambda: listening(port), timeout=30)
        browser = Browser(desktop, 390, 844)
        try:
            kestrim = session(desktop, kestrim, browser, port, home, coffee, artefacts)
            check(kestrim.alive(), "the program ended")
        except Failure:
            for save in (lambda: desktop.screenshot("failure-window.png"),
                         lambda: browser.screenshot(os.path.join(artefacts, "failure-page.png"))):
                try:
                    save()
                except Exception:  # the failure itself is what the report needs
                    pass
            raise
        finally:
            browser.close()


if __name__ == "__main__":
    raise SystemExit(main(test))
