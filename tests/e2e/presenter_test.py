#!/usr/bin/env python3
"""The room: full screen, the audience window on a second monitor, unplugging it and plugging it back,
and what the store keeps of it, all through real right-clicks on a desktop with two monitors.

Needs Xorg with the dummy driver, which takes its configuration only from root: elsewhere the test
reports itself skipped (exit status 77) with the reason.
"""

import re
import sys

from desktop import MonitorDesktop, Unavailable, check, conf_path, main, read_conf, wait_for, write_conf

SKIPPED = 77
SECOND = (1280, 800)  # DUMMY1, right of DUMMY0 (1024 x 768)
AUDIENCE = "Kestrim Audience"
GREEN = (0, 255, 0)
ATTENTION = "_NET_WM_STATE_DEMANDS_ATTENTION"
YELLOW = (255, 255, 0)  # stage 2's digits, and its background while the flash swaps them
# Stage 1 ends 6 s into the talk, with the flash on.
STORE = "[Stages]\nSeconds1=6\n\n[Window]\nFlash=True\n"


def choose(desktop, kestrim, keys, shot=None):
    x, y, width, height = kestrim.client_geometry()
    desktop.xdotool("mousemove", str(x + width // 3), str(y + height // 2))
    desktop.xdotool("click", "3")
    # The menu is up once its window is mapped over the main window.
    wait_for("the context menu", lambda: len(desktop.xdotool("search", "--onlyvisible", "--class", "kestrim",
                                                            check=False).split()) > 1)
    if shot:
        desktop.screenshot(shot)
    desktop.xdotool("key", "--delay", "80", *keys)


def wait_main_window(desktop, kestrim):
    """The main window by its exact caption: "^Kestrim" alone also finds the audience window."""
    kestrim.wait_main_window()
    kestrim.window = wait_for("the main window by its caption",
                              lambda: (desktop.windows_of(kestrim.pid, "^Kestrim$") or [None])[0])


def audience_windows(desktop, kestrim):
    return desktop.windows_of(kestrim.pid, f"^{AUDIENCE}$")


def green_on(desktop, region, save_as=None, colour=GREEN):
    image = desktop.screenshot(save_as)
    x, y, width, height = region
    return image.solid_colours(x, y, width, height).get(colour, 0)


def lowest_child(desktop, window):
    """(x, y, width, height) on the screen of the lowest window inside `window`: xmessage's button."""
    out = desktop.run(["xwininfo", "-tree", "-id", str(window)]).stdout
    width, height, x, y = max((tuple(map(int, m)) for m in re.findall(r"(\d+)x(\d+)\S*\s+\+(-?\d+)\+(-?\d+)", out)),
                              key=lambda box: box[3])
    return x, y, width, height


def slides_over_stay_on_top(desktop, kestrim):
    """Another program full screen and active on the main window's screen: openbox raises it above every
    keep-above window, so the digits come back in a corner above it. Its grip drags it to another corner;
    a click anywhere else on it reaches the slides. It goes with them."""
    xmessage = desktop.spawn("xmessage", ["xmessage", "-title", "Slides", "-geometry", "400x300+200+200", "Slides"])
    slides = int(wait_for("the slides", lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Slides$",
                                                                   check=False)))
    desktop.run(["wmctrl", "-r", "Slides", "-b", "add,fullscreen"])
    desktop.run(["wmctrl", "-a", "Slides"])
    wait_for("the slides full screen and active", lambda: desktop.active_window() == slides
             and desktop.window_geometry(slides) == (0, 0, 1024, 768))
    overlay = wait_for("the read-out over the slides", lambda: desktop.windows_of(kestrim.pid, "^Kestrim Overlay$"))[0]
    x, y, width, height = desktop.window_geometry(overlay)
    # The main window is full screen: its middle is the screen's, which counts as the top right.
    check(x + width > 900 and y < 80 and height < 150, f"the read-out at {(x, y, width, height)}")
    wait_for("stage 2 digits above the slides",
             lambda: green_on(desktop, (x, y, width, height), "overlay.png", YELLOW) > 400)
    check(desktop.active_window() == slides, "the read-out took the activation")
    # The grip is its inner (left) side.
    desktop.xdotool("mousemove", str(x + 3), str(y + height // 2))
    desktop.xdotool("mousedown", "1", "mousemove", "--sync", "200", "600", "mouseup", "1")
    wait_for("the read-out dragged to the bottom left",
             lambda: (lambda x, y, *_: x < 80 and y > 600)(*desktop.window_geometry(overlay)))
    # The slides' button reaches under the digits' left end: a click there ends xmessage.
    x, y, width, height = desktop.window_geometry(overlay)
    bx, by, bwidth, bheight = lowest_child(desktop, slides)
    left, top, right, bottom = max(x, bx), max(y, by), min(x + width, bx + bwidth), min(y + height, by + bheight)
    check(left < right and top < bottom, "the read-out does not cover the slides' button")
    desktop.xdotool("mousemove", str((left + right) // 2), str((top + bottom) // 2), "click", "1")
    wait_for("the click on the read-out to reach the slides", lambda: xmessage.poll() is not None)
    wait_for("the read-out gone with the slides", lambda: not desktop.windows_of(kestrim.pid, "^Kestrim Overlay$"))


def test(program, artefacts, _options):
    try:
        desktop = MonitorDesktop("presenter", program, artefacts)
        desktop.__enter__()
    except Unavailable as reason:
        print(f"skipped: {reason}")
        raise SystemExit(SKIPPED)
    except Exception as error:  # an X server that will not start here is no fault of the program
        print(f"skipped: Xorg with the dummy driver did not start ({error})")
        raise SystemExit(SKIPPED)
    with desktop:
        desktop.plug("DUMMY1", *SECOND)
        second_screen = (1024, 0) + SECOND
        home = desktop.new_config_home("presenter")
        write_conf(home, STORE)
        kestrim = desktop.start_kestrim(home)
        wait_main_window(desktop, kestrim)
        kestrim.activate()
        normal_frame = kestrim.frame_geometry()

        # Audience Window -> DUMMY1 (entries: Off, DUMMY0, DUMMY1).
        choose(desktop, kestrim, ["Down", "Down", "Down", "Right", "Down", "Down", "Return"], shot="menu.png")
        audience = wait_for("the audience window", lambda: audience_windows(desktop, kestrim))[0]
        wait_for("the audience window to cover DUMMY1",
                 lambda: desktop.window_geometry(audience) == second_screen, timeout=10)
        check(desktop.active_window() == kestrim.window, "the audience window took the activation")
        states = kestrim.net_wm_state(audience)
        check({"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"} <= states and ATTENTION not in states,
              f"the audience window's states: {states}")
        kestrim.key("space")
        wait_for("green digits on the second monitor",
                 lambda: green_on(desktop, second_screen, "two-screens.png") > 20000)
        check(desktop.active_window() == kestrim.window, "the main window lost the keys to the audience window")
        # Stage 2 begins with its colours swapped (a yellow screen), then steady: yellow digits on black. A
        # corner of the screen, where no digit is, shows the background.
        corner = (1024 + 4, 4, 40, 40)
        wait_for("the flash on the second monitor", lambda: green_on(desktop, corner, "flash.png", YELLOW) > 1000)
        wait_for("the flash to end", lambda: all(green_on(desktop, corner, colour=(0, 0, 0)) > 1000
                                                 for _ in range(6)), timeout=10)
        # Message to Speaker..., the last item but "Share on Network..." while there is no message to clear: it
        # shows under the digits.
        choose(desktop, kestrim, ["Up", "Up", "Return"])
        wait_for("the message box", lambda: desktop.xdotool("search", "--onlyvisible", "--name", "^Message to Speaker$",
                                                           check=False).strip())
        desktop.xdotool("type", "--delay", "40", "WRAP UP")
        desktop.xdotool("key", "Return")
        band = (1024, SECOND[1] * 4 // 5, SECOND[0], SECOND[1] // 5)
        wait_for("the message under the digits", lambda: green_on(desktop, band, "message.png", YELLOW) > 3000)
        digits = green_on(desktop, (1024, 0, SECOND[0], SECOND[1] * 4 // 5), colour=YELLOW)
        check(digits > 20000, f"the digits lost their room to the message ({digits} yellow pixels above it)")

        # Unplugged, it closes; plugged in again, it comes back by itself.
        desktop.unplug("DUMMY1")
        wait_for("the audience window to close with its monitor", lambda: not audience_windows(desktop, kestrim))
        check(kestrim.alive(), "the program ended when a monitor was unplugged")
        desktop.plug("DUMMY1", *SECOND)
        back = wait_for("the audience window to come back", lambda: audience_windows(desktop, kestrim))[0]
        wait_for("the audience window to cover DUMMY1 again",
                 lambda: desktop.window_geometry(back) == second_screen, timeout=10)

        # Full Screen: the main window covers DUMMY0, without frame or bars.
        choose(desktop, kestrim, ["Down", "Return"])
        wait_for("the main window to fill DUMMY0", lambda: kestrim.client_geometry() == (0, 0, 1024, 768))
        wait_for("stage 2 digits filling the first monitor",
                 lambda: green_on(desktop, (0, 0, 1024, 768), "full-screen.png", YELLOW) > 40000)
        check("_NET_WM_STATE_FULLSCREEN" in kestrim.net_wm_state(), "the window manager was not told full screen")

        # Stay on Top.
        choose(desktop, kestrim, ["Down", "Down", "Return"])
        wait_for("the window to stay above", lambda: "_NET_WM_STATE_ABOVE" in kestrim.net_wm_state())
        slides_over_stay_on_top(desktop, kestrim)
        check(ATTENTION not in kestrim.net_wm_state(back), "the audience window demands attention")

        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 did not end the program")
        check(not audience_windows(desktop, kestrim), "the audience window outlived the program")
        window = read_conf(home).get("Window", {})
        check(window.get("FullScreen") == "True" and window.get("OnTop") == "True"
              and window.get("Audience") == "DUMMY1" and window.get("Flash") == "True"
              and window.get("OverlayCorner") == "BottomLeft", f"stored: {window}")
        stored_frame = tuple(round(float(window.get(k, "nan")) / 15) for k in ("Left", "Top", "Width", "Height"))
        check(stored_frame == normal_frame, f"full screen stored {stored_frame}, the normal window was {normal_frame}")

        # Started again it is all back; leaving full screen puts the window where the store says, framed.
        with open(conf_path(home), encoding="utf-8") as f:
            text = f.read()
        text = re.sub(r"(?m)^Left=.*$", "Left=1500", re.sub(r"(?m)^Top=.*$", "Top=1200", text))
        write_conf(home, text)
        normal_frame = (100, 80) + normal_frame[2:]
        kestrim = desktop.start_kestrim(home, log_name="kestrim-again")
        wait_main_window(desktop, kestrim)
        wait_for("full screen at start", lambda: kestrim.client_geometry() == (0, 0, 1024, 768))
        again = wait_for("the audience window at start", lambda: audience_windows(desktop, kestrim))[0]
        wait_for("the audience window on DUMMY1", lambda: desktop.window_geometry(again) == second_screen)
        check("_NET_WM_STATE_ABOVE" in kestrim.net_wm_state(), "stay on top was not restored")
        kestrim.activate()
        desktop.xdotool("mousemove", "300", "380")
        desktop.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        wait_for("the window framed again", lambda: kestrim.frame_extents() not in (None, (0, 0, 0, 0)))
        wait_for(f"the window back at {normal_frame}", lambda: kestrim.frame_geometry() == normal_frame
                 or (kestrim.frame_geometry(), kestrim.net_wm_state()) and False)
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 did not end the program")
        check(read_conf(home)["Window"].get("FullScreen") == "False", "leaving full screen was not stored")


if __name__ == "__main__":
    sys.exit(main(test))
